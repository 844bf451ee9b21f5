#include "ui/ClipperPanelView.h"

#include "state/AppConfiguration.h"
#include "state/AppState.h"
#include "ui/AuthSection.h"
#include "ui/PanelPieces.h"
#include "ui/PanelSections.h"
#include "ui/PanelTexts.h"
#include "ui/SettingsSection.h"

#include <QAbstractButton>
#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPainter>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>

#include <algorithm>

namespace pendrel {

namespace {

// Keeps a field's placeholder in the panel's secondary text colour (6.4:1
// on white), whatever a style sheet's polish made of it.
class PlaceholderInk : public QObject {
public:
    using QObject::QObject;

    static void apply(QWidget *field)
    {
        const QColor ink(0x55, 0x5f, 0x73);
        if (field->palette().color(QPalette::Active, QPalette::PlaceholderText) == ink
            && field->palette().color(QPalette::Inactive, QPalette::PlaceholderText) == ink)
            return;
        QPalette palette = field->palette();
        palette.setColor(QPalette::All, QPalette::PlaceholderText, ink);
        field->setPalette(palette);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Polish || event->type() == QEvent::PaletteChange
            || event->type() == QEvent::StyleChange)
            apply(static_cast<QWidget *>(watched));
        return false;
    }
};

} // namespace


QPalette ClipperPanelView::lightPalette()
{
    // Built from nothing rather than from the desktop's palette: every role
    // of every group is set, so no colour of a dark desktop theme leaks in.
    const QColor text(0x1d, 0x29, 0x39);
    const QColor secondary(0x55, 0x5f, 0x73);
    const QColor window(0xf4, 0xf6, 0xf9);
    const QColor accent = PanelTexts::toneText(PanelTexts::Tone::info);
    QPalette palette(text, window, Qt::white, QColor(0x8a, 0x94, 0xa6), QColor(0xc4, 0xcb, 0xd6), text, Qt::white);
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        const bool disabled = group == QPalette::Disabled;
        const QColor foreground = disabled ? QColor(0x6b, 0x75, 0x88) : text;
        palette.setColor(group, QPalette::WindowText, foreground);
        palette.setColor(group, QPalette::Text, foreground);
        palette.setColor(group, QPalette::ButtonText, foreground);
        palette.setColor(group, QPalette::BrightText, Qt::white);
        palette.setColor(group, QPalette::Window, window);
        palette.setColor(group, QPalette::Base, disabled ? window : QColor(Qt::white));
        palette.setColor(group, QPalette::AlternateBase, QColor(0xee, 0xf2, 0xf7));
        palette.setColor(group, QPalette::Button, disabled ? window : QColor(Qt::white));
        palette.setColor(group, QPalette::Light, Qt::white);
        palette.setColor(group, QPalette::Midlight, QColor(0xe4, 0xe9, 0xf0));
        palette.setColor(group, QPalette::Mid, QColor(0xc4, 0xcb, 0xd6));
        palette.setColor(group, QPalette::Dark, QColor(0x8a, 0x94, 0xa6));
        palette.setColor(group, QPalette::Shadow, QColor(0x34, 0x40, 0x54));
        palette.setColor(group, QPalette::PlaceholderText, secondary);
        palette.setColor(group, QPalette::Highlight, disabled ? QColor(0x8a, 0x94, 0xa6) : accent);
        palette.setColor(group, QPalette::HighlightedText, Qt::white);
        palette.setColor(group, QPalette::Link, accent);
        palette.setColor(group, QPalette::LinkVisited, QColor(0x5b, 0x3f, 0xa8));
        palette.setColor(group, QPalette::ToolTipBase, QColor(0x1d, 0x29, 0x39));
        palette.setColor(group, QPalette::ToolTipText, Qt::white);
    }
    return palette;
}

