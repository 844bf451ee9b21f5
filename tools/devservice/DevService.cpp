#include "DevService.h"

#include "DevContent.h"
#include "HttpServerBits.h"

#include "model/CostEstimator.h"
#include "support/JsonRead.h"
#include "support/Tasks.h"
#include "support/Text.h"
#include "support/Uuid.h"

#include <QCoroNetworkReply>
#include <QCoroTimer>
#include <QElapsedTimer>
#include <QHttpServerResponder>
#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkReply>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrlQuery>

#include <cstdio>

namespace pendrel::dev {

using L = QLatin1StringView;

namespace {

constexpr int kBrowserSessionSeconds = 300;
constexpr qint64 kExtractLimitBytes = 2 << 20;
constexpr int kExtractTimeoutMs = 10000;

const JsonDates &dates()
{
    static const JsonDates d = JsonDates::iso8601();
    return d;
}

// A request the service cannot read: answered 400 with the reason.
class BadRequest : public std::runtime_error {
public:
    explicit BadRequest(const QString &why) : std::runtime_error(why.toStdString()) {}
};

QString newID(const char *prefix)
{
    return QString::fromLatin1(prefix) + u'-' + uuidString(QUuid::createUuid()).left(8).toLower();
}

// The same answer with every top-level member of another type: strings
// become numbers, numbers and Booleans strings, arrays objects and objects
// arrays. A body that is not an object becomes a bare number.
QByteArray withWrongTypes(const QByteArray &body)
{
    const QJsonDocument document = QJsonDocument::fromJson(body);
    if (!document.isObject())
        return QByteArrayLiteral("42");
    QJsonObject object = document.object();
    for (auto it = object.begin(); it != object.end(); ++it) {
        const QJsonValue v = it.value();
        if (v.isString())
            it.value() = 7;
        else if (v.isDouble() || v.isBool())
            it.value() = QStringLiteral("7");
        else if (v.isArray())
            it.value() = QJsonObject{};
        else if (v.isObject())
            it.value() = QJsonArray{};
        else
            it.value() = QJsonArray{};
    }
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

} // namespace

Reply Reply::json(int status, const QJsonObject &object)
{
    return Reply{status, QJsonDocument(object).toJson(QJsonDocument::Compact), "application/json", {}};
}

Reply Reply::error(int status, const QString &message, const QString &code)
{
    QJsonObject body{{L("error"), message}};
    if (!code.isEmpty())
        body.insert(L("code"), code);
    return json(status, body);
}

Reply Reply::html(int status, const QString &page)
{
    return Reply{status, page.toUtf8(), "text/html; charset=utf-8", {}};
}

struct DevService::Call {
    QByteArray method;
    QString path;
    QUrlQuery query;
    QList<QPair<QByteArray, QByteArray>> headers;
    QByteArray body;
    const Account *account = nullptr; // the bearer's account, for /api

