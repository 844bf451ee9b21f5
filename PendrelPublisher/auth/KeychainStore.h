#pragma once

#include "auth/AuthState.h"
#include "platform/SecretBackend.h"
#include "support/Error.h"
#include "support/SerialTaskQueue.h"

#include <QCoroTask>
#include <QObject>

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
    // refuses, in which case no session is stored any more.
    QCoro::Task<void> save(UserSession session);
    // Nothing when no session is stored; throws DecodingError for an item
    // that is not a session and KeychainError for a store failure.
    QCoro::Task<std::optional<UserSession>> loadSession();
    // Removes the item; never fails.
    QCoro::Task<void> clearSession();

private:
    SecretBackend &backend_;
    QString service_;
    SerialTaskQueue queue_;
};

} // namespace pendrel
