#pragma once

#include "api/APIClient.h"
#include "auth/KeychainStore.h"
#include "auth/NativeAuth.h"

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

    // Opens a browser sign-in session on the service.
    QCoro::Task<NativeBrowserAuthStartResponse> startBrowserAuth(NativeAuthFlowMode mode,
                                                                 std::optional<NativeAuthProvider> provider);
    // Asks how that session stands. An expired session (404 saying so) is an
    // answer, not a failure.
    QCoro::Task<NativeBrowserAuthPollResponse> pollBrowserAuth(QString sessionId, QString pollToken);

private:
    struct IdentityRequest {
        QByteArray method;
        QString endpoint;
        std::optional<QJsonObject> body;
        std::optional<QString> bearer;
        bool requestID = false;
    };
    struct IdentityAnswer {
        int status = 200; // a reply without an HTTP status counts as success
        QByteArray body;
        [[nodiscard]] bool ok() const { return status >= 200 && status <= 299; }
    };
    QCoro::Task<IdentityAnswer> send(IdentityRequest request);
    [[noreturn]] static void fail(const IdentityAnswer &answer, const QString &fallback);

private:
    KeychainStore &keychain_;
    std::function<double()> now_;
    QNetworkAccessManager network_;
};

// The "error" text of an identity endpoint's error body, when the body is
// an object of strings only.
std::optional<QString> identityErrorMessage(const QByteArray &body);

// The session of a successful sign-in answer; throws DecodingError.
UserSession readSignInAnswer(const QByteArray &body);

} // namespace pendrel
