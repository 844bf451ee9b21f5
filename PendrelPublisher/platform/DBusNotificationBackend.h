#pragma once

#include "platform/NotificationBackend.h"

#include <QDBusConnection>
#include <QHash>
#include <QObject>

#include <functional>

namespace pendrel {

// Desktop notifications through org.freedesktop.Notifications. A click on
// one of ours (its "default" action) emits activated() with the data the
// notification was posted with; clicks on other applications' notifications
// are not ours to handle. Without a notification server, `fallback` shows
// the request instead (the tray's balloon).
class DBusNotificationBackend final : public QObject, public NotificationBackend {
    Q_OBJECT

public:
    explicit DBusNotificationBackend(QDBusConnection bus = QDBusConnection::sessionBus(),
                                     QObject *parent = nullptr);

    std::function<void(const NotificationRequest &)> fallback;

    // The desktop decides what is shown; there is nothing to ask for.
    QCoro::Task<void> requestAuthorization() override;
    QCoro::Task<void> add(NotificationRequest request) override;

signals:
    void activated(const QVariantMap &userInfo);

private slots:
    void onActionInvoked(uint id, const QString &action);
    void onNotificationClosed(uint id, uint reason);

private:
    QCoro::Task<bool> serverHasActions();

    QDBusConnection bus_;
    std::optional<bool> hasActions_;
    QHash<uint, QVariantMap> posted_;   // our notifications on screen, by server id
    QHash<QString, uint> idsByRequest_; // so a repeated request replaces its predecessor
};

} // namespace pendrel
