#include "shell/PanelWindow.h"

#include "state/AppState.h"
#include "ui/ClipperPanelView.h"

#include <QApplication>
#include <QKeyEvent>
#include <QScreen>
#include <QShortcut>
#include <QVBoxLayout>
#include <QWindow>

namespace pendrel {

PanelWindow::PanelWindow(AppState &state, bool popup, QWidget *parent)
    : QWidget(parent, popup ? Qt::Popup | Qt::FramelessWindowHint : Qt::Window), state_(state), popup_(popup)
{
    setObjectName(QStringLiteral("panelWindow"));
    setWindowTitle(QStringLiteral("Pendrel Publisher"));
    // The panel's own light look, whatever the desktop's theme: the window
    // around it (scroll area, margins) takes the same palette.
    setPalette(ClipperPanelView::lightPalette());
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
} // namespace

int PanelWindow::fittedHeight(int wanted, int available, int frame)
{
    if (available <= 0)
        return wanted;
    return std::max(1, std::min(wanted, available - frame));
}

void PanelWindow::fitToScreen()
{
    const QScreen *where = windowHandle() && windowHandle()->screen() ? windowHandle()->screen() : screen();
    int available = where ? where->availableGeometry().height() : 0;
    // A Wayland client sees the whole output: neither the desktop's panels
    // nor the borders and title bar the compositor draws. Leave room for them.
    if (available > 0 && QGuiApplication::platformName().startsWith(u"wayland"))
        available -= waylandAllowance;
    if (room_ > 0)
        available = available > 0 ? std::min(available, room_) : room_;
    // The title bar and borders a window gets, known once it is shown.
    const int frame = isVisible() ? std::max(0, frameGeometry().height() - geometry().height()) : 0;
    setFixedSize(wanted_.width(), fittedHeight(wanted_.height(), available, frame));
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
    sinceHidden_.start();
    state_.setIsPanelPresented(false);
    emit closed();
}

} // namespace pendrel
