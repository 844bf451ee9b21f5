#pragma once

#include <QDateTime>
#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QString>

#include <optional>

namespace pendrel::dev {

struct Account {
    QString userID;
    QString email;
    QString password;
    QString tenantID;
};

struct Tenant {
    QString id;
    QString name;
    qint64 balance = 0;
    QString plan;
};

struct Article {
    QString id;
    QString tenantID;
    QString title;
    QString slug;
    QString language;
    QString content;
    QDateTime savedAt;
};

// One post on a social account, from an adaptation, a direct publish or the shop.
struct Post {
    QString id;
    QString articleID;
    QString accountID;
    QString platform;
    QString via; // "adaptation", "direct" or "shop"
    QDateTime postedAt;
};

struct Adaptation {
    QString id;
    QString articleID;
    QString platform;
};

// A browser sign-in waiting for the person to finish in the browser.
struct BrowserSession {
    QString id;
    QString pollToken;
    QString mode; // "signin" or "signup"
    std::optional<QString> provider;
    QDateTime createdAt;
    std::optional<QString> completedUserID; // set when the person finished
};

// Everything the local service knows. In memory; with a data folder, the
// accounts, tenants, articles and posts survive restarts (tokens and
// browser sessions do not).
class DevStore {
public:
    static constexpr auto demoEmail = "demo@pendrel.test";
    static constexpr auto demoPassword = "demo";

    explicit DevStore(QString dataFolder = {});

    // The seeded demo account with its tenant, when nothing was loaded.
    void seed();
    void save() const;

    [[nodiscard]] const Account *accountByEmail(const QString &email) const;
    [[nodiscard]] const Account *accountByID(const QString &userID) const;
    // A new account with its own tenant; nothing when the address is taken.
    const Account *createAccount(const QString &email, const QString &password);

    [[nodiscard]] Tenant *tenant(const QString &id);

    // Access tokens: who holds it, until when.
    QString issueToken(const QString &userID, qint64 lifetimeSeconds, QDateTime &expiresAt);
    enum class TokenState { valid, unknown, expired };
    [[nodiscard]] TokenState checkToken(const QString &token, QString &userID) const;

    QHash<QString, BrowserSession> browserSessions;
    QList<Article> articles;
    QList<Post> posts;
    QHash<QString, Adaptation> adaptations;

    void addArticle(const Article &article);
    [[nodiscard]] Article *article(const QString &tenantID, const QString &id);
    [[nodiscard]] const Article *articleBySlug(const QString &slug) const;
    // A slug for the title not yet used by another article.
    [[nodiscard]] QString uniqueSlug(const QString &title) const;

private:
    QString dataFile_;
    QList<Account> accounts_;
    QHash<QString, Tenant> tenants_;
    struct Token {
        QString userID;
        QDateTime expiresAt;
    };
    QHash<QString, Token> tokens_;

    void load();
};

} // namespace pendrel::dev
