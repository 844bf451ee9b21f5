#include "DevStore.h"

#include "DevContent.h"

#include "support/JsonDates.h"
#include "support/JsonRead.h"
#include "support/Uuid.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QSaveFile>

namespace pendrel::dev {

using L = QLatin1StringView;

DevStore::DevStore(QString dataFolder)
{
    if (!dataFolder.isEmpty()) {
        QDir().mkpath(dataFolder);
        dataFile_ = QDir(dataFolder).filePath(QStringLiteral("devservice-state.json"));
        load();
    }
    if (accounts_.isEmpty())
        seed();
}

void DevStore::seed()
{
    accounts_ = {Account{QStringLiteral("user-demo"), QString::fromLatin1(demoEmail),
                         QString::fromLatin1(demoPassword), QStringLiteral("tenant-demo")}};
    tenants_ = {{QStringLiteral("tenant-demo"),
                 Tenant{QStringLiteral("tenant-demo"), QStringLiteral("Demo Workspace"), 500,
                        QStringLiteral("pro")}}};
}

const Account *DevStore::accountByEmail(const QString &email) const
{
    for (const Account &a : accounts_) {
        if (a.email.compare(email, Qt::CaseInsensitive) == 0)
            return &a;
    }
    return nullptr;
}

const Account *DevStore::accountByID(const QString &userID) const
{
    for (const Account &a : accounts_) {
        if (a.userID == userID)
            return &a;
    }
    return nullptr;
}

const Account *DevStore::createAccount(const QString &email, const QString &password)
{
    if (accountByEmail(email))
        return nullptr;
    const QString n = QString::number(accounts_.size() + 1);
    const Account account{QStringLiteral("user-") + n, email, password, QStringLiteral("tenant-") + n};
    tenants_.insert(account.tenantID,
                    Tenant{account.tenantID, email.section(u'@', 0, 0) + QStringLiteral("'s Workspace"), 500,
                           QStringLiteral("free")});
    accounts_.append(account);
    save();
    return &accounts_.last();
}

Tenant *DevStore::tenant(const QString &id)
{
    const auto it = tenants_.find(id);
    return it == tenants_.end() ? nullptr : &*it;
}

QString DevStore::issueToken(const QString &userID, qint64 lifetimeSeconds, QDateTime &expiresAt)
{
    const QString token = QStringLiteral("dev-") + uuidString(QUuid::createUuid()).toLower();
    expiresAt = QDateTime::currentDateTimeUtc().addSecs(lifetimeSeconds);
    tokens_.insert(token, Token{userID, expiresAt});
    return token;
}

DevStore::TokenState DevStore::checkToken(const QString &token, QString &userID) const
{
    const auto it = tokens_.constFind(token);
    if (it == tokens_.constEnd())
        return TokenState::unknown;
    if (it->expiresAt <= QDateTime::currentDateTimeUtc())
        return TokenState::expired;
    userID = it->userID;
    return TokenState::valid;
}

void DevStore::addArticle(const Article &article)
{
    articles.append(article);
    save();
}

Article *DevStore::article(const QString &tenantID, const QString &id)
{
    for (Article &a : articles) {
        if (a.tenantID == tenantID && a.id == id)
            return &a;
    }
    return nullptr;
}

const Article *DevStore::articleBySlug(const QString &slug) const
{
    for (const Article &a : articles) {
        if (a.slug == slug)
            return &a;
    }
    return nullptr;
}

QString DevStore::uniqueSlug(const QString &title) const
{
    static const QRegularExpression nonWord(QStringLiteral("[^a-z0-9]+"));
    QString base = content::wellFormed(title).toLower().normalized(QString::NormalizationForm_KD);
    base.replace(nonWord, QStringLiteral("-"));
    while (base.startsWith(u'-'))
        base.remove(0, 1);
    while (base.endsWith(u'-'))
        base.chop(1);
    if (base.isEmpty())
        base = QStringLiteral("article");
    base.truncate(60);
    QString slug = base;
    for (int n = 2; articleBySlug(slug); ++n)
        slug = base + u'-' + QString::number(n);
    return slug;
}

// --- The data file: plain JSON, read strictly, written whole.

void DevStore::save() const
{
    if (dataFile_.isEmpty())
        return;
    const JsonDates dates = JsonDates::iso8601();
    QJsonArray accounts;
    for (const Account &a : accounts_)
        accounts.append(QJsonObject{{L("userID"), a.userID},
                                    {L("email"), a.email},
                                    {L("password"), a.password},
                                    {L("tenantID"), a.tenantID}});
    QJsonArray tenants;
    for (const Tenant &t : tenants_)
        tenants.append(QJsonObject{
            {L("id"), t.id}, {L("name"), t.name}, {L("balance"), t.balance}, {L("plan"), t.plan}});
    QJsonArray articleList;
    for (const Article &a : articles)
        articleList.append(QJsonObject{{L("id"), a.id},
                                       {L("tenantID"), a.tenantID},
                                       {L("title"), a.title},
                                       {L("slug"), a.slug},
                                       {L("language"), a.language},
                                       {L("content"), a.content},
                                       {L("savedAt"), dates.encode(a.savedAt)}});
    QJsonArray postList;
    for (const Post &p : posts)
        postList.append(QJsonObject{{L("id"), p.id},
                                    {L("articleID"), p.articleID},
                                    {L("accountID"), p.accountID},
                                    {L("platform"), p.platform},
                                    {L("via"), p.via},
                                    {L("postedAt"), dates.encode(p.postedAt)}});
    QSaveFile file(dataFile_);
    if (!file.open(QIODevice::WriteOnly)) {
        qWarning("devservice: cannot write %s", qPrintable(dataFile_));
        return;
    }
    file.write(QJsonDocument(QJsonObject{{L("accounts"), accounts},
                                         {L("tenants"), tenants},
                                         {L("articles"), articleList},
                                         {L("posts"), postList}})
                   .toJson());
    file.commit();
}

void DevStore::load()
{
    QFile file(dataFile_);
    if (!file.open(QIODevice::ReadOnly))
        return;
    const JsonDates dates = JsonDates::iso8601();
    try {
        const json::ObjectReader root(json::parseDocument(file.readAll()), dates);
        for (const QJsonValue &v : root.object().value(L("accounts")).toArray()) {
            const json::ObjectReader r(v, dates);
            accounts_.append(Account{r.requireString(L("userID")), r.requireString(L("email")),
                                     r.requireString(L("password")), r.requireString(L("tenantID"))});
        }
        for (const QJsonValue &v : root.object().value(L("tenants")).toArray()) {
            const json::ObjectReader r(v, dates);
            const Tenant t{r.requireString(L("id")), r.requireString(L("name")), r.requireInt(L("balance")),
                           r.requireString(L("plan"))};
            tenants_.insert(t.id, t);
        }
        for (const QJsonValue &v : root.object().value(L("articles")).toArray()) {
            const json::ObjectReader r(v, dates);
            articles.append(Article{r.requireString(L("id")), r.requireString(L("tenantID")),
                                    r.requireString(L("title")), r.requireString(L("slug")),
                                    r.requireString(L("language")), r.requireString(L("content")),
                                    r.requireDate(L("savedAt"))});
        }
        for (const QJsonValue &v : root.object().value(L("posts")).toArray()) {
            const json::ObjectReader r(v, dates);
            posts.append(Post{r.requireString(L("id")), r.requireString(L("articleID")),
                              r.requireString(L("accountID")), r.requireString(L("platform")),
                              r.requireString(L("via")), r.requireDate(L("postedAt"))});
        }
    } catch (const DecodingError &e) {
        qWarning("devservice: ignoring unreadable %s: %s", qPrintable(dataFile_),
                 qPrintable(e.description()));
        accounts_.clear();
        tenants_.clear();
        articles.clear();
        posts.clear();
    }
}

} // namespace pendrel::dev
