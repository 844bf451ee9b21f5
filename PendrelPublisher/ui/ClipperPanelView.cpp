#include "ui/ClipperPanelView.h"

#include "state/AppConfiguration.h"
#include "state/AppState.h"
#include "ui/AuthSection.h"
#include "ui/PanelSections.h"
#include "ui/PanelTexts.h"
#include "ui/SettingsSection.h"

#include <QLineEdit>
#include <QPainter>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>

namespace pendrel {

namespace {

// The panel draws its own light background, so its text colours are fixed
// too; a dark desktop theme would otherwise put light text on it.
QPalette panelPalette(QPalette palette)
{
    const QColor text(0x1d, 0x29, 0x39);
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
        palette.setColor(group, QPalette::WindowText, text);
        palette.setColor(group, QPalette::Text, text);
        palette.setColor(group, QPalette::ButtonText, text);
        palette.setColor(group, QPalette::Base, Qt::white);
        palette.setColor(group, QPalette::Window, QColor(0xf4, 0xf6, 0xf9));
        palette.setColor(group, QPalette::Button, Qt::white);
        palette.setColor(group, QPalette::PlaceholderText, QColor(0x98, 0xa2, 0xb3));
        palette.setColor(group, QPalette::Highlight, PanelTexts::toneText(PanelTexts::Tone::info));
        palette.setColor(group, QPalette::HighlightedText, Qt::white);
    }
    palette.setColor(QPalette::Disabled, QPalette::WindowText, QColor(0x98, 0xa2, 0xb3));
    palette.setColor(QPalette::Disabled, QPalette::Text, QColor(0x98, 0xa2, 0xb3));
    palette.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(0x98, 0xa2, 0xb3));
    return palette;
}

} // namespace

