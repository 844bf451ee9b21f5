#include "platform/QtKeychainBackend.h"

#include <qt6keychain/keychain.h>

#include <QCoroSignal>
#include <QDBusConnection>
#include <QDBusConnectionInterface>

namespace pendrel {

namespace {

// qtkeychain reports a missing session bus or secret service as a generic
// error, so look first: without a bus, or with neither the Secret Service
// nor KWallet running or activatable, there is no store to ask.
bool desktopStoreReachable()
{
    const QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return false;
    const QDBusConnectionInterface *daemon = bus.interface();
    if (!daemon)
        return false;
    const QStringList names{QStringLiteral("org.freedesktop.secrets"), QStringLiteral("org.kde.kwalletd6"),
                            QStringLiteral("org.kde.kwalletd5")};
    const QDBusReply<QStringList> activatable = daemon->activatableServiceNames();
    for (const QString &name : names) {
        if (daemon->isServiceRegistered(name).value()
            || (activatable.isValid() && activatable.value().contains(name)))
            return true;
    }
    return false;
}

} // namespace

QCoro::Task<SecretResult> QtKeychainBackend::finish(QKeychain::Job *job)
{
    if (!desktopStoreReachable()) {
        job->deleteLater();
        co_return SecretResult{SecretResult::Status::noBackend,
                               {},
                               int(QKeychain::NoBackendAvailable),
                               QStringLiteral("no Secret Service or KWallet on the session bus")};
    }
    job->setAutoDelete(false);
    job->start();
    const auto answered = co_await qCoro(job, &QKeychain::Job::finished, answerDeadline_);
    if (!answered) {
        // Left to finish (or not) on its own; whatever it does then changes nothing here.
        QObject::connect(job, &QKeychain::Job::finished, job, &QObject::deleteLater);
        co_return SecretResult{SecretResult::Status::noAnswer, {}, int(QKeychain::OtherError),
                               QStringLiteral("The desktop's secret store did not answer.")};
    }
    SecretResult result;
    switch (job->error()) {
    case QKeychain::NoError:
        result.status = SecretResult::Status::ok;
        if (auto *read = qobject_cast<QKeychain::ReadPasswordJob *>(job))
            result.data = read->binaryData();
        break;
    case QKeychain::EntryNotFound:
        result.status = SecretResult::Status::notFound;
        break;
    case QKeychain::NoBackendAvailable:
    case QKeychain::NotImplemented:
        result.status = SecretResult::Status::noBackend;
        break;
    default:
        result.status = SecretResult::Status::failure;
        break;
    }
    result.code = int(job->error());
    result.message = job->errorString();
    job->deleteLater();
    co_return result;
}

QCoro::Task<SecretResult> QtKeychainBackend::read(QString service, QString account)
{
    auto *job = new QKeychain::ReadPasswordJob(service);
    job->setInsecureFallback(false);
    job->setKey(account);
    co_return co_await finish(job);
}

QCoro::Task<SecretResult> QtKeychainBackend::write(QString service, QString account, QByteArray data)
{
    auto *job = new QKeychain::WritePasswordJob(service);
    job->setInsecureFallback(false);
    job->setKey(account);
    job->setBinaryData(data);
    co_return co_await finish(job);
}

QCoro::Task<SecretResult> QtKeychainBackend::remove(QString service, QString account)
{
    auto *job = new QKeychain::DeletePasswordJob(service);
    job->setInsecureFallback(false);
    job->setKey(account);
    co_return co_await finish(job);
}

} // namespace pendrel
