#include "shell/SingleInstance.h"

#include "support/PrivateFiles.h"

#include <QDBusError>
#include <QDBusMessage>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QSysInfo>
#include <QThread>

#include <cerrno>
#include <cstring>
#include <signal.h>
#include <unistd.h>

namespace pendrel {

namespace {

const QString kObjectPath = QStringLiteral("/com/pendrel/publisher");
const QString kInterface = QStringLiteral("com.pendrel.publisher.Instance");

// The system's reason why files cannot be created in `folder` (creating it
// first when missing), or nothing when they can.
QString whyUnwritable(const QString &folder)
{
    // Private from the start: the state file's folder holds the user's articles.
    QString error;
    if (!makePrivateFolder(folder, error))
        return error;
    // access() also answers for root: a read-only mount (EROFS) or an
    // immutable folder (EPERM), where permission bits would not stop it.
    if (::access(QFile::encodeName(folder).constData(), W_OK | X_OK) != 0)
        return QString::fromLocal8Bit(std::strerror(errno));
    return {};
}

// Whether the process named in a lock file still runs; a lock of another
// host cannot be checked and counts as held.
bool holderRuns(const QLockFile &lock)
{
    qint64 pid = 0;
    QString host;
    QString application;
    if (!lock.getLockInfo(&pid, &host, &application))
        return false;
    if (!host.isEmpty() && host != QSysInfo::machineHostName())
        return true;
    return ::kill(pid_t(pid), 0) == 0 || errno == EPERM;
}

} // namespace

SingleInstance::SingleInstance(QString lockFolder, QString serviceName, std::optional<QDBusConnection> bus,
                               QObject *parent)
    : QObject(parent), lockFolder_(std::move(lockFolder)), serviceName_(std::move(serviceName)),
      bus_(std::move(bus))
{
}

QDBusConnection &SingleInstance::bus()
{
    if (!bus_)
        bus_ = QDBusConnection::sessionBus();
    return *bus_;
}

SingleInstance::Claim SingleInstance::claim(Request request)
{
    const Claim claim = lock();
    if (claim == Claim::anotherRuns)
        handOver(request);
    return publish(claim);
}

SingleInstance::Claim SingleInstance::publish(Claim claim)
{
    if (claim != Claim::claimed || !bus().isConnected())
        return claim;
    bus().registerObject(kObjectPath, this, QDBusConnection::ExportScriptableSlots);
    // Owned already by a copy with another data folder (another
    // XDG_DATA_HOME on the same bus): hand-overs then reach that one.
    if (!bus().registerService(serviceName_))
        qWarning("SingleInstance: %s is owned by another process on the session bus; "
                 "--capture and --show from later launches go to it (%s)",
                 qPrintable(serviceName_), qPrintable(bus().lastError().message()));
    return claim;
}

SingleInstance::Claim SingleInstance::lock()
{
    folderProblem_ = whyUnwritable(lockFolder_);
    const QString lockPath = QDir(lockFolder_).filePath(QStringLiteral("instance.lock"));
    lock_ = std::make_unique<QLockFile>(lockPath);
    // A lock left by a crashed process is taken over (QLockFile checks the pid).
    lock_->setStaleLockTime(0);
    // Not waited for: a lock that is held belongs to a copy that runs (a
    // stale one is taken over at once), and a desktop's shortcut runs
    // `--capture` at every press.
    if (folderProblem_.isEmpty() && lock_->tryLock(0)) {
        // QLockFile creates it with the umask's mode; it names our process
        // and host, which is nobody else's business.
        QFile::setPermissions(lockPath, QFile::ReadOwner | QFile::WriteOwner);
        return Claim::claimed;
    }
    // A copy that runs keeps its lock even where the folder has since become
    // read-only; a lock nobody holds any more is only stuck.
    const bool held = folderProblem_.isEmpty() ? lock_->error() == QLockFile::LockFailedError
                                                : holderRuns(*lock_);
    if (held) {
        folderProblem_.clear();
        return Claim::anotherRuns;
    }
    if (folderProblem_.isEmpty())
        folderProblem_ = QStringLiteral("the lock file %1 cannot be created").arg(lockPath);
    return Claim::folderUnusable;
}

void SingleInstance::handOver(Request request)
{
    handOverProblem_.clear();
    qint64 pid = 0;
    QString host;
    QString application;
    const QString holder = lock_->getLockInfo(&pid, &host, &application)
                               ? QStringLiteral("the running copy (process %1)").arg(pid)
                               : QStringLiteral("the running copy");
    if (!bus().isConnected()) {
        handOverProblem_ = QStringLiteral("%1 cannot be reached: no D-Bus session bus (%2)")
                               .arg(holder, bus().lastError().message());
        return;
    }
    const QString method = request == Request::capture ? QStringLiteral("Capture") : QStringLiteral("ShowPanel");
    const QDBusMessage call = QDBusMessage::createMethodCall(serviceName_, kObjectPath, kInterface, method);
    // A copy that has just taken the lock owns its name a moment later.
    QDeadlineTimer starting(5000);
    for (;;) {
        const QDBusMessage reply = bus().call(call, QDBus::BlockWithGui, 3000);
        if (reply.type() == QDBusMessage::ReplyMessage)
            return;
        const bool notYet = reply.errorName() == QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown")
                            || reply.errorName() == QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner");
        if (!notYet || starting.hasExpired()) {
            handOverProblem_ = QStringLiteral("%1 did not answer on D-Bus as %2: %3")
                                   .arg(holder, serviceName_, reply.errorMessage());
            return;
        }
        QThread::msleep(100);
    }
}

void SingleInstance::ShowPanel()
{
    emit showPanelRequested();
}

void SingleInstance::Capture()
{
    emit captureRequested();
}

} // namespace pendrel
