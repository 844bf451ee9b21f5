#pragma once

#include <QElapsedTimer>
#include <QWidget>

#include <functional>

namespace pendrel {

class AppState;

// The window that holds the panel. With a tray that can place popups it is
// a frameless popup that closes when the user clicks elsewhere; without one
// (no tray, or Wayland) it is an ordinary window.
class PanelWindow : public QWidget {
    Q_OBJECT

public:
    PanelWindow(AppState &state, bool popup, QWidget *parent = nullptr);

    [[nodiscard]] bool isPopup() const { return popup_; }
    // Changes the form (a tray that appeared after launch); hides the window.
    void setPopup(bool popup);
    // Sets the panel's content on first use.
    void setContent(QWidget *content);
    void setPanelSize(int width, int height);
    // The most height the window may take (the room beside the tray icon);
    // 0: the screen's.
    void setRoom(int height);
    // The window's height for a panel `wanted` high on a screen whose
    // free area is `available` high, with `frame` pixels of title bar.
    static int fittedHeight(int wanted, int available, int frame);
    // Whether the window was hidden less than `ms` ago.
    [[nodiscard]] bool hiddenWithinMs(int ms) const;

signals:
    void closed();
    // The window's size changed while it was shown (signed in, the screen's
    // free area changed): a popup is placed again.
    void resizedWhileShown();

protected:
    void hideEvent(QHideEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void moveEvent(QMoveEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void fitToScreen();
    // The window form's title bar and borders (a guess until framed).
    [[nodiscard]] int frameHeight() const;
    // Moves the framed window back into the screen's free area (X11).
    void keepFrameInside();

    AppState &state_;
    bool popup_;
    QWidget *content_ = nullptr;
    QElapsedTimer sinceHidden_;
    QSize wanted_;
    int room_ = 0;
    bool watchingScreen_ = false;
    bool remapPending_ = false;
    bool remapping_ = false;
    bool escapeForOther_ = false; // the Escape being handled began in another window (an open list)
};

} // namespace pendrel
