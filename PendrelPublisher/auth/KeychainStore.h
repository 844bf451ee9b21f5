#pragma once

#include "auth/AuthState.h"
#include "platform/SecretBackend.h"
#include "support/Error.h"
#include "support/SerialTaskQueue.h"

#include <QCoroTask>
#include <QObject>

#include <functional>
#include <optional>

namespace pendrel {

// A failure of the secret store other than "no such item", with the
// backend's own code and text.
class KeychainError : public Error {
public:
    KeychainError(int code, QString message) : code_(code), message_(std::move(message)) {}
    [[nodiscard]] int code() const { return code_; }
    [[nodiscard]] QString description() const override;

private:
    int code_;
    QString message_;
};

// Signed in, but the secret store did not keep the session: it holds for
// this run only. Carries the session so that the caller can go on with it.
class SessionNotStoredError : public KeychainError {
public:
    SessionNotStoredError(const KeychainError &cause, UserSession session)
        : KeychainError(cause), session(std::move(session))
    {
    }
    [[nodiscard]] QString description() const override;

    UserSession session;
};

// Keeps the one session of this installation in the secret store: one item,
// service = bundle identifier + ".session", account "default", holding the
// session's JSON. Save, load and clear never interleave.
class KeychainStore : public QObject {
    Q_OBJECT

public:
    static constexpr QStringView account = u"default";

    KeychainStore(SecretBackend &backend, const QString &bundleIdentifier, QObject *parent = nullptr);

    [[nodiscard]] const QString &service() const { return service_; }

    // Replaces any stored session; throws KeychainError when the store
    // refuses or does not answer, in which case the session is kept in
    // memory only: loadSession gives it until it is cleared or the program
    // quits.
    QCoro::Task<void> save(UserSession session);
    // Nothing when no session is stored; throws DecodingError for an item
    // that is not a session and KeychainError for a store failure.
    QCoro::Task<std::optional<UserSession>> loadSession();
    // Removes the item; never fails.
    QCoro::Task<void> clearSession();

    // True while a call to the store has gone unanswered for longer than
    // `userPromptDelayMs`: the store is most likely showing its own prompt
    // (create a wallet, unlock the keyring) and waits for the user.
    [[nodiscard]] bool isWaitingForUser() const { return waitingForUser_; }
    int userPromptDelayMs = 1000;

signals:
    void waitingForUserChanged(bool waiting);

private:
    using Call = std::function<QCoro::Task<SecretResult>()>;
    // One call to the backend, watched for a prompt that holds it.
    QCoro::Task<SecretResult> ask(const Call &call);
    void setWaitingForUser(bool waiting);

    bool waitingForUser_ = false;
    std::optional<UserSession> sessionOfThisRun_;
    SecretBackend &backend_;
    QString service_;
    SerialTaskQueue queue_;
};

} // namespace pendrel
