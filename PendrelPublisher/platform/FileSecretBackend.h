#pragma once

#include "platform/SecretBackend.h"

#include <memory>

namespace pendrel {

// Secret items as files, for desktops where no secret store answers: one
// file per item, mode 0600, in a folder of mode 0700.
class FileSecretBackend final : public SecretBackend {
public:
    explicit FileSecretBackend(QString folder);

    [[nodiscard]] QString itemPath(const QString &service, const QString &account) const;

    QCoro::Task<SecretResult> read(QString service, QString account) override;
    QCoro::Task<SecretResult> write(QString service, QString account, QByteArray data) override;
    QCoro::Task<SecretResult> remove(QString service, QString account) override;

private:
    QString folder_;
};

// Uses the desktop's store, and moves to the file store for good the first
// time the desktop's store reports that it is not there, saying so once.
// Removing an item removes it from both.
class FallbackSecretBackend final : public SecretBackend {
public:
    FallbackSecretBackend(std::unique_ptr<SecretBackend> primary, std::unique_ptr<SecretBackend> fallback);

    [[nodiscard]] bool usingFallback() const { return usingFallback_; }

    QCoro::Task<SecretResult> read(QString service, QString account) override;
    QCoro::Task<SecretResult> write(QString service, QString account, QByteArray data) override;
    QCoro::Task<SecretResult> remove(QString service, QString account) override;

private:
    template <class Op>
    QCoro::Task<SecretResult> route(const Op &op);
    void useFallback(const QString &reason);

    std::unique_ptr<SecretBackend> primary_;
    std::unique_ptr<SecretBackend> fallback_;
    bool usingFallback_ = false;
};

} // namespace pendrel
