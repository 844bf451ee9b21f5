#pragma once

#include "shell/StatusIconPresenter.h"

#include <QMenu>
#include <QObject>
#include <QSystemTrayIcon>

#include <memory>

namespace pendrel {

class AppState;
class ClipperPanelView;
class PanelWindow;

// The tray icon, its menu and the panel it opens.
class StatusItemController : public QObject {
    Q_OBJECT

public:
    explicit StatusItemController(AppState &state, QObject *parent = nullptr);
    ~StatusItemController() override;

    void showPanel();
    void hidePanel();
    void togglePanel();
    // Whether a tray took the icon at launch; without one the panel is
    // shown as an ordinary window.
    [[nodiscard]] bool hasTray() const { return trayAtLaunch_; }
    [[nodiscard]] PanelWindow &panel() const { return *panel_; }
    // The right-click menu; its first entry follows the update state.
    [[nodiscard]] QMenu &contextMenu() { return menu_; }
    // The tray's balloon, for desktops without a notification server.
    void showMessage(const QString &title, const QString &body);

private:
    void onActivated(QSystemTrayIcon::ActivationReason reason);
    void showIcon(const IconLook &look);

    AppState &state_;
    std::unique_ptr<PanelWindow> panel_;
    ClipperPanelView *view_ = nullptr;
    QSystemTrayIcon *tray_ = nullptr;
    bool trayAtLaunch_ = false;
    QMenu menu_;
    QAction *checkForUpdates_ = nullptr;
    StatusIconPresenter presenter_;
};

} // namespace pendrel