QString ClipperPanelView::styleSheet()
{
    return QStringLiteral(R"(
QFrame[role="card"] { background: rgba(255,255,255,0.9); border: 1px solid #dde3ea; border-radius: 12px; }
QLabel { background: transparent; }
QLabel[role="heading"] { font-size: 13pt; font-weight: 600; }
QLabel[role="title"] { font-size: 11pt; font-weight: 600; }
QLabel[role="rowTitle"], QLabel[role="fieldTitle"] { font-weight: 600; }
QLabel[role="wordMark"] { font-size: 15pt; font-weight: 700; color: #145cbd; }
QLabel[role="caption"], QLabel[role="divider"] { color: #667085; font-size: 8pt; font-weight: 600; }
QLabel[role="help"] { color: #667085; font-size: 8pt; }
QLabel[role="metric"] { font-size: 11pt; font-weight: 600; }
QLabel[role="error"] { color: #c9291f; }
QLabel[role="warning"] { color: #b54708; font-size: 8pt; }
QLabel[role="log"] { color: #344054; font-size: 8pt; }
QLabel[role="urlChip"] { background: #eef2f7; border-radius: 8px; padding: 3px 8px; color: #344054; }
QLabel[role="chip"] { background: #eef2f7; border-radius: 8px; padding: 2px 8px; color: #344054; }
QLabel[role="capsule"] { background: #eef2f7; border: 1px solid #dde3ea; border-radius: 10px; padding: 2px 10px; }
QPushButton[prominence="primary"] { background: #145cbd; color: white; border: none; border-radius: 7px;
  padding: 0 14px; font-weight: 600; }
QPushButton[prominence="primary"]:hover { background: #0f4fa6; }
QPushButton[prominence="primary"]:focus { border: 2px solid #9cc2f5; }
QPushButton[prominence="primary"]:disabled { background: #a9bddb; }
QPushButton[prominence="secondary"] { background: white; color: #1d2939; border: 1px solid #cfd6e0;
  border-radius: 7px; padding: 0 10px; }
QPushButton[prominence="secondary"]:hover { background: #f2f5f9; }
QPushButton[prominence="secondary"]:focus { border: 2px solid #4d8ee8; }
QPushButton[prominence="secondary"]:disabled { color: #98a2b3; }
QLineEdit { background: white; border: 1px solid #cfd6e0; border-radius: 7px; padding: 5px 8px; }
QLineEdit:focus { border: 1px solid #145cbd; }
QToolButton[role="menuButton"] { background: white; border: 1px solid #cfd6e0; border-radius: 7px; padding: 4px 8px; }
QToolButton[role="menuButton"]::menu-indicator { image: none; width: 0; }
QToolButton[role="menuButton"]:focus { border: 1px solid #145cbd; }
QToolButton[role="disclosure"], QToolButton[role="disclosure"]:checked, QToolButton[role="disclosure"]:pressed
  { border: none; background: transparent; font-weight: 600; color: #344054; padding: 2px 0; }
QToolButton[role="disclosure"]:focus { color: #145cbd; }
QProgressBar { border: none; background: #e4e9f0; border-radius: 3px; }
QProgressBar::chunk { background: #145cbd; border-radius: 3px; }
)");
}

ClipperPanelView::ClipperPanelView(AppState &state, QWidget *parent) : QWidget(parent), state_(state)
{
    setObjectName(QStringLiteral("clipperPanel"));
    setPalette(panelPalette(palette()));
    setStyleSheet(styleSheet());
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    scroll_ = new QScrollArea(this);
    scroll_->setObjectName(QStringLiteral("panelScroll"));
    scroll_->setFrameShape(QFrame::NoFrame);
    scroll_->setWidgetResizable(true);
    // Scrolls by wheel, touchpad and keyboard focus, without indicators.
    scroll_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll_->setStyleSheet(QStringLiteral("QScrollArea, QScrollArea > QWidget > QWidget#panelContent "
                                          "{ background: transparent; }"));
    scroll_->viewport()->setAutoFillBackground(false);
    outer->addWidget(scroll_);

    auto *content = new QWidget;
    content->setObjectName(QStringLiteral("panelContent"));
    content->setAutoFillBackground(false);
    auto *stack = new QVBoxLayout(content);
    stack->setContentsMargins(14, 14, 14, 14);
    stack->setSpacing(12);

    header_ = new HeaderSection(state_, content);
    stack->addWidget(header_);

    workspace_ = new QWidget(content);
    workspace_->setObjectName(QStringLiteral("workspace"));
    auto *work = new QVBoxLayout(workspace_);
    work->setContentsMargins(0, 0, 0, 0);
    work->setSpacing(12);
    const auto add = [&](auto *section) {
        work->addWidget(section);
        renderers_.append([section] { section->render(); });
        return section;
    };
    add(new TenantSection(state_, workspace_));
    // The sample states for interface work show one part of the body alone.
    const QString preview = AppConfiguration::debugPreviewStateName().value_or(QString());
    if (preview == u"workspace-settings") {
        add(new SettingsSection(state_, workspace_));
    } else if (preview == u"workspace-jobs") {
        add(new RecentJobsSection(state_, workspace_));
    } else {
        add(new StatusSection(state_, workspace_));
        add(new ResultSection(state_, workspace_));
        quickSend_ = add(new QuickSendSection(state_, workspace_));
        add(new PreviewSection(state_, workspace_));
        add(new SettingsSection(state_, workspace_));
        add(new RecentJobsSection(state_, workspace_));
    }
    add(new SendButtonSection(state_, workspace_));
    stack->addWidget(workspace_);

    auth_ = new AuthSection(state_, content);
    stack->addWidget(auth_);
    stack->addStretch();
    scroll_->setWidget(content);

    connect(&state_, &AppState::authStateChanged, this, &ClipperPanelView::showSignedInState);
    showSignedInState();
}

void ClipperPanelView::showSignedInState()
{
    const bool signedIn = state_.authState().status == AuthStatus::authenticated;
    workspace_->setVisible(signedIn);
    auth_->setVisible(!signedIn);
    if (signedIn != signedIn_) {
        signedIn_ = signedIn;
        scroll_->verticalScrollBar()->setValue(0);
        updateGeometry();
    }
}

void ClipperPanelView::render()
{
    showSignedInState();
    header_->render();
    auth_->render();
    for (const std::function<void()> &renderSection : std::as_const(renderers_))
        renderSection();
}

QSize ClipperPanelView::sizeHint() const
{
    return {AppState::panelWidth, state_.authState().status == AuthStatus::authenticated
                                      ? AppState::panelHeightSignedIn
                                      : AppState::panelHeightSignedOut};
}

void ClipperPanelView::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    // From the top leading corner to the bottom trailing one.
    const bool rtl = layoutDirection() == Qt::RightToLeft;
    QLinearGradient gradient(rtl ? rect().topRight() : rect().topLeft(),
                             rtl ? rect().bottomLeft() : rect().bottomRight());
    gradient.setColorAt(0, QColor::fromRgbF(0.97f, 0.98f, 0.99f));
    gradient.setColorAt(1, QColor::fromRgbF(0.92f, 0.95f, 0.98f));
    p.fillRect(rect(), gradient);
}

void ClipperPanelView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    // Typing goes to the panel as soon as it opens.
    if (signedIn_) {
        if (quickSend_)
            quickSend_->addressField()->setFocus(Qt::PopupFocusReason);
    } else {
        auth_->emailField()->setFocus(Qt::PopupFocusReason);
    }
}

} // namespace pendrel
