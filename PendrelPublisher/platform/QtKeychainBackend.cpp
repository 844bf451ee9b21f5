#include "platform/QtKeychainBackend.h"

#include "platform/SecretServiceConnection.h"

#include <qt6keychain/keychain.h>

#include <QCoroSignal>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusServiceWatcher>

#include "support/Tasks.h"

namespace pendrel {

namespace {

const QString kSecretService = QStringLiteral("org.freedesktop.secrets");

// The daemon that answered is not the one libsecret's session was opened
// with: it does not know the session, or it went away while the call was
// on its way or waiting for the answer. (qtkeychain passes on the text of
// the D-Bus error without its name.) Every operation here may be repeated:
// a write replaces the item, a removal of nothing does nothing.
bool daemonChanged(const SecretResult &result)
{
    static const QLatin1String signs[] = {
        QLatin1String("org.freedesktop.Secret.Error.NoSession"),
        QLatin1String("session wrapping the secret does not exist"),
        QLatin1String("disconnected from message bus without replying"), // NoReply from the bus
        QLatin1String("was not provided by any .service files"),         // the old daemon's unique name
    };
    if (result.status != SecretResult::Status::failure)
        return false;
    for (const QLatin1String sign : signs) {
        if (result.message.contains(sign))
            return true;
    }
    return false;
}

// The bus daemon's answer to one of its own methods, without blocking.
QCoro::Task<QDBusMessage> askBus(QDBusConnection bus, QString method, QVariantList arguments)
{
    QDBusMessage message = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"),
                                                          QStringLiteral("/org/freedesktop/DBus"),
                                                          QStringLiteral("org.freedesktop.DBus"), method);
    message.setArguments(arguments);
    QDBusPendingCallWatcher watcher(bus.asyncCall(message));
    while (!watcher.isFinished())
        co_await nextSignal(&watcher, &QDBusPendingCallWatcher::finished);
    co_return watcher.reply();
}

// qtkeychain reports a missing session bus or secret service as a generic
// error, so look first: without a bus, or with neither the Secret Service
// nor KWallet running or activatable, there is no store to ask. Asked
// without waiting: the state is read at start-up meanwhile.
QCoro::Task<bool> desktopStoreReachable()
{
    const QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        co_return false;
    const QStringList names{kSecretService, QStringLiteral("org.kde.kwalletd6"),
                            QStringLiteral("org.kde.kwalletd5")};
    // Each argument named outside the awaits: GCC 12.
    const QString list = QStringLiteral("ListActivatableNames");
    const QString hasOwner = QStringLiteral("NameHasOwner");
    const QVariantList none;
    const QDBusMessage activatable = co_await askBus(bus, list, none);
    const QStringList startable = activatable.arguments().value(0).toStringList();
    for (const QString &name : names) {
        if (startable.contains(name))
            co_return true;
        const QVariantList which{name};
        const QDBusMessage owned = co_await askBus(bus, hasOwner, which);
        if (owned.arguments().value(0).toBool())
            co_return true;
    }
    co_return false;
}

} // namespace

QtKeychainBackend::QtKeychainBackend(std::chrono::milliseconds answerDeadline) : answerDeadline_(answerDeadline)
{
    const QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    serviceWatcher_ = std::make_unique<QDBusServiceWatcher>(kSecretService, bus,
                                                            QDBusServiceWatcher::WatchForOwnerChange);
    QObject::connect(serviceWatcher_.get(), &QDBusServiceWatcher::serviceOwnerChanged,
                     serviceWatcher_.get(), [] { dropSecretServiceConnection(); });
}

QtKeychainBackend::~QtKeychainBackend() = default;

QCoro::Task<SecretResult> QtKeychainBackend::run(const MakeJob &makeJob)
{
    QKeychain::Job *job = makeJob();
    const SecretResult first = co_await finish(job);
    if (!daemonChanged(first))
        co_return first;
    // The change of owner may not have reached us yet (or was missed).
    dropSecretServiceConnection();
    QKeychain::Job *again = makeJob();
    co_return co_await finish(again);
}

QCoro::Task<SecretResult> QtKeychainBackend::finish(QKeychain::Job *job)
{
    const bool reachable = co_await desktopStoreReachable();
    if (!reachable) {
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

namespace {

// A job of the given kind for our item, never with qtkeychain's own
// plain-text fallback (ours is the private file, chosen above this class).
template <class JobType>
QKeychain::Job *itemJob(const QString &service, const QString &account)
{
    auto *job = new JobType(service);
    job->setInsecureFallback(false);
    job->setKey(account);
    return job;
}

} // namespace

QCoro::Task<SecretResult> QtKeychainBackend::read(QString service, QString account)
{
    const MakeJob make = [service, account] { return itemJob<QKeychain::ReadPasswordJob>(service, account); };
    co_return co_await run(make);
}

QCoro::Task<SecretResult> QtKeychainBackend::write(QString service, QString account, QByteArray data)
{
    const MakeJob make = [service, account, data] {
        QKeychain::Job *job = itemJob<QKeychain::WritePasswordJob>(service, account);
        static_cast<QKeychain::WritePasswordJob *>(job)->setBinaryData(data);
        return job;
    };
    co_return co_await run(make);
}

QCoro::Task<SecretResult> QtKeychainBackend::remove(QString service, QString account)
{
    const MakeJob make = [service, account] { return itemJob<QKeychain::DeletePasswordJob>(service, account); };
    co_return co_await run(make);
}

} // namespace pendrel
