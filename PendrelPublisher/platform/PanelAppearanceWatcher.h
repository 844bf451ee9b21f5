#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>
#include <QTimer>
#include <QVariant>

#include <optional>

namespace pendrel {

// Xfce's settings daemon (xfconfd) on the session bus, for everyone that
// follows an Xfce setting while the program runs.
namespace xfconf {
// One property's change, as PropertyChanged reports it.
struct Change {
    QString channel;
    QString property;
    QVariant value; // unwrapped from its D-Bus variant
};
// Calls receiver's slot(const QDBusMessage &) on every change xfconfd
// reports, from any sender: xfconfd may start after us, or again.
bool watch(QDBusConnection bus, QObject *receiver, const char *slot);
// The change a PropertyChanged message carries, if it is one.
std::optional<Change> change(const QDBusMessage &message);
// The GetProperty call for one property; its reply's value is unwrapped by value().
QDBusMessage getProperty(const QString &channel, const QString &property);
QVariant value(const QVariant &argument);
} // namespace xfconf

// Tells when the desktop's panel may have changed colour while the program
// runs: Xfce's panel settings (xfconf), the desktop's colour-scheme
// preference (the settings portal) and theme, and the application palette.
// changed() comes once per burst, a moment after the last change, so that
// the panel has redrawn before anyone looks at it again.
class PanelAppearanceWatcher : public QObject {
    Q_OBJECT

public:
    static constexpr int settleMs = 400;

    explicit PanelAppearanceWatcher(QDBusConnection bus = QDBusConnection::sessionBus(), QObject *parent = nullptr);

    // Whether a setting that xfconfd reports can recolour the panel.
    static bool xfconfRecolours(const QString &channel, const QString &property);
    // Whether a setting that the settings portal reports can recolour it.
    static bool portalRecolours(const QString &group, const QString &key);

signals:
    void changed();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private slots:
    // Both read the message themselves: (s, s, v) each.
    void onXfconfChanged(const QDBusMessage &message);
    void onPortalSettingChanged(const QDBusMessage &message);

private:
    QTimer settle_;
};

} // namespace pendrel
