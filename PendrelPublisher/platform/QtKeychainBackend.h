#pragma once

#include "platform/SecretBackend.h"

namespace pendrel {

// The desktop's secret store through qtkeychain: the Secret Service
// (GNOME Keyring, KeePassXC …) or KWallet.
class QtKeychainBackend final : public SecretBackend {
public:
    QCoro::Task<SecretResult> read(QString service, QString account) override;
    QCoro::Task<SecretResult> write(QString service, QString account, QByteArray data) override;
    QCoro::Task<SecretResult> remove(QString service, QString account) override;
};

} // namespace pendrel
