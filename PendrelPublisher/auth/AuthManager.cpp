#include "auth/AuthManager.h"

#include "state/AppConfiguration.h"
#include "support/JsonRead.h"
#include "support/Uuid.h"

#include <QCoroNetworkReply>
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

UserPayload UserPayload::fromJson(const QJsonValue &value, const JsonDates &dates)
{
    const json::ObjectReader r(value, dates);
    return UserPayload{r.requireString(L("id")), r.optionalString(L("email"))};
}

SessionPayload SessionPayload::fromJson(const QJsonValue &value, const JsonDates &dates)
{
    const json::ObjectReader r(value, dates);
    return SessionPayload{r.requireString(L("access_token")), r.requireString(L("refresh_token")),
                          r.requireDouble(L("expires_at"))};
}

UserSession sessionFromPayloads(const UserPayload &user, const SessionPayload &session)
{
    return UserSession{session.accessToken, session.refreshToken, session.expiresAt, user.id, user.email};
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

QCoro::Task<QByteArray> AuthManager::postIdentity(QString endpoint, QJsonObject body, QString fallback)
{
    QNetworkRequest request(identityURL(endpoint));
    request.setTransferTimeout(APIClient::transferTimeoutMs);
    request.setRawHeader("Content-Type", "application/json");
    request.setRawHeader("x-client", "macos-menu-bar");
    request.setRawHeader("x-request-id", uuidString(QUuid::createUuid()).toLatin1());
    QNetworkReply *reply = network_.post(request, QJsonDocument(body).toJson(QJsonDocument::Compact));
    const std::unique_ptr<QNetworkReply, void (*)(QNetworkReply *)> owned(
        reply, [](QNetworkReply *r) { r->deleteLater(); });
    co_await reply;
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid() && reply->error() != QNetworkReply::NoError)
        throw TransportError(reply->error(), reply->errorString());
    const QByteArray answer = reply->readAll();
    const int code = status.toInt();
    if (status.isValid() && (code < 200 || code > 299))
        throw APIClientError::http(code, identityErrorMessage(answer).value_or(fallback), std::nullopt,
                                   std::nullopt);
    co_return answer;
}

QCoro::Task<UserSession> AuthManager::signIn(QString email, QString password)
{
    const QJsonObject payload{
        {L("email"), email}, {L("password"), password}, {L("method"), L("macos_menu_bar")}};
    const QString endpoint = QStringLiteral("api/auth/signin");
    const QString fallback = QStringLiteral("Authentication failed");
    const QByteArray answer = co_await postIdentity(endpoint, payload, fallback);

    const JsonDates dates = JsonDates::iso8601();
    const json::ObjectReader r(json::parseDocument(answer), dates);
    (void)r.requireString(L("message")); // required, but nothing uses it
    const UserSession session = sessionFromPayloads(r.requireRecord<UserPayload>(L("user")),
                                                    r.requireRecord<SessionPayload>(L("session")));
    co_await keychain_.save(session);
    co_return session;
}

} // namespace pendrel
