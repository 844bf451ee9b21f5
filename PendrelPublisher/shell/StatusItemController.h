#pragma once

#include "shell/StatusIconPresenter.h"
#include "ui/PanelLook.h"

#include <QMenu>
#include <QObject>
#include <QSystemTrayIcon>

#include <memory>

namespace pendrel {

class AppState;
class ClipperPanelView;
class ColorSchemePreference;
class PanelAppearanceWatcher;
class PanelWindow;
class TrayHostWatcher;

// The tray icon, its menu and the panel it opens.
class StatusItemController : public QObject {
    Q_OBJECT

public:
    explicit StatusItemController(AppState &state, QObject *parent = nullptr);
    ~StatusItemController() override;

    void showPanel();
    void hidePanel();
    // Makes the panel's content ahead of its first showing, in two turns of
    // the event loop: making it all at the click stood the interface still
    // for longer than a frame.
    void preparePanel();
    void togglePanel();
    // Whether a tray holds the icon (from launch, or since one appeared);
    // without one the panel is shown as an ordinary window.
    [[nodiscard]] bool hasTray() const { return tray_ != nullptr; }
    [[nodiscard]] PanelWindow &panel() const { return *panel_; }
    // The right-click menu; its first entry follows the update state.
    [[nodiscard]] QMenu &contextMenu() { return menu_; }
    // The tray's balloon, for desktops without a notification server.
    void showMessage(const QString &title, const QString &body);
    // The tray icon style chosen in the menu, kept in appearance.conf of the
    // configuration folder.
    [[nodiscard]] TrayIconStyle trayIconStyle() const { return style_; }
    void setTrayIconStyle(TrayIconStyle style);
    static QString appearanceSettingsPath();
    // The panel's Appearance (Automatic, Light, Dark), kept beside the icon
    // style; the look it comes to follows the desktop's preference.
    [[nodiscard]] PanelAppearance panelAppearance() const { return appearanceChoice_; }
    void setPanelAppearance(PanelAppearance choice);
    [[nodiscard]] PanelLook panelLook() const { return panelLook_; }

signals:
    void panelLookChanged(pendrel::PanelLook look);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void createTrayIcon();
    // A tray that appeared after launch takes over from the window form.
    void adoptTray();
    void updateToolTip();
    // The item's accessible descriptions, where the icon is a StatusNotifierItem.
    void describeItem();
    void onActivated(QSystemTrayIcon::ActivationReason reason);
    void showIcon(const IconLook &look);
    // The colour the icon is drawn on: sampled around the icon where the
    // window system allows it (X11), else GNOME's dark top bar on GNOME, else
    // the desktop palette's window colour.
    [[nodiscard]] QColor panelColor() const;
    void samplePanel();
    void placePanelWindow();
    // Gives the panel, its window and the menu the look of the moment.
    void applyPanelLook();
    void makeView();

    AppState &state_;
    std::unique_ptr<PanelWindow> panel_;
    ClipperPanelView *view_ = nullptr;
    QSystemTrayIcon *tray_ = nullptr;
    QPoint openedAt_;
    TrayHostWatcher *trayHosts_ = nullptr;
    PanelAppearanceWatcher *appearance_ = nullptr;
    ColorSchemePreference *colorScheme_ = nullptr;
    PanelAppearance appearanceChoice_ = PanelAppearance::automatic;
    PanelLook panelLook_ = PanelLook::light;
    QMenu *appearanceMenu_ = nullptr;
    QMenu menu_;
    QAction *checkForUpdates_ = nullptr;
    StatusIconPresenter presenter_;
    TrayIconStyle style_ = TrayIconStyle::automatic;
    IconLook look_;
    std::optional<QColor> sampledPanel_;
    int sampleAttempts_ = 0;
};

} // namespace pendrel