    [[nodiscard]] QByteArray header(const QByteArray &name) const
    {
        for (const auto &[n, v] : headers) {
            if (n.compare(name, Qt::CaseInsensitive) == 0)
                return v;
        }
        return {};
    }
    [[nodiscard]] QString bearer() const
    {
        const QByteArray value = header("Authorization");
        return value.startsWith("Bearer ") ? QString::fromUtf8(value.mid(7)) : QString();
    }
    // The JSON body as an object, strictly; a BadRequest when it is not one.
    [[nodiscard]] QJsonObject object() const
    {
        try {
            return json::readObject(json::parseDocument(body));
        } catch (const DecodingError &e) {
            throw BadRequest(QStringLiteral("Request body: ") + e.description());
        }
    }
    template <class F>
    auto read(F &&f) const
    {
        try {
            const json::ObjectReader r(object(), dates());
            return f(r);
        } catch (const DecodingError &e) {
            throw BadRequest(QStringLiteral("Request body: ") + e.description());
        }
    }
    // Form fields of a browser form post, or the query.
    [[nodiscard]] QString field(const QString &name) const
    {
        if (query.hasQueryItem(name))
            return query.queryItemValue(name, QUrl::FullyDecoded);
        QUrlQuery form(QString::fromUtf8(body).replace(u'+', u' '));
        return form.queryItemValue(name, QUrl::FullyDecoded);
    }
};

DevService::DevService(DevOptions options) : options_(std::move(options)), store_(options_.dataFolder)
{
}

bool DevService::start()
{
    auto *server = new QTcpServer(this);
    if (!server->listen(QHostAddress::LocalHost, options_.port)) {
        delete server;
        return false;
    }
    bind(server);
    port_ = server->serverPort();
    return true;
}

QString DevService::origin() const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(port_);
}

bool DevService::handleRequest(const QHttpServerRequest &request, QTcpSocket *socket)
{
    startServing(request, socket);
    return true;
}

void DevService::missingHandler(const QHttpServerRequest &request, QTcpSocket *socket)
{
    write(request, socket, Reply::error(404, QStringLiteral("Not found")));
}

void DevService::startServing(const QHttpServerRequest &request, QTcpSocket *socket)
{
    auto call = std::make_shared<Call>();
    call->method = http::methodName(request.method());
    call->path = request.url().path();
    call->query = QUrlQuery(request.url());
    call->headers = request.headers();
    call->body = request.body();
    auto responder = std::make_shared<QHttpServerResponder>(makeResponder(request, socket));
    // Served as a task of its own: extraction and latency wait without
    // holding up other connections.
    startDetached(serve(call, responder, QPointer<QTcpSocket>(socket)), QStringLiteral("Request"));
}

QCoro::Task<void> DevService::serve(std::shared_ptr<Call> call,
                                    std::shared_ptr<QHttpServerResponder> responder,
                                    QPointer<QTcpSocket> guard)
{
    QElapsedTimer clock;
    clock.start();
    if (dropped_.contains(call->path)) {
        if (guard)
            guard->abort();
        log(*call, 0, clock.elapsed());
        co_return;
    }
    if (options_.latencyMs > 0 && call->path.startsWith(QStringLiteral("/api/"))) {
        QTimer wait;
        wait.setSingleShot(true);
        wait.start(options_.latencyMs);
        co_await wait;
    }
    const std::optional<FaultKind> fault = takeFault(call->path);
    if (fault == FaultKind::stall) {
        stalled_.append(guard);
        log(*call, 0, clock.elapsed());
        co_return;
    }
    Reply reply;
    if (fault == FaultKind::malformed) {
        reply = Reply{200, QByteArrayLiteral("{\"success\": true, \"content\": \"cut off"), "application/json", {}};
    } else if (fault == FaultKind::serverError) {
        reply = Reply::error(502, QStringLiteral("Bad gateway"));
    } else {
        try {
            reply = co_await dispatch(*call);
        } catch (const BadRequest &e) {
            reply = Reply::error(400, QString::fromStdString(e.what()));
        }
        if (fault == FaultKind::wrongTypes)
            reply.body = withWrongTypes(reply.body);
    }
    if (fault == FaultKind::lostAnswer) {
        // Done, but the connection breaks before the answer leaves.
        if (guard)
            guard->abort();
        log(*call, 0, clock.elapsed());
        co_return;
    }
    log(*call, reply.status, clock.elapsed());
    if (!guard || guard->state() != QAbstractSocket::ConnectedState)
        co_return;
    if (fault == FaultKind::slow)
        writeSlowly(guard, reply);
    else
        http::writeReply(*responder, reply.status, reply.contentType, reply.headers, reply.body);
}

std::optional<DevService::FaultKind> DevService::takeFault(const QString &path)
{
    auto it = faults_.find(path);
    if (it == faults_.end())
        return std::nullopt;
    const FaultKind kind = it->kind;
    if (it->remaining > 0 && --it->remaining == 0)
        faults_.erase(it);
    return kind;
}

// The answer in small pieces with pauses between them, on a connection
// that closes afterwards: a slow network, not a stalled one.
void DevService::writeSlowly(QPointer<QTcpSocket> socket, const Reply &reply)
{
    QByteArray head = "HTTP/1.1 " + QByteArray::number(reply.status) + " Slow\r\nContent-Type: "
                      + reply.contentType + "\r\nContent-Length: " + QByteArray::number(reply.body.size())
                      + "\r\nConnection: close\r\n";
    for (const auto &[name, value] : reply.headers)
        head += name + ": " + value + "\r\n";
    socket->write(head + "\r\n");
    constexpr int pieces = 8;
    const qsizetype step = std::max<qsizetype>(1, (reply.body.size() + pieces - 1) / pieces);
    auto *timer = new QTimer(socket);
    timer->setInterval(150);
    auto offset = std::make_shared<qsizetype>(0);
    QObject::connect(timer, &QTimer::timeout, socket, [socket, timer, offset, step, body = reply.body] {
        if (!socket)
            return;
        socket->write(body.mid(*offset, step));
        *offset += step;
        if (*offset >= body.size()) {
            timer->stop();
            socket->disconnectFromHost();
        }
    });
    timer->start();
}

void DevService::log(const Call &call, int status, qint64 ms)
{
    std::fprintf(stdout, "%s %s %s %lldms\n", call.method.constData(), qPrintable(call.path),
                 status ? qPrintable(QString::number(status)) : "dropped", qlonglong(ms));
    std::fflush(stdout);
}

void DevService::write(const QHttpServerRequest &request, QTcpSocket *socket, const Reply &reply)
{
    QHttpServerResponder responder = makeResponder(request, socket);
    http::writeReply(responder, reply.status, reply.contentType, reply.headers, reply.body);
}

QCoro::Task<Reply> DevService::dispatch(Call &call)
{
    const QString &path = call.path;
    const bool get = call.method == "GET";
    const bool post = call.method == "POST";

    if (const auto failure = options_.failures.constFind(path); failure != options_.failures.constEnd())
        co_return Reply::error(*failure, QStringLiteral("Injected failure"), QStringLiteral("INJECTED"));

    // Pages and controls, no token.
    if (path.startsWith(QStringLiteral("/_dev/")))
        co_return control(call, path.mid(6));
    if (get && path == u"/macos/appcast.xml")
        co_return appcast();
    if (get && path.startsWith(QStringLiteral("/releases/")))
        co_return release(path.mid(10));
    if (get && path.startsWith(QStringLiteral("/samples/"))) {
        const QString page = content::samplePage(path.mid(9));
        co_return page.isEmpty() ? Reply::error(404, QStringLiteral("No such sample"))
                                 : Reply::html(200, page);
    }
    if (get && path.startsWith(QStringLiteral("/media/"))) {
        const QStringList parts = path.mid(7).split(u'/');
        if (parts.size() == 2 && parts[1].endsWith(QStringLiteral(".svg")))
            co_return Reply{
                200, content::illustrationSVG(parts[0], parts[1].chopped(4).toInt()), "image/svg+xml", {}};
        co_return Reply::error(404, QStringLiteral("No such image"));
    }
    if (get && path.startsWith(QStringLiteral("/blog/"))) {
        const Article *article = store_.articleBySlug(path.mid(6));
        co_return article ? Reply::html(200, content::articlePage(article->title, article->content))
                          : Reply::html(404, QStringLiteral("<h1>No such article</h1>"));
    }
    if (path.startsWith(QStringLiteral("/dashboard/")))
        co_return dashboard(call, path.mid(11));
    if (path.startsWith(QStringLiteral("/auth/native/"))) {
        const QStringList parts = path.mid(13).split(u'/');
        if (parts.size() == 1 && get)
            co_return browserPage(call, parts[0]);
        if (parts.size() == 2 && parts[1] == u"complete")
            co_return completeBrowserSession(call, parts[0]);
        co_return Reply::error(404, QStringLiteral("Not found"));
    }

    // Identity, no bearer token.
    if (post && path == u"/api/auth/signin")
        co_return signIn(call);
    if (post && path == u"/api/auth/native/session")
        co_return startBrowserSession(call);
    if (get && path.startsWith(QStringLiteral("/api/auth/native/session/")))
        co_return pollBrowserSession(call, path.mid(25));

    if (!path.startsWith(QStringLiteral("/api/")))
        co_return Reply::error(404, QStringLiteral("Not found"));
    QString userID;
    switch (store_.checkToken(call.bearer(), userID)) {
    case DevStore::TokenState::unknown:
        co_return Reply::error(401, QStringLiteral("Unauthorized"), QStringLiteral("UNAUTHENTICATED"));
    case DevStore::TokenState::expired:
        co_return Reply::error(401, QStringLiteral("Session expired"), QStringLiteral("UNAUTHENTICATED"));
    case DevStore::TokenState::valid:
        break;
    }
    call.account = store_.accountByID(userID);
    if (!call.account)
        co_return Reply::error(401, QStringLiteral("Unauthorized"), QStringLiteral("UNAUTHENTICATED"));
    // Every request names the caller's own tenant, in the query or the body.
    const QString queryTenant = call.query.queryItemValue(QStringLiteral("tenantId"));
    const QString bodyTenant = post ? call.object().value(L("tenantId")).toString() : QString();
    if ((!queryTenant.isEmpty() && queryTenant != call.account->tenantID)
        || (!bodyTenant.isEmpty() && bodyTenant != call.account->tenantID))
        co_return Reply::error(403, QStringLiteral("Unknown tenant"), QStringLiteral("FORBIDDEN"));

    if (get) {
        if (path == u"/api/tenants")
            co_return tenants(call);
        if (path == u"/api/domains")
            co_return domains(call);
        if (path == u"/api/internal-links/presets")
            co_return presets(call);
        if (path == u"/api/tenant-settings")
            co_return tenantSettings(call);
        if (path == u"/api/ai-insights/favorites")
            co_return favorites(call);
        if (path == u"/api/social-accounts")
            co_return socialAccounts(call);
    }
    if (post) {
        if (path == u"/api/documents/extract-text")
            co_return co_await extract(call);
        if (path == u"/api/blog/admin/analyze")
            co_return analyze(call);
        if (path == u"/api/blog/admin/transform")
            co_return transform(call);
        if (path == u"/api/blog/illustrations/generate")
            co_return illustrations(call);
        if (path == u"/api/blog/humanize")
            co_return humanize(call);
        if (path == u"/api/blog/save")
            co_return save(call);
        if (path == u"/api/blog/voice-over/generate")
            co_return voiceover(call);
        if (path == u"/api/blog/social-adaptations")
            co_return adaptation(call);
        if (path == u"/api/blog/social-adaptations/publish")
            co_return publish(call);
        if (path == u"/api/integrations/shopify/publish")
            co_return shopPublish(call);
    }
    co_return Reply::error(404, QStringLiteral("Not found"));
}

std::optional<Reply> DevService::charge(Call &call, qint64 credits)
{
    Tenant *tenant = store_.tenant(call.account->tenantID);
    if (!tenant || tenant->balance < credits)
        return Reply::error(402, QStringLiteral("Not enough credits"),
                            QStringLiteral("INSUFFICIENT_CREDITS"));
    tenant->balance -= credits;
    store_.save();
    return std::nullopt;
}

// --- Identity

namespace {

QJsonObject sessionObject(const QString &token, const QDateTime &expiresAt)
{
    return QJsonObject{{L("access_token"), token},
                       {L("refresh_token"), QStringLiteral("refresh-") + token},
                       {L("expires_at"), double(expiresAt.toSecsSinceEpoch())}};
}

QJsonObject userObject(const Account &account)
{
    return QJsonObject{{L("id"), account.userID}, {L("email"), account.email}};
}

} // namespace

Reply DevService::signIn(Call &call)
{
    const auto [email, password] = call.read([](const json::ObjectReader &r) {
        return std::pair{r.requireString(L("email")), r.requireString(L("password"))};
    });
    const Account *account = store_.accountByEmail(email);
    if (!account || account->password != password)
        return Reply::error(401, QStringLiteral("Invalid email or password"));
    QDateTime expiresAt;
    const QString token = store_.issueToken(account->userID, options_.tokenLifetimeSeconds, expiresAt);
    return Reply::json(200, QJsonObject{{L("message"), QStringLiteral("Signed in")},
                                        {L("user"), userObject(*account)},
                                        {L("session"), sessionObject(token, expiresAt)}});
}

Reply DevService::startBrowserSession(Call &call)
{
    BrowserSession session;
    call.read([&](const json::ObjectReader &r) {
        session.mode = r.requireString(L("mode"));
        session.provider = r.optionalString(L("provider"));
        return 0;
    });
    if (session.mode != u"signin" && session.mode != u"signup")
        throw BadRequest(QStringLiteral("mode must be signin or signup"));
    session.id = newID("auth");
    session.pollToken = uuidString(QUuid::createUuid());
    session.createdAt = QDateTime::currentDateTimeUtc();
    store_.browserSessions.insert(session.id, session);
    return Reply::json(200,
                       QJsonObject{{L("sessionId"), session.id},
                                   {L("pollToken"), session.pollToken},
                                   {L("mode"), session.mode},
                                   {L("authUrl"), origin() + QStringLiteral("/auth/native/") + session.id}});
}

Reply DevService::pollBrowserSession(Call &call, const QString &id)
{
    const auto it = store_.browserSessions.constFind(id);
    if (it == store_.browserSessions.constEnd())
        return Reply::json(404, QJsonObject{{L("status"), QStringLiteral("expired")}});
    if (call.bearer() != it->pollToken)
        return Reply::error(401, QStringLiteral("Invalid poll token"));
    if (it->createdAt.secsTo(QDateTime::currentDateTimeUtc()) >= kBrowserSessionSeconds)
        return Reply::json(200, QJsonObject{{L("status"), QStringLiteral("expired")}, {L("mode"), it->mode}});
    if (!it->completedUserID)
        return Reply::json(200, QJsonObject{{L("status"), QStringLiteral("pending")}, {L("mode"), it->mode}});
    const BrowserSession session = *it;
    // Handed over once; the session is done.
    store_.browserSessions.remove(id);
    const Account *account = store_.accountByID(*session.completedUserID);
    QDateTime expiresAt;
    const QString token = store_.issueToken(account->userID, options_.tokenLifetimeSeconds, expiresAt);
    return Reply::json(200, QJsonObject{{L("status"), QStringLiteral("completed")},
                                        {L("mode"), session.mode},
                                        {L("user"), userObject(*account)},
                                        {L("session"), sessionObject(token, expiresAt)}});
}

Reply DevService::browserPage(Call &, const QString &id)
{
    const auto it = store_.browserSessions.constFind(id);
    if (it == store_.browserSessions.constEnd())
        return Reply::html(404, QStringLiteral("<h1>This sign-in link has expired.</h1>"));
    const QString action =
        QStringLiteral("/auth/native/") + content::escape(id) + QStringLiteral("/complete");
    const bool signup = it->mode == u"signup";
    QString tiles;
    for (const char *provider : {"apple", "google", "github", "linkedin_oidc", "facebook"})
        tiles += QStringLiteral("<a class=\"tile\" href=\"%1?provider=%2\">Continue with %2</a> ")
                     .arg(action, QString::fromLatin1(provider));
    const QString form =
        QStringLiteral("<form method=\"post\" action=\"%1\"><p><label>E-mail <input name=\"email\" "
                       "value=\"%2\"></label></p>"
                       "<p><label>Password <input name=\"password\" type=\"password\"></label></p>"
                       "<p><button type=\"submit\">%3</button></p></form>")
            .arg(action, signup ? QString() : QString::fromLatin1(DevStore::demoEmail),
                 signup ? QStringLiteral("Create account") : QStringLiteral("Sign in"));
    return Reply::html(
        200,
        QStringLiteral(
            "<!doctype html><html><head><meta charset=\"utf-8\"><title>Pendrel sign-in</title>"
            "<style>body{font-family:sans-serif;max-width:30em;margin:3em auto}.tile{display:inline-block;"
            "padding:.4em .8em;border:1px solid #888;border-radius:6px;margin:.2em}</style></head><body>"
            "<h1>%1</h1>%2<p>Or: %3</p><p><small>Local development service. The demo account is "
            "demo@pendrel.test with the password demo.</small></p></body></html>")
            .arg(signup ? QStringLiteral("Create your Pendrel account")
                        : QStringLiteral("Sign in to Pendrel"),
                 form, tiles));
}

Reply DevService::completeBrowserSession(Call &call, const QString &id)
{
    const auto it = store_.browserSessions.find(id);
    if (it == store_.browserSessions.end())
        return Reply::html(404, QStringLiteral("<h1>This sign-in link has expired.</h1>"));
    const QString provider = call.field(QStringLiteral("provider"));
    const QString email = call.field(QStringLiteral("email"));
    const QString password = call.field(QStringLiteral("password"));
    const Account *account = nullptr;
    if (!provider.isEmpty()) {
        // A provider sign-in: the provider vouches for an account of its own.
        const QString providerEmail = provider + QStringLiteral("-user@pendrel.test");
        account = store_.accountByEmail(providerEmail);
        if (!account)
            account = store_.createAccount(providerEmail, uuidString(QUuid::createUuid()));
    } else if (it->mode == u"signup") {
        if (email.isEmpty() || password.isEmpty())
            return Reply::html(400, QStringLiteral("<h1>Enter an e-mail address and a password.</h1>"));
        account = store_.createAccount(email, password);
        if (!account)
            return Reply::html(409, QStringLiteral("<h1>That address already has an account.</h1>"));
    } else {
        account = store_.accountByEmail(email);
        if (!account || account->password != password)
            return Reply::html(401,
                               QStringLiteral("<h1>Invalid email or password.</h1><p><a href=\"/auth/native/")
                                   + content::escape(id) + QStringLiteral("\">Try again</a></p>"));
    }
    it->completedUserID = account->userID;
    return Reply::html(200,
                       QStringLiteral("<h1>You're signed in.</h1><p>You can close this tab and return to "
                                      "Pendrel Publisher.</p>"));
}

// --- Workspace

Reply DevService::tenants(Call &call)
{
    const Tenant *t = store_.tenant(call.account->tenantID);
    return Reply::json(200,
                       QJsonObject{{L("tenants"), QJsonArray{QJsonObject{{L("id"), t->id},
                                                                         {L("name"), t->name},
                                                                         {L("balance_credits"), t->balance},
                                                                         {L("plan_type"), t->plan}}}}});
}

Reply DevService::domains(Call &)
{
    // The service itself is the custom domain, so article links open here.
    return Reply::json(200, QJsonObject{{L("status"), QStringLiteral("active")}, {L("domain"), origin()}});
}

Reply DevService::presets(Call &call)
{
    const QString language = call.query.queryItemValue(QStringLiteral("language"));
    return Reply::json(
        200,
        QJsonObject{{L("presets"),
                     QJsonArray{QJsonObject{{L("id"), QStringLiteral("preset-docs")},
                                            {L("name"), QStringLiteral("Documentation (%1)").arg(language)}},
                                QJsonObject{{L("id"), QStringLiteral("preset-blog")},
                                            {L("name"), QStringLiteral("Blog archive")}},
                                QJsonObject{{L("id"), QStringLiteral("preset-unnamed")}}}}});
}

Reply DevService::tenantSettings(Call &)
{
    return Reply::json(
        200,
        QJsonObject{
            {L("settings"),
             QJsonObject{
                 {L("seo"),
                  QJsonObject{{L("authors"),
                               QJsonArray{QJsonObject{{L("id"), QStringLiteral("author-ada")},
                                                      {L("name"), QStringLiteral("Ada Lovelace")}},
                                          QJsonObject{{L("id"), QStringLiteral("author-grace")},
                                                      {L("name"), QStringLiteral("Grace Hopper")}}}}}}}}});
}

Reply DevService::favorites(Call &)
{
    return Reply::json(
        200, QJsonObject{{L("favorites"),
                          QJsonArray{QJsonObject{{L("id"), QStringLiteral("fav-1")},
                                                 {L("domain"), QStringLiteral("example.com")}},
                                     QJsonObject{{L("id"), QStringLiteral("fav-2")},
                                                 {L("domain"), QStringLiteral("news.example.org")}}}}});
}

Reply DevService::socialAccounts(Call &)
{
    const auto account = [](const char *id, const char *platform, const char *accountID, const char *name,
                            bool active, const QJsonObject &metadata) {
        QJsonObject o{{L("id"), QString::fromLatin1(id)},
                      {L("platform"), QString::fromLatin1(platform)},
                      {L("account_id"), QString::fromLatin1(accountID)},
                      {L("is_active"), active}};
        if (name)
            o.insert(L("account_name"), QString::fromUtf8(name));
        if (!metadata.isEmpty())
            o.insert(L("metadata"), metadata);
        return o;
    };
    return Reply::json(
        200, QJsonObject{
                 {L("accounts"),
                  QJsonArray{
                      account("acct-linkedin", "linkedin", "li-1001", "Demo Company Page", true, {}),
                      account("acct-reddit", "reddit", "rd-2002", "u/pendrel-demo", true, {}),
                      account("acct-shopify", "shopify_blog", "sh-3003", "Demo Shop", true,
                              QJsonObject{{L("selectedBlogId"), 7},
                                          {L("selectedBlogTitle"), QStringLiteral("News")},
                                          {L("myshopifyDomain"), QStringLiteral("demo-shop.myshopify.com")}}),
                      account("acct-x", "x_article", "x-4004", nullptr, true, {}),
                      account("acct-facebook-old", "facebook", "fb-5005", "Old Page", false, {}),
                      account("acct-mastodon", "mastodon", "ma-6006", "Not supported", true, {})}}});
}

// --- Pipeline

QCoro::Task<Reply> DevService::extract(Call &call)
{
    const QStringList urls =
        call.read([](const json::ObjectReader &r) { return r.requireStringArray(L("sourceUrls")); });
    if (urls.size() != 1)
        co_return Reply::error(400, QStringLiteral("sourceUrls must hold one address"));
    const QUrl url(urls.first(), QUrl::StrictMode);
    if (!url.isValid() || (url.scheme() != u"http" && url.scheme() != u"https"))
        co_return Reply::error(422, QStringLiteral("Only http and https addresses can be extracted"),
                               QStringLiteral("UNSUPPORTED_URL"));
    if (auto refused = charge(call, CostEstimator::extractCredits()))
        co_return *refused;
    QNetworkRequest request(url);
    request.setTransferTimeout(kExtractTimeoutMs);
    request.setMaximumRedirectsAllowed(5);
    QNetworkReply *reply = network_.get(request);
    const std::unique_ptr<QNetworkReply, void (*)(QNetworkReply *)> owned(
        reply, [](QNetworkReply *r) { r->deleteLater(); });
    QObject::connect(reply, &QNetworkReply::downloadProgress, reply, [reply](qint64 received, qint64) {
        if (received > kExtractLimitBytes)
            reply->abort();
    });
    co_await reply;
    if (reply->error() != QNetworkReply::NoError)
        co_return Reply::error(
            422, QStringLiteral("Could not fetch %1: %2").arg(url.toString(), reply->errorString()),
            QStringLiteral("EXTRACT_FAILED"));
    const QString html = QString::fromUtf8(reply->readAll());
    co_return Reply::json(200, QJsonObject{{L("text"), content::htmlToText(html)}});
}

namespace {

QString requireText(const json::ObjectReader &r, QLatin1StringView key)
{
    return r.requireString(key);
}

} // namespace

Reply DevService::analyze(Call &call)
{
    const QString text = call.read([](const json::ObjectReader &r) {
        (void)r.requireString(L("targetLanguage"));
        return requireText(r, L("originalText"));
    });
    if (text::trimmed(text).isEmpty())
        return Reply::error(422, QStringLiteral("Nothing to analyze"), QStringLiteral("EMPTY_TEXT"));
    return Reply::json(200, content::analyze(text));
}

Reply DevService::transform(Call &call)
{
    struct Input {
        QString text;
        QStringList categories;
        content::TransformOptions options;
        bool competition = false;
    };
    const Input in = call.read([](const json::ObjectReader &r) {
        Input i;
        i.text = r.requireString(L("originalText"));
        i.categories = r.require(L("metadata"), [](const QJsonValue &m) {
            return json::ObjectReader(m, dates()).requireStringArray(L("categories"));
        });
        i.options.language = r.requireString(L("targetLanguage"));
        i.options.articleSize = r.requireString(L("articleSize"));
        i.options.seoMode = r.requireString(L("seoStandardMode"));
        i.options.linksPresetID = r.optionalString(L("linksPresetId")).value_or(QString());
        if (r.has(L("competitionConfig"))) {
            i.competition = true;
            r.require(L("competitionConfig"), [&](const QJsonValue &c) {
                const json::ObjectReader config(c, dates());
                i.options.targetDomain = config.requireString(L("targetDomain"));
                const QJsonObject analysis = config.require(L("analysisOptions"), json::readObject);
                for (auto it = analysis.begin(); it != analysis.end(); ++it) {
                    if (it.value().toBool() && it.key() != u"useSerpBasedDiscovery")
                        i.options.competitionInsights << it.key();
                }
                return 0;
            });
        }
        return i;
    });
    if (text::trimmed(in.text).isEmpty())
        return Reply::error(422, QStringLiteral("Nothing to transform"), QStringLiteral("EMPTY_TEXT"));
    ArticleSize size = enumFromString<ArticleSize>(in.options.articleSize).value_or(ArticleSize::mini);
    const qint64 cost =
        CostEstimator::articleCredits(size) + (in.competition ? CostEstimator::competitionCredits() : 0);
    if (auto refused = charge(call, cost))
        return *refused;
    return Reply::json(200, content::transform(in.text, in.categories, in.options));
}

Reply DevService::illustrations(Call &call)
{
    const auto [body, language, requested] = call.read([](const json::ObjectReader &r) {
        (void)r.requireString(L("articleId"));
        return std::tuple{r.requireString(L("content")), r.requireString(L("language")),
                          r.optionalInt<qint64>(L("imagesCount"))};
    });
    const qint64 count = requested && *requested >= 1 ? std::min<qint64>(*requested, 12)
                                                      : CostEstimator::estimateImagesCount(body, language);
    if (auto refused = charge(call, qint64(count) * CostEstimator::creditsPerImage()))
        return *refused;
    const QString generation = newID("gen");
    const auto imageURL = [&](int n) {
        return origin() + QStringLiteral("/media/%1/%2.svg").arg(generation).arg(n);
    };
    QJsonArray assets;
    for (int n = 1; n <= count; ++n)
        assets.append(QJsonObject{{L("url"), imageURL(n)}, {L("publicUrl"), imageURL(n)}});
    return Reply::json(200, QJsonObject{{L("content"), content::withImages(body, count, imageURL)},
                                        {L("assets"), assets},
                                        {L("generationId"), generation},
                                        {L("style"), QJsonObject{{L("medium"), QStringLiteral("Flat shapes")},
                                                                 {L("mood"), QStringLiteral("Calm")}}},
                                        {L("provider"), QStringLiteral("pendrel-devservice")}});
}

Reply DevService::humanize(Call &call)
{
    const QString body = call.read([](const json::ObjectReader &r) { return r.requireString(L("content")); });
    if (auto refused = charge(call, CostEstimator::humanizeCredits(text::characterCount(body))))
        return *refused;
    return Reply::json(200, QJsonObject{{L("success"), true}, {L("content"), content::humanize(body)}});
}

Reply DevService::save(Call &call)
{
    Article article = call.read([](const json::ObjectReader &r) {
        Article a;
        a.content = r.requireString(L("content"));
        a.title = r.requireString(L("title"));
        a.language = r.requireString(L("language"));
        a.id = r.requireString(L("articleId"));
        (void)r.require(L("metadata"), json::readObject);
        return a;
    });
    article.tenantID = call.account->tenantID;
    article.savedAt = QDateTime::currentDateTimeUtc();
    // The client's article id names the article: a save sent again (its
    // first answer was lost) updates it in place, at the same address.
    if (Article *existing = store_.article(article.tenantID, article.id)) {
        article.slug = existing->slug;
        *existing = article;
        store_.save();
    } else {
        article.slug = store_.uniqueSlug(article.title);
        store_.addArticle(article);
    }
    return Reply::json(
        200, QJsonObject{{L("articleId"), article.id}, {L("url"), QStringLiteral("/blog/") + article.slug}});
}

Reply DevService::voiceover(Call &call)
{
    const QString body = call.read([](const json::ObjectReader &r) {
        (void)r.requireString(L("articleId"));
        return r.requireString(L("content"));
    });
    if (auto refused = charge(call, CostEstimator::voiceoverCredits(text::characterCount(body))))
        return *refused;
    return Reply::json(202, QJsonObject{{L("status"), QStringLiteral("queued")}});
}

Reply DevService::adaptation(Call &call)
{
    Adaptation a = call.read([](const json::ObjectReader &r) {
        return Adaptation{QString(), r.requireString(L("articleId")), r.requireString(L("platform"))};
    });
    a.id = newID("adapt");
    store_.adaptations.insert(a.id, a);
    return Reply::json(200,
                       QJsonObject{{L("adaptation"), QJsonObject{{L("id"), a.id},
                                                                 {L("platform"), a.platform},
                                                                 {L("status"), QStringLiteral("draft")}}}});
}

Reply DevService::publish(Call &call)
{
    const QJsonObject body = call.object();
    const bool direct = body.value(L("action")).toString() == u"publish_raw";
    const auto [platform, accountID, subreddit] = call.read([](const json::ObjectReader &r) {
        return std::tuple{r.requireString(L("platform")), r.requireString(L("accountId")),
                          r.optionalString(L("subreddit")).value_or(QString())};
    });
    if (platform == u"reddit" && subreddit.isEmpty())
        return Reply::error(422, QStringLiteral("Choose a default subreddit first"),
                            QStringLiteral("SUBREDDIT_REQUIRED"));
    Post post{newID("post"),
              QString(),
              accountID,
              platform,
              direct ? QStringLiteral("direct") : QStringLiteral("adaptation"),
              QDateTime::currentDateTimeUtc()};
    if (direct) {
        post.articleID =
            call.read([](const json::ObjectReader &r) { return r.requireString(L("articleId")); });
        const QString adaptationID = newID("adapt");
        store_.adaptations.insert(adaptationID, Adaptation{adaptationID, post.articleID, platform});
        store_.posts.append(post);
        store_.save();
        return Reply::json(200, QJsonObject{{L("success"), true},
                                            {L("adaptationId"), adaptationID},
                                            {L("platformPostId"), post.id}});
    }
    const QString adaptationID =
        call.read([](const json::ObjectReader &r) { return r.requireString(L("adaptationId")); });
    const auto it = store_.adaptations.constFind(adaptationID);
    if (it == store_.adaptations.constEnd())
        return Reply::error(404, QStringLiteral("Unknown adaptation"));
    post.articleID = it->articleID;
    store_.posts.append(post);
    store_.save();
    return Reply::json(200, QJsonObject{{L("success"), true}, {L("postId"), post.id}});
}

Reply DevService::shopPublish(Call &call)
{
    const auto [articleID, accountID] = call.read([](const json::ObjectReader &r) {
        (void)r.requireString(L("mode"));
        (void)r.optionalInt(L("blogId"));
        return std::pair{r.requireString(L("articleId")), r.requireString(L("accountId"))};
    });
    store_.posts.append(Post{newID("post"), articleID, accountID, QStringLiteral("shopify_blog"),
                             QStringLiteral("shop"), QDateTime::currentDateTimeUtc()});
    store_.save();
    return Reply::json(200, QJsonObject{{L("success"), true}});
}

// --- Pages

namespace {

// A plain page around `body` (HTML) under an escaped heading.
QString frame(const QString &title, const QString &body)
{
    return QStringLiteral("<!doctype html><html><head><meta charset=\"utf-8\"><title>%1</title><style>"
                          "body{font-family:sans-serif;max-width:44em;margin:2em auto}</style></head><body>"
                          "<h1>%1</h1>%2</body></html>")
        .arg(content::escape(title), body);
}

} // namespace

Reply DevService::dashboard(Call &call, const QString &page)
{
    const Account *demo = store_.accountByEmail(QString::fromLatin1(DevStore::demoEmail));
    Tenant *tenant = demo ? store_.tenant(demo->tenantID) : nullptr;
    if (page == u"billing/add" && call.method == "POST" && tenant) {
        tenant->balance += 500;
        store_.save();
        return Reply{303, {}, "text/html", {{"Location", "/dashboard/billing"}}};
    }
    if (page == u"billing")
        return Reply::html(
            200, frame(QStringLiteral("Billing"),
                       QStringLiteral("<p>Balance: %1 credits</p><form method=\"post\" action=\""
                                      "/dashboard/billing/add\"><button>Add 500 credits</button></form>")
                           .arg(tenant ? tenant->balance : 0)));
    if (page == u"blog") {
        QString list;
        for (const Article &a : store_.articles)
            list += QStringLiteral("<li><a href=\"/blog/%1\">%2</a></li>")
                        .arg(content::escape(a.slug), content::escape(a.title));
        return Reply::html(200, frame(QStringLiteral("Articles"), QStringLiteral("<ul>%1</ul>").arg(list)));
    }
    if (page == u"settings") {
        QString list;
        for (const Post &p : store_.posts)
            list += QStringLiteral("<li>%1 on %2 (%3)</li>")
                        .arg(content::escape(p.articleID), content::escape(p.platform), p.via);
        return Reply::html(
            200, frame(QStringLiteral("Integrations"),
                       QStringLiteral("<p>Connected: LinkedIn, Reddit, Shopify, X.</p><h2>Posts</h2>"
                                      "<ul>%1</ul>")
                           .arg(list)));
    }
    return Reply::html(404, frame(QStringLiteral("Not found"), {}));
}

Reply DevService::appcast()
{
    const QString version = content::escape(options_.appcastVersion);
    const QString feed =
        QStringLiteral(
            "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
            "<rss version=\"2.0\" xmlns:sparkle=\"http://www.andymatuschak.org/xml-namespaces/sparkle\">\n"
            "<channel><title>Pendrel Publisher</title>\n"
            "<item><title>Version %1</title><link>%2/releases/%1</link>\n"
            "<sparkle:version>%1</sparkle:version><sparkle:shortVersionString>%1</"
            "sparkle:shortVersionString>\n"
            "<sparkle:releaseNotesLink>%2/releases/%1/notes</sparkle:releaseNotesLink>\n"
            "<enclosure url=\"%2/releases/pendrel-publisher_%1_amd64.deb\" length=\"1024\" "
            "type=\"application/vnd.debian.binary-package\" sparkle:os=\"linux\"/></item>\n"
            "</channel></rss>\n")
            .arg(version, origin());
    return Reply{200, feed.toUtf8(), "application/rss+xml", {}};
}

// The pages the feed links to. Packages are not served here: the release
// page says where they come from.
Reply DevService::release(const QString &rest)
{
    const QString version = content::escape(options_.appcastVersion);
    if (rest == options_.appcastVersion)
        return Reply::html(200, frame(QStringLiteral("Pendrel Publisher %1").arg(version),
                                      QStringLiteral("<p>This local service offers version %1 in its update "
                                                     "feed. Build a package with <code>scripts/package</code>."
                                                     "</p>")
                                          .arg(version)));
    if (rest == options_.appcastVersion + QStringLiteral("/notes"))
        return Reply::html(200, frame(QStringLiteral("What's new in %1").arg(version),
                                      QStringLiteral("<ul><li>Faster article pipeline.</li>"
                                                     "<li>Crossposting to more accounts.</li></ul>")));
    return Reply::error(404, QStringLiteral("The local content service serves no release packages"));
}

// Run-time controls for demos and tests:
//   POST /_dev/latency?ms=N, /_dev/fail?path=P&status=S, /_dev/drop?path=P,
//   /_dev/fault?path=P&kind=stall|malformed|wrong-types|slow|5xx|lost[&count=N]
//   (lost: the call is carried out, then the connection closes unanswered)
//   (the next N requests to P, or all until reset: held open without an
//   answer, cut-off JSON, the real answer with every member of the wrong
//   type, the real answer trickled out, a 502),
//   /_dev/reset (clears failures, drops, faults and latency), GET /_dev/state.
Reply DevService::control(Call &call, const QString &what)
{
    const QString path = call.query.queryItemValue(QStringLiteral("path"), QUrl::FullyDecoded);
    if (what == u"state") {
        const Account *demo = store_.accountByEmail(QString::fromLatin1(DevStore::demoEmail));
        const Tenant *tenant = demo ? store_.tenant(demo->tenantID) : nullptr;
        return Reply::json(200, QJsonObject{{L("balance"), tenant ? tenant->balance : 0},
                                            {L("articles"), qint64(store_.articles.size())},
                                            {L("posts"), qint64(store_.posts.size())}});
    }
    if (call.method != "POST")
        return Reply::error(405, QStringLiteral("Use POST"));
    if (what == u"latency") {
        options_.latencyMs = call.query.queryItemValue(QStringLiteral("ms")).toInt();
    } else if (what == u"fail" && path.startsWith(u'/')) {
        const int status = call.query.queryItemValue(QStringLiteral("status")).toInt();
        if (status < 100 || status > 599)
            return Reply::error(400, QStringLiteral("status must be an HTTP status"));
        options_.failures.insert(path, status);
    } else if (what == u"drop" && path.startsWith(u'/')) {
        dropped_.insert(path);
    } else if (what == u"fault" && path.startsWith(u'/')) {
        static const QHash<QString, FaultKind> kinds{
            {QStringLiteral("stall"), FaultKind::stall},
            {QStringLiteral("malformed"), FaultKind::malformed},
            {QStringLiteral("wrong-types"), FaultKind::wrongTypes},
            {QStringLiteral("slow"), FaultKind::slow},
            {QStringLiteral("5xx"), FaultKind::serverError},
            {QStringLiteral("lost"), FaultKind::lostAnswer}};
        const auto kind = kinds.constFind(call.query.queryItemValue(QStringLiteral("kind")));
        if (kind == kinds.constEnd())
            return Reply::error(400,
                                QStringLiteral("kind must be stall, malformed, wrong-types, slow, 5xx or lost"));
        const QString count = call.query.queryItemValue(QStringLiteral("count"));
        faults_.insert(path, Fault{*kind, count.isEmpty() ? -1 : std::max(1, count.toInt())});
    } else if (what == u"reset") {
        options_.failures.clear();
        dropped_.clear();
        faults_.clear();
        for (const QPointer<QTcpSocket> &socket : std::as_const(stalled_)) {
            if (socket)
                socket->abort();
        }
        stalled_.clear();
        options_.latencyMs = 0;
    } else {
        return Reply::error(400, QStringLiteral("Unknown control"));
    }
    return Reply::json(200, QJsonObject{{L("ok"), true}});
}

} // namespace pendrel::dev
