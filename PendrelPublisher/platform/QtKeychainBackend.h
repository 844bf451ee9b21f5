#pragma once

#include "platform/SecretBackend.h"

#include <chrono>
#include <functional>
#include <memory>

class QDBusServiceWatcher;

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
//
// A Secret Service daemon that dies and is started again (by D-Bus, or by
// the desktop) does not know the connection libsecret keeps: that is
// dropped when the service changes hands on the bus, and an operation that
// fails on it is tried once more on a fresh one.
class QtKeychainBackend final : public SecretBackend {
public:
    explicit QtKeychainBackend(std::chrono::milliseconds answerDeadline = std::chrono::minutes(2));
    ~QtKeychainBackend() override;

    QCoro::Task<SecretResult> read(QString service, QString account) override;
    QCoro::Task<SecretResult> write(QString service, QString account, QByteArray data) override;
    QCoro::Task<SecretResult> remove(QString service, QString account) override;

private:
    using MakeJob = std::function<QKeychain::Job *()>;
    QCoro::Task<SecretResult> run(const MakeJob &makeJob);
    QCoro::Task<SecretResult> finish(QKeychain::Job *job);

    std::chrono::milliseconds answerDeadline_;
    std::unique_ptr<QDBusServiceWatcher> serviceWatcher_;
};

} // namespace pendrel
