#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>
#include <QTimer>

namespace pendrel {

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
