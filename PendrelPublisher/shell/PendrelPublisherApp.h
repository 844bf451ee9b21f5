#pragma once

#include "platform/DBusNotificationBackend.h"
#include "platform/DesktopUrlOpener.h"
#include "platform/GnomeShortcutSetup.h"
#include "platform/QtClipboardReader.h"
#include "platform/XdgLoginItemBackend.h"
#include "shell/GlobalShortcutService.h"
#include "shell/StartupReport.h"
#include "shell/StatusItemController.h"
#include "shell/UpdaterService.h"
#include "state/AppState.h"

#include <QObject>

#include <memory>

namespace pendrel {

class SecretBackend;

// The application: the desktop services, the state and the tray, created
// and started in launch order.
class PendrelPublisherApp : public QObject {
    Q_OBJECT

public:
    PendrelPublisherApp();
    ~PendrelPublisherApp() override;

    void launch();
    [[nodiscard]] AppState &appState() const { return *appState_; }
    void showPanel();
    // What Super+Shift+S does: takes the clipboard's text at once, also
    // while the stored state is still being read (it becomes a job after it).
    void capture();

private:
    // Moves GNOME's custom shortcut, where added, to the keys.
    void setShortcutSetupKeys(const ShortcutKeys &keys);
    void handleNotificationClick(const QVariantMap &userInfo);

    QtClipboardReader clipboard_;
    DesktopUrlOpener urlOpener_;
    DBusNotificationBackend notifications_;
    XdgLoginItemBackend loginItems_;
    GnomeShortcutSetup shortcutSetup_;
    std::unique_ptr<SecretBackend> secrets_;
    std::unique_ptr<AppState> appState_;
    std::unique_ptr<StatusItemController> statusItemController_;
    std::unique_ptr<GlobalShortcutService> globalShortcutService_;
    std::unique_ptr<UpdaterService> updaterService_;
    std::unique_ptr<StartupReport> startupReport_;
};

} // namespace pendrel
