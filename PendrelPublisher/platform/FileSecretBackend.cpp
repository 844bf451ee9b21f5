#include "platform/FileSecretBackend.h"

#include "support/PrivateFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstdio>

namespace pendrel {

namespace {

SecretResult failure(const QString &message)
{
    return SecretResult{SecretResult::Status::failure, {}, -1, message};
}

// Item names come from our own identifiers, but keep them to safe file names.
QString safeName(const QString &text)
{
    QString out;
    for (const QChar c : text)
        out += (c.isLetterOrNumber() && c.unicode() < 0x80) || c == u'.' || c == u'-' || c == u'_' ? c : u'_';
    return out;
}

} // namespace

FileSecretBackend::FileSecretBackend(QString folder) : folder_(std::move(folder))
{
}

QString FileSecretBackend::itemPath(const QString &service, const QString &account) const
{
    return folder_ + u'/' + safeName(service) + u'@' + safeName(account);
}

QCoro::Task<SecretResult> FileSecretBackend::read(QString service, QString account)
{
    QFile file(itemPath(service, account));
    if (!file.exists())
        co_return SecretResult{SecretResult::Status::notFound, {}, 0, QStringLiteral("No such secret item")};
    if (!file.open(QIODevice::ReadOnly))
        co_return failure(file.errorString());
    co_return SecretResult{SecretResult::Status::ok, file.readAll(), 0, {}};
}

QCoro::Task<SecretResult> FileSecretBackend::write(QString service, QString account, QByteArray data)
{
    QString error;
    if (!writePrivateFile(itemPath(service, account), data, error))
        co_return failure(error);
    co_return SecretResult{};
}

QCoro::Task<SecretResult> FileSecretBackend::remove(QString service, QString account)
{
    QFile file(itemPath(service, account));
    if (!file.exists())
        co_return SecretResult{SecretResult::Status::notFound, {}, 0, {}};
    if (!file.remove())
        co_return failure(file.errorString());
    co_return SecretResult{};
}

FallbackSecretBackend::FallbackSecretBackend(std::unique_ptr<SecretBackend> primary,
                                             std::unique_ptr<SecretBackend> fallback)
    : primary_(std::move(primary)), fallback_(std::move(fallback))
{
}

void FallbackSecretBackend::useFallback(const QString &reason)
{
    usingFallback_ = true;
    std::fprintf(stderr,
                 "pendrel-publisher: no secret store answered (%s); keeping the session in a private file "
                 "instead\n",
                 qPrintable(reason));
}

template <class Op>
QCoro::Task<SecretResult> FallbackSecretBackend::route(const Op &op)
{
    if (!usingFallback_) {
        SecretResult result = co_await op(*primary_);
        if (result.status != SecretResult::Status::noBackend)
            co_return result;
        useFallback(result.message);
    }
    co_return co_await op(*fallback_);
}

QCoro::Task<SecretResult> FallbackSecretBackend::read(QString service, QString account)
{
    const auto operation = [&](SecretBackend &b) { return b.read(service, account); };
    co_return co_await route(operation);
}

QCoro::Task<SecretResult> FallbackSecretBackend::write(QString service, QString account, QByteArray data)
{
    const auto operation = [&](SecretBackend &b) { return b.write(service, account, data); };
    co_return co_await route(operation);
}

QCoro::Task<SecretResult> FallbackSecretBackend::remove(QString service, QString account)
{
    if (!usingFallback_) {
        const SecretResult desktop = co_await primary_->remove(service, account);
        if (desktop.status != SecretResult::Status::noBackend) {
            // An earlier run may have kept the item in the file while no
            // store answered; a later one without the store would bring it
            // back. Removing means from every place it may be.
            const SecretResult file = co_await fallback_->remove(service, account);
            if (desktop.status == SecretResult::Status::notFound && file.status == SecretResult::Status::ok)
                co_return file;
            if (desktop.status != SecretResult::Status::failure && file.status == SecretResult::Status::failure)
                co_return file;
            co_return desktop;
        }
        useFallback(desktop.message);
    }
    co_return co_await fallback_->remove(service, account);
}

} // namespace pendrel
