#pragma once

#include "platform/SecretBackend.h"

#include <chrono>

namespace QKeychain {
class Job;
}

namespace pendrel {

// The desktop's secret store through qtkeychain: the Secret Service
// (GNOME Keyring, KeePassXC …) or KWallet.
//
// A store may hold an operation for as long as its prompt is open (KWallet
// asking to create a wallet, a locked keyring asking for its password), and
// one that has hung never answers at all; an operation still unanswered
// after `answerDeadline` ends as a failure.
class QtKeychainBackend final : public SecretBackend {
public:
    explicit QtKeychainBackend(std::chrono::milliseconds answerDeadline = std::chrono::minutes(2))
        : answerDeadline_(answerDeadline)
    {
    }

    QCoro::Task<SecretResult> read(QString service, QString account) override;
    QCoro::Task<SecretResult> write(QString service, QString account, QByteArray data) override;
    QCoro::Task<SecretResult> remove(QString service, QString account) override;

private:
    QCoro::Task<SecretResult> finish(QKeychain::Job *job);

    std::chrono::milliseconds answerDeadline_;
};

} // namespace pendrel
