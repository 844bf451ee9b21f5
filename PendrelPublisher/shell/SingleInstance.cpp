#include "shell/SingleInstance.h"

#include <QDBusMessage>
#include <QDir>

namespace pendrel {

namespace {

const QString kObjectPath = QStringLiteral("/com/pendrel/publisher");
const QString kInterface = QStringLiteral("com.pendrel.publisher.Instance");

} // namespace

SingleInstance::SingleInstance(QString lockFolder, QString serviceName, QDBusConnection bus, QObject *parent)
    : QObject(parent), lockFolder_(std::move(lockFolder)), serviceName_(std::move(serviceName)),
      bus_(std::move(bus))
{
}

bool SingleInstance::claim()
{
    QDir().mkpath(lockFolder_);
    lock_ = std::make_unique<QLockFile>(QDir(lockFolder_).filePath(QStringLiteral("instance.lock")));
    // A lock left by a crashed process is taken over (QLockFile checks the pid).
    lock_->setStaleLockTime(0);
    if (!lock_->tryLock(200)) {
        if (bus_.isConnected()) {
            const QDBusMessage call = QDBusMessage::createMethodCall(serviceName_, kObjectPath, kInterface,
                                                                     QStringLiteral("ShowPanel"));
            bus_.call(call, QDBus::BlockWithGui, 3000);
        }
        return false;
    }
    if (bus_.isConnected()) {
        bus_.registerObject(kObjectPath, this, QDBusConnection::ExportScriptableSlots);
        bus_.registerService(serviceName_);
    }
    return true;
}

void SingleInstance::ShowPanel()
{
    emit showPanelRequested();
}

} // namespace pendrel
