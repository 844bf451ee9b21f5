#pragma once

#include <QAbstractNativeEventFilter>
#include <QDBusServiceWatcher>
#include <QList>
#include <QObject>
#include <QRect>
#include <QTimer>

namespace pendrel {

// Whether the desktop has a tray for the icon yet, and when one appears:
// a StatusNotifierItem host (org.kde.StatusNotifierWatcher on the session
// bus) or, on X11, an XEmbed system tray (the _NET_SYSTEM_TRAY_Sn selection).
//
// Qt decides between its D-Bus tray icon and XEmbed once per process, the
// first time a tray icon is made or asked about; asked before the desktop's
// panel is up, it would keep XEmbed for good. These checks do not ask Qt.
class TrayHostWatcher : public QObject, public QAbstractNativeEventFilter {
    Q_OBJECT

public:
    explicit TrayHostWatcher(QObject *parent = nullptr);
    ~TrayHostWatcher() override;

    static bool statusNotifierWatcherPresent();
    static bool xembedTrayPresent();
    static bool present() { return statusNotifierWatcherPresent() || xembedTrayPresent(); }
    // Where the desktop's panels (dock windows) are on X11, widest first:
    // a StatusNotifierItem host does not say where it draws the icon, but it
    // is one of these.
    static QList<QRect> dockGeometries();

    // Emits appeared() once, when a tray turns up. A bare XEmbed tray is
    // reported after a short wait: the panels that offer both start their
    // StatusNotifierWatcher about the same moment, and that one is preferred.
    void watch();

    bool nativeEventFilter(const QByteArray &eventType, void *message, qintptr *result) override;

signals:
    void appeared();

private:
    void report();

    QDBusServiceWatcher watcher_;
    QTimer xembedGrace_;
    quint32 managerAtom_ = 0;
    quint32 selectionAtom_ = 0;
    bool watching_ = false;
};

} // namespace pendrel