QString ClipperPanelView::styleSheet()
{
    return QStringLiteral(R"(
QFrame[role="card"] { background: rgba(255,255,255,0.9); border: 1px solid #dde3ea; border-radius: 12px; }
QLabel { background: transparent; color: #1d2939; }
QLabel[role="heading"] { font-size: 13pt; font-weight: 600; }
QLabel[role="title"] { font-size: 11pt; font-weight: 600; }
QLabel[role="rowTitle"], QLabel[role="fieldTitle"] { font-weight: 600; }
QLabel[role="wordMark"] { font-size: 15pt; font-weight: 700; color: #145cbd; }
QLabel[role="caption"], QLabel[role="divider"] { color: #555f73; font-size: 8pt; font-weight: 600; }
QLabel[role="help"] { color: #555f73; font-size: 8pt; }
QLabel[role="metric"] { font-size: 11pt; font-weight: 600; }
QLabel[role="error"] { color: #c9291f; }
QLabel[role="warning"] { color: #b54708; font-size: 8pt; }
QLabel[role="log"] { color: #344054; font-size: 8pt; }
QLabel[role="urlChip"] { background: #eef2f7; border-radius: 8px; padding: 3px 8px; color: #344054; }
QLabel[role="chip"] { background: #eef2f7; border-radius: 8px; padding: 2px 8px; color: #344054; }
QLabel[role="capsule"] { background: #eef2f7; color: #1d2939; border: 1px solid #7d879a; border-radius: 10px; padding: 2px 10px; }
QPushButton[prominence="primary"] { background: #145cbd; color: white; border: none; border-radius: 7px;
  padding: 0 14px; font-weight: 600; }
QPushButton[prominence="primary"]:hover { background: #0f4fa6; }
QPushButton[prominence="primary"]:focus { border: 2px solid #1d2939; }
QPushButton[prominence="primary"]:disabled { background: #a9bddb; color: #f4f6f9; }
QPushButton[prominence="secondary"] { background: white; color: #1d2939; border: 1px solid #7d879a;
  border-radius: 7px; padding: 0 10px; }
QPushButton[prominence="secondary"]:hover { background: #f2f5f9; }
QPushButton[prominence="secondary"]:focus { border: 2px solid #145cbd; }
QPushButton[prominence="secondary"]:disabled { color: #6b7588; border-color: #c4cbd6; }
QLineEdit { background: white; color: #1d2939; border: 1px solid #7d879a; border-radius: 7px; padding: 5px 8px;
  selection-background-color: #145cbd; selection-color: white; }
QLineEdit:focus { border: 2px solid #145cbd; padding: 4px 7px; }
QLineEdit:disabled { color: #6b7588; background: #f4f6f9; }
QToolButton[role="menuButton"] { background: white; color: #1d2939; border: 1px solid #7d879a; border-radius: 7px;
  padding: 4px 8px; }
QToolButton[role="menuButton"]::menu-indicator { image: none; width: 0; }
QToolButton[role="menuButton"]:focus { border: 2px solid #145cbd; padding: 3px 7px; }
QToolButton[role="disclosure"], QToolButton[role="disclosure"]:checked, QToolButton[role="disclosure"]:pressed
  { border: none; border-bottom: 2px solid transparent; background: transparent; font-weight: 600; color: #344054;
  padding: 2px 0 0 0; }
QToolButton[role="disclosure"]:focus { color: #145cbd; border-bottom-color: #145cbd; }
QComboBox { background: white; color: #1d2939; border: 1px solid #7d879a; border-radius: 7px; padding: 3px 8px;
  selection-background-color: #145cbd; selection-color: white; }
QComboBox:focus { border: 2px solid #145cbd; padding: 2px 7px; }
QComboBox:disabled { color: #6b7588; background: #f4f6f9; border-color: #c4cbd6; }
QComboBox::drop-down { subcontrol-origin: padding; subcontrol-position: center right; width: 16px; border: none; }
QComboBox::down-arrow { image: url(:/panel/chevron-down.png); width: 10px; height: 6px; }
QComboBox QAbstractItemView { background: white; color: #1d2939; border: 1px solid #7d879a;
  selection-background-color: #145cbd; selection-color: white; }
QMenu { background: white; color: #1d2939; border: 1px solid #7d879a; }
QMenu::item:selected { background: #145cbd; color: white; }
QMenu::item:disabled { color: #6b7588; }
QToolTip { background: #1d2939; color: white; border: none; }
QScrollBar:vertical { background: transparent; width: 8px; margin: 2px 1px 2px 0; }
QScrollBar::handle:vertical { background: #7d879a; border-radius: 3px; min-height: 32px; }
QScrollBar::handle:vertical:hover { background: #555f73; }
QScrollBar::add-line:vertical, QScrollBar::sub-line:vertical { height: 0; }
QScrollBar::add-page:vertical, QScrollBar::sub-page:vertical { background: transparent; }
QProgressBar { border: none; background: #e4e9f0; border-radius: 3px; }
QProgressBar::chunk { background: #145cbd; border-radius: 3px; }
)");
}

ClipperPanelView::ClipperPanelView(AppState &state, QWidget *parent) : QWidget(parent), state_(state)
{
    setObjectName(QStringLiteral("clipperPanel"));
    setPalette(lightPalette());
    setStyleSheet(styleSheet());
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    scroll_ = new QScrollArea(this);
    scroll_->setObjectName(QStringLiteral("panelScroll"));
    scroll_->setFrameShape(QFrame::NoFrame);
    scroll_->setFocusPolicy(Qt::NoFocus); // the controls are the Tab stops
    scroll_->setWidgetResizable(true);
    // Content that does not fit (the sign-in view is taller than its panel)
    // shows a slim scroll bar, so nobody misses what is below the fold.
    scroll_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
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

    // A style sheet's text colour gives placeholders that colour at half
    // opacity (3.1:1 here); Qt 6.4's style sheets cannot name a placeholder
    // colour, so the fields' palettes get one, again each time the sheet is
    // applied anew (the panel put into its window, a theme change).
    for (QLineEdit *field : findChildren<QLineEdit *>()) {
        field->installEventFilter(new PlaceholderInk(field));
        field->ensurePolished();
        PlaceholderInk::apply(field);
        reportFocusFirst(field);
    }

    connect(&state_, &AppState::authStateChanged, this, &ClipperPanelView::showSignedInState);
    showSignedInState();

    announcer_ = new PanelAnnouncer(this);
    connect(&state_, &AppState::jobsChanged, this, [this] { announceJobChanges(true); });
    announceJobChanges(false); // what was there at start is not news
    // A capture or sign-in that fails shows why in the panel; say it too.
    connect(&state_, &AppState::authErrorMessageChanged, this, &ClipperPanelView::announceMessageSoon);
    if (quickSend_)
        connect(quickSend_, &QuickSendSection::captureTried, this, &ClipperPanelView::announceMessageSoon);
}

void ClipperPanelView::announceMessageSoon()
{
    // Once for a press that both changes the message and reports the try,
    // and after the shortcut's capture has had the panel shown.
    if (messageDue_)
        return;
    messageDue_ = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            messageDue_ = false;
            const std::optional<QString> &message = state_.authErrorMessage();
            if (message && !message->isEmpty())
                announcer_->announce(*message);
        },
        Qt::QueuedConnection);
}

void ClipperPanelView::announceJobChanges(bool speak)
{
    QHash<QUuid, QString> now;
    for (const JobRecord &job : state_.recentJobs()) {
        const QString message = PanelTexts::jobAnnouncement(job);
        now.insert(job.id, message);
        // A new job, or a new status or stage of one; a log line is not news.
        if (speak && announced_.value(job.id) != message)
            announcer_->announce(message);
    }
    announced_ = std::move(now);
}

void ClipperPanelView::showSignedInState()
{
    const bool signedIn = state_.authState().status == AuthStatus::authenticated;
    workspace_->setVisible(signedIn);
    auth_->setVisible(!signedIn);
    if (signedIn != signedIn_) {
        // The focused button has just been hidden with its view (signed out
        // from the settings, signed in from the form): typing goes to the
        // new view's first field rather than nowhere.
        const bool focusWasInside = isAncestorOf(QApplication::focusWidget()) || !QApplication::focusWidget();
        if (isVisible() && focusWasInside) {
            if (!signedIn)
                auth_->emailField()->setFocus(Qt::OtherFocusReason);
            else if (quickSend_)
                quickSend_->addressField()->setFocus(Qt::OtherFocusReason);
        }
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

// Return and Enter press the focused button, as Space does: the panel is
// no dialog, so Qt gives buttons only Space.
void ClipperPanelView::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        if (auto *button = qobject_cast<QAbstractButton *>(QApplication::focusWidget());
            button && isAncestorOf(button) && button->isEnabled()) {
            button->animateClick();
            return;
        }
    }
    QWidget::keyPressEvent(event);
}

QList<QWidget *> ClipperPanelView::tabStops() const
{
    struct Stop {
        QWidget *widget;
        QRect rect;
    };
    QList<Stop> stops;
    for (QWidget *w : findChildren<QWidget *>()) {
        if ((w->focusPolicy() & Qt::TabFocus) && w->isVisibleTo(this) && w->isEnabled() && !w->focusProxy())
            stops.append({w, QRect(w->mapTo(this, QPoint(0, 0)), w->size())});
    }
    // Rows from top to bottom (a control that starts below the bottom of
    // everything in the row so far starts the next one), then across each
    // row in the reading direction.
    std::stable_sort(stops.begin(), stops.end(), [](const Stop &a, const Stop &b) { return a.rect.top() < b.rect.top(); });
    const bool rtl = layoutDirection() == Qt::RightToLeft;
    QList<QWidget *> ordered;
    for (qsizetype start = 0; start < stops.size();) {
        qsizetype end = start + 1;
        int rowBottom = stops[start].rect.bottom();
        while (end < stops.size() && stops[end].rect.top() <= rowBottom)
            rowBottom = std::max(rowBottom, stops[end++].rect.bottom());
        std::stable_sort(stops.begin() + start, stops.begin() + end, [rtl](const Stop &a, const Stop &b) {
            return rtl ? a.rect.right() > b.rect.right() : a.rect.left() < b.rect.left();
        });
        for (qsizetype i = start; i < end; ++i)
            ordered.append(stops[i].widget);
        start = end;
    }
    return ordered;
}

// Tab follows what the user sees, not the order the controls were made in:
// rows that arrive later (the social accounts) sit in the middle of the panel.
bool ClipperPanelView::focusNextPrevChild(bool next)
{
    const QList<QWidget *> stops = tabStops();
    if (stops.isEmpty())
        return QWidget::focusNextPrevChild(next);
    QWidget *current = QApplication::focusWidget();
    while (current && current != this && !stops.contains(current))
        current = current->parentWidget();
    const qsizetype at = stops.indexOf(current);
    const qsizetype count = stops.size();
    const qsizetype to = at < 0 ? (next ? 0 : count - 1) : (at + (next ? 1 : count - 1)) % count;
    stops[to]->setFocus(next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
    // The scroll area keeps the control in sight.
    scroll_->ensureWidgetVisible(stops[to]);
    return true;
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
