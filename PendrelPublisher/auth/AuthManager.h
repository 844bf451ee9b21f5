#pragma once

#include "api/APIClient.h"
#include "auth/KeychainStore.h"

#include <QNetworkAccessManager>
#include <QObject>

#include <functional>

namespace pendrel {

// The one component that talks to the service about identity: e-mail
// sign-in and handing out the stored session. Its requests carry no bearer
// token and no tenant, so they bypass the API client's pipeline. There is
// no token refresh: a session is usable until 30 seconds before it expires.
class AuthManager : public QObject, public SessionSource {
    Q_OBJECT

public:
    static constexpr double expiryMarginSeconds = 30.0;

    // `now` gives the current Unix time in seconds (replaceable for tests).
    explicit AuthManager(KeychainStore &keychain, std::function<double()> now = {},
                         QObject *parent = nullptr);

    [[nodiscard]] KeychainStore &keychainStore() const { return keychain_; }

    // The stored session, or nothing when none is stored, it cannot be
    // read (the item is kept), or it expires within 30 seconds (the item
    // is deleted). Never fails.
    QCoro::Task<std::optional<UserSession>> restoreSession() override;

    // Signs in and stores the session, replacing any earlier one.
    QCoro::Task<UserSession> signIn(QString email, QString password);

protected:
    // POST of a JSON body to an identity endpoint; gives the 2xx body or
    // throws APIClientError::http with the body's "error" or `fallback`.
    QCoro::Task<QByteArray> postIdentity(QString endpoint, QJsonObject body, QString fallback);

private:
    KeychainStore &keychain_;
    std::function<double()> now_;
    QNetworkAccessManager network_;
};

// The "user" and "session" objects of a sign-in (or browser poll) answer.
struct UserPayload {
    QString id;
    std::optional<QString> email;
    static UserPayload fromJson(const QJsonValue &value, const JsonDates &dates);
};

struct SessionPayload {
    QString accessToken;
    QString refreshToken;
    double expiresAt = 0;
    static SessionPayload fromJson(const QJsonValue &value, const JsonDates &dates);
};

UserSession sessionFromPayloads(const UserPayload &user, const SessionPayload &session);
// The "error" text of an identity endpoint's error body, when the body is
// an object of strings only.
std::optional<QString> identityErrorMessage(const QByteArray &body);

} // namespace pendrel
