#include "shell/PendrelPublisherApp.h"

#include "platform/DesktopSession.h"
#include "platform/FileSecretBackend.h"
#include "platform/KGlobalAccelHotkeyBackend.h"
#include "platform/PortalHotkeyBackend.h"
#include "platform/QtKeychainBackend.h"
#include "platform/X11HotkeyBackend.h"
#include "shell/PanelWindow.h"
#include "shell/StatusIconImages.h"
#include "state/AppConfiguration.h"
#include "support/Tasks.h"

#include <QApplication>
#include <QDir>
#include <QPointer>
#include <QTimer>

namespace pendrel {

PendrelPublisherApp::PendrelPublisherApp()
    : shortcutSetup_(GnomeShortcutSetup::captureCommand(), [] { return PortalHotkeyBackend::isAvailable(); },
                     [this] {
                         // The settings' shortcut row depends on the answer as
                         // much as on the status; it renders again on this.
                         if (globalShortcutService_)
                             globalShortcutService_->refresh();
                         if (appState_)
                             emit appState_->shortcutStatusChanged();
                     })
{
    // Set Up and Remove in the settings change what the log and the row say.
    shortcutSetup_.changed = [this] {
        if (globalShortcutService_)
            globalShortcutService_->refresh();
    };
    secrets_ = std::make_unique<FallbackSecretBackend>(
        std::make_unique<QtKeychainBackend>(),
        std::make_unique<FileSecretBackend>(PersistenceStore::defaultBaseFolder()
                                            + QStringLiteral("/secrets")));
    AppStateServices services;
    services.secrets = secrets_.get();
    services.clipboard = &clipboard_;
    services.urlOpener = &urlOpener_;
    services.notifications = &notifications_;
    services.loginItems = &loginItems_;
    services.shortcutSetup = &shortcutSetup_;
    appState_ = std::make_unique<AppState>(services);
}

PendrelPublisherApp::~PendrelPublisherApp()
{
    startupReport_.reset(); // it watches the panel
    updaterService_.reset();
    globalShortcutService_.reset();
    statusItemController_.reset();
}

void PendrelPublisherApp::launch()
{
    // 1. Clicks on our notifications.
    connect(&notifications_, &DBusNotificationBackend::activated, this,
            &PendrelPublisherApp::handleNotificationClick);
    // 3. The application icon on every window: the full-colour icon the
    // package installs (the tray's outline would vanish on dark title bars).
    QApplication::setWindowIcon(StatusIconImages::applicationIcon());
    // 4. The tray and the panel.
    statusItemController_ = std::make_unique<StatusItemController>(*appState_);
    const QPointer<StatusItemController> tray(statusItemController_.get());
    notifications_.fallback = [tray](const NotificationRequest &r) {
        if (tray)
            tray->showMessage(r.title, r.body);
    };
    if (AppConfiguration::reportStartup())
        startupReport_ = std::make_unique<StartupReport>(*appState_, statusItemController_->panel());
    // 5. The capture shortcut: the keys kept with the appearance settings.
    // By the session: on Wayland only the desktop can bind keys (an X11
    // grab through Xwayland fires only while an X11 window has the focus).
    // On KDE its own daemon, whose binding lasts; elsewhere the portal.
    std::unique_ptr<HotkeyBackend> hotkeys;
    switch (sessionKind()) {
    case SessionKind::Wayland:
        // Neither waits for the desktop's answers: they report them as
        // they come, while the stored state is read.
        if (isKdeDesktop() && KGlobalAccelHotkeyBackend::isAvailable())
            hotkeys = std::make_unique<KGlobalAccelHotkeyBackend>();
        else
            hotkeys = std::make_unique<PortalHotkeyBackend>(); // says Unavailable without a portal
        break;
    case SessionKind::X11:
        if (X11HotkeyBackend::isAvailable())
            hotkeys = std::make_unique<X11HotkeyBackend>();
        break;
    case SessionKind::None:
        break;
    }
    const QPointer<PendrelPublisherApp> self(this);
    globalShortcutService_ = std::make_unique<GlobalShortcutService>(
        std::move(hotkeys),
        [self] {
            StartupReport::captureRequested();
            if (self)
                self->capture();
        },
        &shortcutSetup_);
    // The settings say where the shortcut stands, in the same words as the log.
    globalShortcutService_->onStateChange = [this](HotkeyState) {
        appState_->setShortcutStatus(globalShortcutService_->statusText());
    };
    const QString keysFile = StatusItemController::appearanceSettingsPath();
    const ShortcutKeys keys = GlobalShortcutService::storedKeys(keysFile);
    globalShortcutService_->setKeys(keys);
    setShortcutSetupKeys(keys);
    appState_->setShortcutKeys(keys);
    // Keys chosen in the settings: kept, and bound on every path at once.
    connect(appState_.get(), &AppState::shortcutKeysChanged, this, [this, keysFile] {
        const ShortcutKeys chosen = appState_->shortcutKeys();
        GlobalShortcutService::storeKeys(keysFile, chosen);
        setShortcutSetupKeys(chosen);
        globalShortcutService_->setKeys(chosen);
        appState_->setShortcutStatus(globalShortcutService_->statusText());
    });
    globalShortcutService_->install();
    // A desktop that is asked answers later, through onStateChange.
    if (globalShortcutService_->hasAnswer())
        appState_->setShortcutStatus(globalShortcutService_->statusText());
    // 6. The updater.
    updaterService_ = std::make_unique<UpdaterService>(*appState_);
    updaterService_->panelLook = [tray] { return tray ? tray->panelLook() : PanelLook::light; };
    // 7. Start-up of the state.
    startDetached(appState_->bootstrap(), QStringLiteral("Start-up"));
    // 8. Updates (a background check in the production build).
    updaterService_->start();
    // 9. The panel's content, made while nothing else is going on; then
    // the panel at launch, on request, or always when there is no tray to
    // open it from.
    QTimer::singleShot(0, this, [this] { statusItemController_->preparePanel(); });
    if (AppConfiguration::showPanelOnLaunch() || !statusItemController_->hasTray()) {
        QTimer::singleShot(350, this, [this] {
            // A tray that came up in the meantime opens the panel from now on.
            if (AppConfiguration::showPanelOnLaunch() || !statusItemController_->hasTray())
                showPanel();
        });
    }
}

void PendrelPublisherApp::setShortcutSetupKeys(const ShortcutKeys &keys)
{
    try {
        shortcutSetup_.setKeys(keys);
    } catch (const std::exception &e) {
        qWarning("The GNOME shortcut keeps its keys: %s", e.what());
    }
}

void PendrelPublisherApp::showPanel()
{
    if (statusItemController_)
        statusItemController_->showPanel();
}

void PendrelPublisherApp::capture()
{
    // The clipboard is read now, at the key press (or the hand-over from a
    // second launch): by the time start-up has finished it may hold
    // something else. The state keeps captures made during start-up in
    // order and turns them into jobs once the stored state is in.
    appState_->captureClipboard();
}

void PendrelPublisherApp::handleNotificationClick(const QVariantMap &userInfo)
{
    NotificationService::handleClick(
        userInfo, [this](const QUrl &url) { appState_->openExternalURL(url); }, [this] { showPanel(); });
}

} // namespace pendrel
