#include "shell/PanelWindow.h"

#include "state/AppState.h"
#include "ui/ClipperPanelView.h"

#include <QApplication>
#include <algorithm>
#include <QKeyEvent>
#include <QScreen>
#include <QShortcut>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindow>

namespace pendrel {

PanelWindow::PanelWindow(AppState &state, bool popup, QWidget *parent)
    : QWidget(parent, popup ? Qt::Popup | Qt::FramelessWindowHint : Qt::Window), state_(state), popup_(popup)
{
    setObjectName(QStringLiteral("panelWindow"));
    setWindowTitle(QStringLiteral("Pendrel Publisher"));
    // The panel's own look, whatever the desktop's theme: the window
    // around it (scroll area, margins) takes the same palette.
    setPalette(panelPalette(PanelLook::light)); // until the shell says which look
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    // Ctrl+Q quits from the panel, as the application menu's entry does elsewhere.
    auto *quit = new QShortcut(QKeySequence::Quit, this);
    connect(quit, &QShortcut::activated, qApp, &QCoreApplication::quit);
    setPanelSize(AppState::panelWidth, AppState::panelHeightSignedOut);
    qApp->installEventFilter(this);
}

void PanelWindow::setPopup(bool popup)
{
    if (popup == popup_)
        return;
    popup_ = popup;
    hide();
    setWindowFlags(popup ? Qt::Popup | Qt::FramelessWindowHint : Qt::Window);
    watchingScreen_ = false; // a new native window, whose screen is watched at the next show
}

void PanelWindow::setContent(QWidget *content)
{
    if (content_)
        return;
    content_ = content;
    // The panel scrolls its own content where the window is less high than
    // the panel wants (a signed-in panel on an 800-pixel laptop screen).
    layout()->addWidget(content);
    fitToScreen();
}

void PanelWindow::setRoom(int height)
{
    if (height == room_)
        return;
    room_ = height;
    fitToScreen();
}

void PanelWindow::setPanelSize(int width, int height)
{
    wanted_ = QSize(width, height);
    fitToScreen();
}

namespace {
constexpr int waylandAllowance = 48;
// The title bar and borders a window manager gives a window, until the
// real ones are known (xfwm4 and the like: 21 to 29 pixels).
constexpr int frameGuess = 32;

bool onWayland()
{
    return QGuiApplication::platformName().startsWith(u"wayland");
}
} // namespace

int PanelWindow::fittedHeight(int wanted, int available, int frame)
{
    if (available <= 0)
        return wanted;
    return std::max(1, std::min(wanted, available - frame));
}

int PanelWindow::frameHeight() const
{
    // A popup has none; on Wayland the allowance covers it.
    if (popup_ || onWayland())
        return 0;
    // Known once the window manager has framed the shown window.
    const int known = isVisible() ? frameGeometry().height() - geometry().height() : 0;
    return known > 0 ? known : frameGuess;
}

void PanelWindow::fitToScreen()
{
    const QScreen *where = windowHandle() && windowHandle()->screen() ? windowHandle()->screen() : screen();
    int available = where ? where->availableGeometry().height() : 0;
    // A Wayland client sees the whole output: neither the desktop's panels
    // nor the borders and title bar the compositor draws. Leave room for them.
    if (available > 0 && onWayland())
        available -= waylandAllowance;
    if (room_ > 0)
        available = available > 0 ? std::min(available, room_) : room_;
    const int before = height();
    setFixedSize(wanted_.width(), fittedHeight(wanted_.height(), available, frameHeight()));
    if (popup_ || !isVisible())
        return;
    if (!onWayland()) {
        keepFrameInside();
    } else if (height() > before && !remapPending_) {
        // A Wayland window cannot move itself, and the compositor keeps
        // its top where it was: grown (signed in), its bottom would run off
        // the screen. Shown again, it is placed again. Not from inside the
        // resize that got us here.
        remapPending_ = true;
        QTimer::singleShot(0, this, [this] {
            remapPending_ = false;
            if (!isVisible())
                return;
            remapping_ = true;
            hide();
            show();
            remapping_ = false;
            raise();
            activateWindow();
        });
    }
}

void PanelWindow::keepFrameInside()
{
    const QScreen *where = windowHandle() && windowHandle()->screen() ? windowHandle()->screen() : screen();
    if (!where)
        return;
    const QRect area = where->availableGeometry();
    // The frame as it will be at this height (the window manager may not
    // have caught up with the resize yet).
    const int frame = frameHeight();
    const QRect outer = frameGeometry();
    const QSize size(outer.width(), height() + frame);
    if (area.contains(QRect(outer.topLeft(), size)))
        return;
    const auto clamped = [](int value, int low, int high) { return high < low ? low : std::clamp(value, low, high); };
    // move() places the frame's corner.
    move(clamped(outer.x(), area.left(), area.right() + 1 - size.width()),
         clamped(outer.y(), area.top(), area.bottom() + 1 - size.height()));
}

void PanelWindow::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (QWindow *window = windowHandle(); window && !watchingScreen_) {
        watchingScreen_ = true;
        const auto watch = [this](QScreen *s) {
            if (s)
                connect(s, &QScreen::availableGeometryChanged, this, &PanelWindow::fitToScreen,
                        Qt::UniqueConnection);
            fitToScreen();
        };
        connect(window, &QWindow::screenChanged, this, watch);
        watch(window->screen());
    }
    fitToScreen();
    // The window manager frames the window a moment after it is mapped:
    // fit again once the frame is known (a slow one, a little later).
    if (!popup_ && !onWayland()) {
        for (const int ms : {300, 1200})
            QTimer::singleShot(ms, this, [this] {
                if (isVisible())
                    fitToScreen();
            });
    }
}

void PanelWindow::moveEvent(QMoveEvent *event)
{
    QWidget::moveEvent(event);
    // Framed or moved by the window manager: the frame may be known now.
    if (!popup_ && isVisible() && !onWayland())
        fitToScreen();
}

void PanelWindow::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    if (isVisible())
        emit resizedWhileShown();
}

bool PanelWindow::hiddenWithinMs(int ms) const
{
    return sinceHidden_.isValid() && sinceHidden_.elapsed() < ms;
}

void PanelWindow::keyPressEvent(QKeyEvent *event)
{
    // Escape puts the panel away in both forms, but only as a key that no
    // control inside took: an open drop-down list or menu is a window of its
    // own that closes on it, and a shortcut would have come first.
    if (event->matches(QKeySequence::Cancel)) {
        event->accept();
        if (!escapeForOther_)
            hide();
        return;
    }
    QWidget::keyPressEvent(event);
}

bool PanelWindow::eventFilter(QObject *watched, QEvent *event)
{
    // Every key is first offered to the focused object of the window it
    // came to as a shortcut check. An open list closes on that check, and
    // in the popup form Qt then hands the key itself to the popup below it,
    // the panel: remember that this Escape was the list's.
    if (event->type() == QEvent::ShortcutOverride && static_cast<QKeyEvent *>(event)->matches(QKeySequence::Cancel)) {
        const auto *widget = qobject_cast<QWidget *>(watched);
        escapeForOther_ = widget && widget->window() != this;
    }
    return false;
}

void PanelWindow::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    if (remapping_)
        return; // shown again at once: nobody put the panel away
    sinceHidden_.start();
    state_.setIsPanelPresented(false);
    emit closed();
}

} // namespace pendrel
