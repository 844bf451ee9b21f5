#pragma once

#include "platform/HotkeyBackend.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusServiceWatcher>
#include <QKeySequence>
#include <QObject>

#include <QCoroTask>

#include <optional>

namespace pendrel {

// The chosen keys through KDE's shortcut daemon (kglobalaccel, served by
// KWin on Plasma), the way KDE's own applications bind theirs. Plasma 5.27's
// GlobalShortcuts portal cannot bind a shortcut for any application (its
// back end reads them only from a CreateSession option that
// xdg-desktop-portal drops), and opens System Settings at every try.
// The component is named after the application, so the binding, and a
// change the user makes to it in System Settings, outlive the process.
class KGlobalAccelHotkeyBackend final : public QObject, public HotkeyBackend {
    Q_OBJECT

public:
    static constexpr QStringView component = u"com.pendrel.publisher";
    static constexpr QStringView action = u"capture-clipboard";

    explicit KGlobalAccelHotkeyBackend(QDBusConnection bus = QDBusConnection::sessionBus(),
                                       QObject *parent = nullptr);
    ~KGlobalAccelHotkeyBackend() override;

    static bool isAvailable(const QDBusConnection &bus = QDBusConnection::sessionBus());

    // Returns at once, the state Pending; the outcome is reported.
    bool registerHotkey(std::function<void()> pressed) override;
    void unregisterHotkey() override;

    // The keys the daemon assigned, in its own words ("Meta+Shift+S");
    // empty while not bound.
    [[nodiscard]] QString trigger() const { return trigger_; }
    // Who holds the chosen keys when the daemon gave us no keys.
    [[nodiscard]] QString holder() const override { return holder_; }
    // The holder as the user knows it, from kglobalaccel's action id
    // (component, action, component's name, action's name).
    static QString holderName(const QStringList &actionId);

private slots:
    void onPressed(const QString &componentUnique, const QString &actionUnique, qlonglong timestamp);
    void onShortcutsChanged(const QDBusMessage &message);

private:
    // Registers the action and asks for the keys; reports the outcome.
    // Not waited for: KWin may be busy drawing the session's first frames.
    QCoro::Task<void> bind();
    void setTrigger(const QList<QKeySequence> &keys);

    QDBusConnection bus_;
    QDBusServiceWatcher watcher_;
    std::function<void()> pressed_;
    QString componentPath_;
    QString trigger_;
    QString holder_;
    std::optional<ShortcutKeys> lastAsked_; // the keys of the last bind
    int generation_ = 0; // a bind overtaken by a newer one, or by unregistering, gives up
};

} // namespace pendrel
