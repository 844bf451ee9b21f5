#include "shell/PanelWindow.h"

#include "state/AppState.h"

#include <QApplication>
#include <QShortcut>
#include <QVBoxLayout>

namespace pendrel {

PanelWindow::PanelWindow(AppState &state, bool popup, QWidget *parent)
    : QWidget(parent, popup ? Qt::Popup | Qt::FramelessWindowHint : Qt::Window), state_(state), popup_(popup)
{
    setObjectName(QStringLiteral("panelWindow"));
    setWindowTitle(QStringLiteral("Pendrel Publisher"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    // Ctrl+Q quits from the panel, as the application menu's entry does elsewhere.
    auto *quit = new QShortcut(QKeySequence::Quit, this);
    connect(quit, &QShortcut::activated, qApp, &QCoreApplication::quit);
    setPanelSize(AppState::panelWidth, AppState::panelHeightSignedOut);
}

void PanelWindow::setContent(QWidget *content)
{
    if (content_)
        return;
    content_ = content;
    layout()->addWidget(content);
}

void PanelWindow::setPanelSize(int width, int height)
{
    setFixedSize(width, height);
}

bool PanelWindow::hiddenWithinMs(int ms) const
{
    return sinceHidden_.isValid() && sinceHidden_.elapsed() < ms;
}

void PanelWindow::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    sinceHidden_.start();
    state_.setIsPanelPresented(false);
    emit closed();
}

} // namespace pendrel
