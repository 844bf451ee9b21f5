#include "shell/StatusItemController.h"

#include "platform/ColorSchemePreference.h"
#include "platform/PanelAppearanceWatcher.h"
#include "platform/TrayHostWatcher.h"
#include "shell/PanelPlacement.h"
#include "shell/PanelWindow.h"
#include "shell/StatusIconImages.h"
#include "state/AppConfiguration.h"
#include "state/AppState.h"
#include "ui/ClipperPanelView.h"

#include <QActionGroup>
#include <algorithm>
#include <QApplication>
#include <QCursor>
#include <QDBusAbstractAdaptor>
#include <QMetaClassInfo>
#include <QDBusConnection>
#include <QDir>
#include <QHash>
#include <QSettings>
#include <QStandardPaths>
#include <QTimer>
#include <QGuiApplication>
#include <QPointer>
#include <QScreen>

namespace pendrel {

namespace {

// Popups place themselves only where the window system lets them.
bool canPlacePopups(bool tray)
{
    return tray && !QGuiApplication::platformName().startsWith(u"wayland");
}

// Qt's StatusNotifierItem has no accessible descriptions, which GNOME's
// AppIndicator extension asks for (and logs as missing at every ask). Qt
// answers a property Get from the interface's adaptor, dynamic properties
// included: the item's adaptor on the connection Qt opened for it.
QObject *statusNotifierAdaptor()
{
    const QString itemPath = QStringLiteral("/StatusNotifierItem");
    QList<QDBusConnection> buses;
    for (int n = 1; n <= 8; ++n)
        buses.append(QDBusConnection(
            QStringLiteral("org.kde.StatusNotifierItem-%1-%2").arg(QCoreApplication::applicationPid()).arg(n)));
    buses.append(QDBusConnection::sessionBus());
    for (const QDBusConnection &bus : buses) {
        QObject *item = bus.isConnected() ? bus.objectRegisteredAt(itemPath) : nullptr;
        if (!item)
            continue;
        for (QObject *child : item->children()) {
            const QMetaObject *meta = child->metaObject();
            const int info = meta->indexOfClassInfo("D-Bus Interface");
            if (qobject_cast<QDBusAbstractAdaptor *>(child) && info >= 0
                && qstrcmp(meta->classInfo(info).value(), "org.kde.StatusNotifierItem") == 0)
                return child;
        }
    }
    return nullptr;
}

} // namespace

StatusItemController::StatusItemController(AppState &state, QObject *parent)
    : QObject(parent), state_(state), presenter_([this](const IconLook &look) { showIcon(look); },
                                                 [this] { return state_.statusIconState(); })
{
    // Not QSystemTrayIcon::isSystemTrayAvailable(): asked before a tray is
    // up, Qt would settle on XEmbed for the rest of the run.
    const bool trayAtLaunch = TrayHostWatcher::present();
    panel_ = std::make_unique<PanelWindow>(state_, canPlacePopups(trayAtLaunch));
    // Signing in grows the panel from 548 to 760 pixels: against a tray at
    // the bottom it must move up, not run over the taskbar.
    connect(panel_.get(), &PanelWindow::resizedWhileShown, this, &StatusItemController::placePanelWindow);

    checkForUpdates_ = menu_.addAction(state_.appUpdateState().actionTitle());
    checkForUpdates_->setEnabled(state_.appUpdateState().canCheckForUpdates);
    connect(checkForUpdates_, &QAction::triggered, this, [this] {
        if (state_.onCheckForUpdatesRequested)
            state_.onCheckForUpdatesRequested();
    });
    // Some trays (GNOME's AppIndicator) open the menu on every click; the
    // panel must be reachable from there too.
    QAction *open = menu_.addAction(QStringLiteral("Open Pendrel Publisher"));
    connect(open, &QAction::triggered, this, &StatusItemController::showPanel);
    // Trays differ in colour and not every one says which: the user can fix
    // the icon's look where "Automatic" guesses wrong.
    style_ = StatusIconImages::styleFromName(
                 QSettings(appearanceSettingsPath(), QSettings::IniFormat).value(QStringLiteral("trayIconStyle")).toString())
                 .value_or(TrayIconStyle::automatic);
    QMenu *styles = menu_.addMenu(QStringLiteral("Tray icon style"));
    styles->setObjectName(QStringLiteral("trayIconStyleMenu"));
    auto *group = new QActionGroup(styles);
    const std::pair<TrayIconStyle, const char *> choices[] = {{TrayIconStyle::automatic, "Automatic"},
                                                              {TrayIconStyle::light, "Light"},
                                                              {TrayIconStyle::dark, "Dark"},
                                                              {TrayIconStyle::colour, "Colour"}};
    for (const auto &[style, title] : choices) {
        QAction *choice = styles->addAction(QString::fromLatin1(title));
        choice->setCheckable(true);
        choice->setChecked(style == style_);
        choice->setData(StatusIconImages::styleName(style));
        group->addAction(choice);
        connect(choice, &QAction::triggered, this, [this, style = style] { setTrayIconStyle(style); });
    }
    // The panel's look, beside the icon's.
    QSettings kept(appearanceSettingsPath(), QSettings::IniFormat);
    appearanceChoice_ =
        appearanceFromName(kept.value(QStringLiteral("panelAppearance")).toString()).value_or(PanelAppearance::automatic);
    appearanceMenu_ = menu_.addMenu(QStringLiteral("Appearance"));
    appearanceMenu_->setObjectName(QStringLiteral("panelAppearanceMenu"));
    auto *looks = new QActionGroup(appearanceMenu_);
    const std::pair<PanelAppearance, const char *> lookChoices[] = {{PanelAppearance::automatic, "Automatic"},
                                                                    {PanelAppearance::light, "Light"},
                                                                    {PanelAppearance::dark, "Dark"}};
    for (const auto &[choice, title] : lookChoices) {
        QAction *action = appearanceMenu_->addAction(QString::fromLatin1(title));
        action->setCheckable(true);
        action->setChecked(choice == appearanceChoice_);
        action->setData(appearanceName(choice));
        looks->addAction(action);
        connect(action, &QAction::triggered, this, [this, choice = choice] { setPanelAppearance(choice); });
    }
    colorScheme_ = new ColorSchemePreference(QDBusConnection::sessionBus(), this);
    connect(colorScheme_, &ColorSchemePreference::changed, this, &StatusItemController::applyPanelLook);
    colorScheme_->start();
    applyPanelLook();
    menu_.addSeparator();
    QAction *quit = menu_.addAction(QStringLiteral("Quit Pendrel Publisher"));
    quit->setShortcut(QKeySequence::Quit);
    connect(quit, &QAction::triggered, qApp, &QCoreApplication::quit);
    connect(&menu_, &QMenu::aboutToShow, this, &StatusItemController::hidePanel);

    if (trayAtLaunch) {
        createTrayIcon();
    } else {
        // Started at login, the program can win the race against the
        // desktop's panel: the icon is made once a tray is there, as a launch
        // at that moment would make it (a StatusNotifierItem where the
        // desktop has a watcher).
        trayHosts_ = new TrayHostWatcher(this);
        connect(trayHosts_, &TrayHostWatcher::appeared, this, &StatusItemController::adoptTray);
        trayHosts_->watch();
    }
    qApp->installEventFilter(this);
    // A panel that turns dark at dusk (or light again) while we run: look
    // at it again once it has redrawn, and once more a little later for a
    // slow panel.
    appearance_ = new PanelAppearanceWatcher(QDBusConnection::sessionBus(), this);
    connect(appearance_, &PanelAppearanceWatcher::changed, this, [this] {
        showIcon(look_);
        samplePanel();
        QTimer::singleShot(1500, this, &StatusItemController::samplePanel);
    });

    const QPointer<StatusItemController> self(this);
    state_.onStatusIconStateChange = [self](const StatusIconState &s) {
        if (!self)
            return;
        self->presenter_.apply(s);
        self->updateToolTip();
    };
    // The stage shown in the tooltip moves on without the icon's state changing.
    connect(&state_, &AppState::jobsChanged, this, &StatusItemController::updateToolTip);
    state_.onPanelRequested = [self] {
        if (self)
            self->showPanel();
    };
    state_.onPanelDismissRequested = [self] {
        if (self)
            self->hidePanel();
    };
    state_.onPreferredPanelSizeChange = [self](int width, int height) {
        if (self)
            self->panel_->setPanelSize(width, height);
    };
    state_.onUpdateStateChange = [self](const AppUpdateState &update) {
        if (!self)
            return;
        self->checkForUpdates_->setText(update.actionTitle());
        self->checkForUpdates_->setEnabled(update.canCheckForUpdates);
    };
}

StatusItemController::~StatusItemController()
{
    state_.onStatusIconStateChange = nullptr;
    state_.onPanelRequested = nullptr;
    state_.onPanelDismissRequested = nullptr;
    state_.onPreferredPanelSizeChange = nullptr;
    state_.onUpdateStateChange = nullptr;
}

void StatusItemController::createTrayIcon()
{
    tray_ = new QSystemTrayIcon(this);
    tray_->setContextMenu(&menu_);
    connect(tray_, &QSystemTrayIcon::activated, this, &StatusItemController::onActivated);
    updateToolTip();
    showIcon(look_);
    tray_->show();
    describeItem();
    // The tray has placed the icon a moment after it is shown.
    QTimer::singleShot(1500, this, &StatusItemController::samplePanel);
}

void StatusItemController::adoptTray()
{
    trayHosts_->deleteLater();
    trayHosts_ = nullptr;
    createTrayIcon();
    // The window was shown for want of a tray; the icon opens the panel now.
    hidePanel();
    panel_->setPopup(canPlacePopups(true));
}

void StatusItemController::updateToolTip()
{
    if (!tray_)
        return;
    std::optional<JobStep> step;
    for (const JobRecord &job : state_.jobs()) {
        if (job.status == JobStatus::running && !job.aborted && job.step) {
            step = job.step;
            break;
        }
    }
    const QString text = StatusIconPresenter::toolTip(state_.statusIconState(), step);
    if (tray_->toolTip() != text)
        tray_->setToolTip(text);
    describeItem();
}

void StatusItemController::describeItem()
{
    if (!tray_ || !tray_->isVisible())
        return;
    QObject *adaptor = statusNotifierAdaptor();
    if (!adaptor)
        return; // an XEmbed icon, or Qt's item not registered (yet)
    adaptor->setProperty("IconAccessibleDesc", tray_->toolTip());
    adaptor->setProperty("AttentionAccessibleDesc", StatusIconPresenter::toolTip(StatusIconState::error(), {}));
}

void StatusItemController::onActivated(QSystemTrayIcon::ActivationReason reason)
{
    if (reason == QSystemTrayIcon::Context)
        return; // the tray shows the menu itself
    if (reason == QSystemTrayIcon::Trigger && (QGuiApplication::keyboardModifiers() & Qt::ControlModifier)) {
        hidePanel();
        menu_.popup(QCursor::pos());
        return;
    }
    if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
        togglePanel();
}

void StatusItemController::showIcon(const IconLook &look)
{
    look_ = look;
    if (tray_)
        tray_->setIcon(StatusIconImages::icon(look, StatusIconImages::resolve(style_, panelColor())));
}

QString StatusItemController::appearanceSettingsPath()
{
    QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    if (config.isEmpty())
        config = QDir::homePath() + QStringLiteral("/.config");
    return config + QStringLiteral("/PendrelPublisher/")
           + AppConfiguration::bundleFolderName(AppConfiguration::bundleIdentifier())
           + QStringLiteral("/appearance.conf");
}

void StatusItemController::setPanelAppearance(PanelAppearance choice)
{
    appearanceChoice_ = choice;
    QSettings(appearanceSettingsPath(), QSettings::IniFormat)
        .setValue(QStringLiteral("panelAppearance"), appearanceName(choice));
    for (QAction *action : appearanceMenu_->actions())
        action->setChecked(action->data().toString() == appearanceName(choice));
    applyPanelLook();
}

void StatusItemController::applyPanelLook()
{
    const PanelLook look = resolvePanelLook(appearanceChoice_, colorScheme_->prefersDark());
    // For the switch test and for anyone wondering why the panel is dark.
    qInfo("Panel look: %s (appearance %s; desktop prefers %s, from %s)",
          look == PanelLook::dark ? "dark" : "light", qPrintable(appearanceName(appearanceChoice_)),
          colorScheme_->prefersDark() ? "dark" : "light",
          qPrintable(ColorSchemePreference::sourceName(colorScheme_->source())));
    panelLook_ = look;
    panel_->setPalette(panelPalette(look));
    // The tray's menu is the desktop's; it keeps the desktop's own look.
    if (view_) {
        view_->setAppearanceChoice(appearanceChoice_);
        view_->setLook(look);
    }
    emit panelLookChanged(look);
}

void StatusItemController::makeView()
{
    view_ = new ClipperPanelView(state_, nullptr, panelLook_);
    view_->setAppearanceChoice(appearanceChoice_);
    connect(view_, &ClipperPanelView::appearanceChosen, this, &StatusItemController::setPanelAppearance);
}

void StatusItemController::setTrayIconStyle(TrayIconStyle style)
{
    style_ = style;
    QSettings(appearanceSettingsPath(), QSettings::IniFormat)
        .setValue(QStringLiteral("trayIconStyle"), StatusIconImages::styleName(style));
    showIcon(look_);
}

QColor StatusItemController::panelColor() const
{
    if (sampledPanel_)
        return *sampledPanel_;
    // GNOME Shell's top bar (where the AppIndicator extension puts the icon)
    // is dark whatever the application style; it cannot be sampled there.
    if (qEnvironmentVariable("XDG_CURRENT_DESKTOP").contains(u"GNOME", Qt::CaseInsensitive))
        return QColor(Qt::black);
    return QGuiApplication::palette().color(QPalette::Window);
}

void StatusItemController::samplePanel()
{
    if (!tray_ || QGuiApplication::platformName() != u"xcb")
        return;
    QRect where = tray_->geometry();
    // A StatusNotifierItem host does not say where it draws the icon: the
    // desktop's panel is sampled as a whole instead.
    bool wholePanel = false;
    if (!where.isValid()) {
        const QList<QRect> docks = TrayHostWatcher::dockGeometries();
        wholePanel = !docks.isEmpty();
        if (wholePanel)
            where = docks.first();
    }
    QScreen *screen = where.isValid() ? QGuiApplication::screenAt(where.center()) : nullptr;
    if (!screen) {
        // Not docked yet (a tray that comes after the program): look again.
        if (++sampleAttempts_ < 30)
            QTimer::singleShot(2000, this, &StatusItemController::samplePanel);
        return;
    }
    // The icon's slot is wider than the symbol: its edge rows and columns
    // show the panel itself.
    const QRect local = where.translated(-screen->geometry().topLeft());
    const QImage shot = screen->grabWindow(0, local.x(), local.y(), local.width(), local.height()).toImage();
    if (shot.width() < 4 || shot.height() < 4)
        return;
    QHash<QRgb, int> counts;
    for (int y = 0; wholePanel && y < shot.height(); y += 2)
        for (int x = 0; x < shot.width(); x += 2)
            ++counts[shot.pixel(x, y) | 0xff000000u];
    for (int x = 0; x < shot.width(); ++x) {
        ++counts[shot.pixel(x, 0) | 0xff000000u];
        ++counts[shot.pixel(x, shot.height() - 1) | 0xff000000u];
    }
    for (int y = 0; y < shot.height(); ++y) {
        ++counts[shot.pixel(0, y) | 0xff000000u];
        ++counts[shot.pixel(shot.width() - 1, y) | 0xff000000u];
    }
    const auto most = std::max_element(counts.cbegin(), counts.cend());
    sampledPanel_ = QColor::fromRgb(most.key());
    showIcon(look_);
}

bool StatusItemController::eventFilter(QObject *watched, QEvent *event)
{
    // A desktop switched between light and dark while running.
    if (watched == qApp && event->type() == QEvent::ApplicationPaletteChange)
        showIcon(look_);
    return QObject::eventFilter(watched, event);
}

void StatusItemController::showMessage(const QString &title, const QString &body)
{
    if (tray_)
        tray_->showMessage(title, body, tray_->icon());
}

void StatusItemController::togglePanel()
{
    // A click on the icon while the popup is open first closes the popup
    // (an outside click), then arrives here: that click meant "close".
    if (panel_->isVisible() || panel_->hiddenWithinMs(800))
        hidePanel();
    else
        showPanel();
}

void StatusItemController::preparePanel()
{
    if (view_)
        return;
    makeView();
    // A timer, not a posted call: those run in the same turn as this one.
    QTimer::singleShot(20, this, [this] { panel_->setContent(view_); }); // once only
}

void StatusItemController::showPanel()
{
    if (!view_)
        makeView();
    panel_->setContent(view_); // once only
    const bool signedIn = state_.authState().status == AuthStatus::authenticated;
    panel_->setPanelSize(AppState::panelWidth,
                         signedIn ? AppState::panelHeightSignedIn : AppState::panelHeightSignedOut);
    view_->render();
    // Where the click was: the anchor where the tray does not say where the
    // icon is, kept while the panel is open (the pointer moves on).
    openedAt_ = QCursor::pos();
    placePanelWindow();
    panel_->show();
    panel_->raise();
    panel_->activateWindow();
    state_.setIsPanelPresented(true);
}

void StatusItemController::placePanelWindow()
{
    // A window form is the window manager's to place.
    if (!panel_->isPopup())
        return;
    QScreen *screen = QGuiApplication::screenAt(openedAt_);
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    std::optional<QRect> icon;
    if (tray_ && tray_->geometry().isValid())
        icon = tray_->geometry();
    // No taller than the room beside the icon: on a small screen (or at a
    // large scale) the panel scrolls rather than cover the icon.
    panel_->setRoom(roomForPanel(icon, openedAt_, screen->availableGeometry()));
    // The window's own rectangle, not move()'s frame position: a panel
    // that was a framed window before a tray appeared keeps that frame's
    // size in Qt's books.
    panel_->setGeometry(placePanel(panel_->size(), icon, openedAt_, screen->availableGeometry()));
}

void StatusItemController::hidePanel()
{
    panel_->hide();
    state_.setIsPanelPresented(false);
}

} // namespace pendrel
