#include "platform/DBusNotificationBackend.h"

#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusPendingReply>

#include <QCoroDBus>

namespace pendrel {

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");

} // namespace

DBusNotificationBackend::DBusNotificationBackend(QDBusConnection bus, QObject *parent)
    : QObject(parent), bus_(std::move(bus))
{
    bus_.connect(kService, kPath, kInterface, QStringLiteral("ActionInvoked"), this,
                 SLOT(onActionInvoked(uint, QString)));
    bus_.connect(kService, kPath, kInterface, QStringLiteral("NotificationClosed"), this,
                 SLOT(onNotificationClosed(uint, uint)));
}

QCoro::Task<void> DBusNotificationBackend::requestAuthorization()
{
    co_return;
}

QCoro::Task<bool> DBusNotificationBackend::serverHasActions()
{
    if (hasActions_)
        co_return *hasActions_;
    const QDBusMessage message =
        QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("GetCapabilities"));
    const QDBusPendingCall pending = bus_.asyncCall(message);
    const QDBusMessage reply = co_await pending;
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        co_return false; // not cached: the server may start later
    hasActions_ = reply.arguments().first().toStringList().contains(QStringLiteral("actions"));
    co_return *hasActions_;
}

QCoro::Task<void> DBusNotificationBackend::add(NotificationRequest request)
{
    const bool actions = co_await serverHasActions();
    QDBusMessage message =
        QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Notify"));
    const QVariantMap hints{{QStringLiteral("desktop-entry"), QStringLiteral("com.pendrel.publisher")},
                            {QStringLiteral("sound-name"), QStringLiteral("message-new-instant")}};
    message << QStringLiteral("Pendrel Publisher") << idsByRequest_.value(request.identifier, 0u)
            << QStringLiteral("com.pendrel.publisher") << request.title << request.body
            << (actions ? QStringList{QStringLiteral("default"), QStringLiteral("Open")} : QStringList())
            << hints << qint32(-1);
    const QDBusPendingCall pending = bus_.asyncCall(message);
    const QDBusMessage reply = co_await pending;
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
        // No notification server on this desktop.
        if (fallback)
            fallback(request);
        co_return;
    }
    const uint id = reply.arguments().first().toUInt();
    posted_.insert(id, request.userInfo);
    idsByRequest_.insert(request.identifier, id);
}

void DBusNotificationBackend::onActionInvoked(uint id, const QString &action)
{
    const auto it = posted_.constFind(id);
    if (it == posted_.constEnd() || action != u"default")
        return;
    emit activated(*it);
}

void DBusNotificationBackend::onNotificationClosed(uint id, uint)
{
    posted_.remove(id);
    for (auto it = idsByRequest_.begin(); it != idsByRequest_.end();) {
        it = it.value() == id ? idsByRequest_.erase(it) : std::next(it);
    }
}

} // namespace pendrel
