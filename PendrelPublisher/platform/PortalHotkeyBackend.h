#pragma once

#include "platform/HotkeyBackend.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QObject>
#include <QVariantMap>

#include <QCoroTask>

namespace pendrel {

// One entry of the portal's shortcut list, a(sa{sv}) on the bus.
struct PortalShortcut {
    QString id;
    QVariantMap properties;
};
QDBusArgument &operator<<(QDBusArgument &argument, const PortalShortcut &shortcut);
const QDBusArgument &operator>>(const QDBusArgument &argument, PortalShortcut &shortcut);

// Super+Shift+S through the desktop portal's GlobalShortcuts interface,
// where windows cannot grab keys themselves (Wayland). The desktop asks the
// user to confirm the binding and may pick another trigger.
class PortalHotkeyBackend final : public QObject, public HotkeyBackend {
    Q_OBJECT

public:
    static constexpr QStringView shortcutID = u"capture-clipboard";

    explicit PortalHotkeyBackend(QDBusConnection bus = QDBusConnection::sessionBus(),
                                 QObject *parent = nullptr);

    // Whether the session's portal offers global shortcuts.
    static bool isAvailable(const QDBusConnection &bus = QDBusConnection::sessionBus());

    // Starts the binding and returns at once; false without the portal.
    bool registerHotkey(std::function<void()> pressed) override;
    void unregisterHotkey() override;

    [[nodiscard]] bool isBound() const { return !session_.isEmpty(); }

signals:
    void responded(uint response, const QVariantMap &results);

private slots:
    void onResponse(uint response, const QVariantMap &results);
    void onActivated(const QDBusMessage &message);

private:
    QCoro::Task<void> bind();
    // Calls a portal method that answers through a Request object and waits
    // for its Response; nothing when the call or the request failed.
    QCoro::Task<std::optional<QVariantMap>> request(const QString &method, QVariantList arguments,
                                                    QString token);

    QDBusConnection bus_;
    std::function<void()> pressed_;
    QString session_;
    std::optional<std::pair<uint, QVariantMap>> response_; // of the request in flight
};

} // namespace pendrel

Q_DECLARE_METATYPE(pendrel::PortalShortcut)
