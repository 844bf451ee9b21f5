#include "auth/AuthManager.h"

#include "state/AppConfiguration.h"
#include "support/JsonRead.h"
#include "support/Uuid.h"

#include <QDateTime>
#include <QJsonDocument>

namespace pendrel {

using L = QLatin1StringView;

namespace {

QUrl identityURL(const QString &endpoint)
{
    QUrl url = AppConfiguration::apiBaseURL();
    QString path = url.path();
    if (!path.endsWith(u'/'))
        path += u'/';
    url.setPath(path + endpoint);
    return url;
}

} // namespace

UserSession readSignInAnswer(const QByteArray &body)
{
    const JsonDates dates = JsonDates::iso8601();
    const json::ObjectReader r(json::parseDocument(body), dates);
    (void)r.requireString(L("message")); // required, but nothing uses it
    return sessionFromPayloads(r.requireRecord<UserPayload>(L("user")),
                               r.requireRecord<SessionPayload>(L("session")));
}

std::optional<QString> identityErrorMessage(const QByteArray &body)
{
    const QJsonDocument document = QJsonDocument::fromJson(body);
    if (!document.isObject())
        return std::nullopt;
    const QJsonObject object = document.object();
    for (auto it = object.constBegin(); it != object.constEnd(); ++it) {
        if (!it.value().isString())
            return std::nullopt;
    }
    const QJsonValue error = object.value(L("error"));
    if (!error.isString())
        return std::nullopt;
    return error.toString();
}

AuthManager::AuthManager(KeychainStore &keychain, std::function<double()> now, QObject *parent)
    : QObject(parent), keychain_(keychain), now_(std::move(now))
{
    if (!now_)
        now_ = [] { return double(QDateTime::currentMSecsSinceEpoch()) / 1000.0; };
}

QCoro::Task<std::optional<UserSession>> AuthManager::restoreSession()
{
    std::optional<UserSession> session;
    try {
        session = co_await keychain_.loadSession();
    } catch (const std::exception &) {
        co_return std::nullopt; // unreadable: treated as absent, the item stays
    }
    if (!session)
        co_return std::nullopt;
    if (session->expiresAt - now_() < expiryMarginSeconds) {
        co_await keychain_.clearSession();
        co_return std::nullopt;
    }
    co_return session;
}

QCoro::Task<AuthManager::IdentityAnswer> AuthManager::send(IdentityRequest identity)
{
    QNetworkRequest request(identityURL(identity.endpoint));
    request.setTransferTimeout(APIClient::transferTimeoutMs());
    request.setRawHeader("x-client", "macos-menu-bar");
    if (identity.body)
        request.setRawHeader("Content-Type", "application/json");
    if (identity.bearer)
        request.setRawHeader("Authorization", "Bearer " + identity.bearer->toUtf8());
    if (identity.requestID)
        request.setRawHeader("x-request-id", uuidString(QUuid::createUuid()).toLatin1());
    std::optional<QByteArray> payload;
    if (identity.body)
        payload = QJsonDocument(*identity.body).toJson(QJsonDocument::Compact);
    const HttpResponse response = co_await sendHttp(network_, request, identity.method, payload);
    // An answer that is not HTTP counts as success for identity requests.
    co_return IdentityAnswer{response.statusCode == 0 ? 200 : response.statusCode, response.body};
}

void AuthManager::fail(const IdentityAnswer &answer, const QString &fallback)
{
    throw APIClientError::http(answer.status, identityErrorMessage(answer.body).value_or(fallback),
                               std::nullopt, std::nullopt);
}

QCoro::Task<UserSession> AuthManager::signIn(QString email, QString password)
{
    IdentityRequest request{
        "POST", QStringLiteral("api/auth/signin"),
        QJsonObject{{L("email"), email}, {L("password"), password}, {L("method"), L("macos_menu_bar")}},
        std::nullopt, true};
    const IdentityAnswer answer = co_await send(request);
    if (!answer.ok())
        fail(answer, QStringLiteral("Authentication failed"));

    const UserSession session = readSignInAnswer(answer.body);
    std::optional<KeychainError> notStored;
    try {
        co_await keychain_.save(session);
    } catch (const KeychainError &e) {
        notStored = e;
    }
    if (notStored)
        throw SessionNotStoredError(*notStored, session);
    co_return session;
}

QCoro::Task<NativeBrowserAuthStartResponse>
AuthManager::startBrowserAuth(NativeAuthFlowMode mode, std::optional<NativeAuthProvider> provider)
{
    QJsonObject body{{L("mode"), enumString(mode)}};
    if (provider)
        body.insert(L("provider"), enumString(*provider));
    IdentityRequest request{"POST", QStringLiteral("api/auth/native/session"), body, std::nullopt, false};
    const IdentityAnswer answer = co_await send(request);
    if (!answer.ok())
        fail(answer, QStringLiteral("Could not start browser sign in"));
    co_return NativeBrowserAuthStartResponse::fromJson(json::parseDocument(answer.body),
                                                       JsonDates::iso8601());
}

QCoro::Task<NativeBrowserAuthPollResponse> AuthManager::pollBrowserAuth(QString sessionId, QString pollToken)
{
    IdentityRequest request{"GET", QStringLiteral("api/auth/native/session/") + sessionId, std::nullopt,
                            pollToken, false};
    const IdentityAnswer answer = co_await send(request);
    const JsonDates dates = JsonDates::iso8601();
    if (answer.ok())
        co_return NativeBrowserAuthPollResponse::fromJson(json::parseDocument(answer.body), dates);
    if (answer.status == 404) {
        try {
            NativeBrowserAuthPollResponse expired =
                NativeBrowserAuthPollResponse::fromJson(json::parseDocument(answer.body), dates);
            if (expired.status == u"expired")
                co_return expired;
        } catch (const DecodingError &) {
            // Not a poll answer: an ordinary failure.
        }
    }
    fail(answer, QStringLiteral("Could not read browser sign in status"));
}

} // namespace pendrel
