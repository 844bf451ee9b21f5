#pragma once

#include "platform/HotkeyBackend.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusServiceWatcher>
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

// The shortcuts of a portal answer or signal, a(sa{sv}) inside a variant.
QList<PortalShortcut> portalShortcuts(const QVariant &value);

// Super+Shift+S through the desktop portal's GlobalShortcuts interface,
// where windows cannot grab keys themselves (Wayland). The desktop asks the
// user to confirm the binding and may pick another trigger; only the
// shortcuts its answer lists are bound.
class PortalHotkeyBackend final : public QObject, public HotkeyBackend {
    Q_OBJECT

public:
    static constexpr QStringView shortcutID = u"capture-clipboard";
    static constexpr QStringView appID = u"com.pendrel.publisher";

    explicit PortalHotkeyBackend(QDBusConnection bus = QDBusConnection::sessionBus(),
                                 QObject *parent = nullptr);

    // Whether the session's portal offers global shortcuts. Asked without
    // waiting: the bus may have to start the portal first (about 0.4 s), or
    // a portal that hangs takes up to 2 s to give up on.
    static QCoro::Task<bool> isAvailable(QDBusConnection bus = QDBusConnection::sessionBus());

    // Returns at once, saying nothing: whether the portal is there (Pending
    // once it is, Unavailable if not), and then what the desktop bound, are
    // reported as the answers come.
    bool registerHotkey(std::function<void()> pressed) override;
    void unregisterHotkey() override;
    [[nodiscard]] bool answersLater() const override { return true; }

    // Whether the desktop's answer listed the shortcut.
    [[nodiscard]] bool isBound() const { return bound_; }
    // The keys the desktop says it assigned (its trigger_description).
    [[nodiscard]] QString trigger() const { return trigger_; }

signals:
    void responded(uint response, const QVariantMap &results);

private slots:
    void onResponse(uint response, const QVariantMap &results);
    void onActivated(const QDBusMessage &message);
    void onShortcutsChanged(const QDBusMessage &message);

private:
    // Asks whether the portal is there, then binds.
    QCoro::Task<void> start();
    QCoro::Task<void> bind();
    // Calls a portal method that answers through a Request object and waits
    // for its Response code and results; nothing when the call failed.
    QCoro::Task<std::optional<std::pair<uint, QVariantMap>>> request(const QString &method,
                                                                     QVariantList arguments, QString token);
    // Takes the shortcut list the desktop reports as what is bound.
    void takeShortcuts(const QList<PortalShortcut> &shortcuts);

    QDBusConnection bus_;
    std::function<void()> pressed_;
    QDBusServiceWatcher watcher_;
    QString session_;
    bool bound_ = false;
    QString trigger_;
    int generation_ = 0;                                   // a bind started before a portal restart gives up
    std::optional<std::pair<uint, QVariantMap>> response_; // of the request in flight
};

} // namespace pendrel

Q_DECLARE_METATYPE(pendrel::PortalShortcut)
