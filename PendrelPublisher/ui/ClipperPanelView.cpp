#include "ui/ClipperPanelView.h"

#include "state/AppConfiguration.h"
#include "state/AppState.h"
#include "ui/AuthSection.h"
#include "ui/PanelLook.h"
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
// on white, 6.9:1 on the dark field), whatever a style sheet's polish made of it.
class PlaceholderInk : public QObject {
public:
    using QObject::QObject;

    static void apply(QWidget *field)
    {
        const QColor ink = panelColors(panelLookOf(field)).secondary;
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


ClipperPanelView::ClipperPanelView(AppState &state, QWidget *parent, PanelLook look)
    : QWidget(parent), state_(state), look_(look)
{
    setObjectName(QStringLiteral("clipperPanel"));
    setPanelLook(this, look_);
    setPalette(panelPalette(look_));
    setStyleSheet(panelStyleSheet(look_));
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

    // Made inside the panel, so that its sections find the panel's look
    // while they are made; the scroll area takes it in below.
    auto *content = new QWidget(this);
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

    for (SettingsSection *settings : findChildren<SettingsSection *>())
        connect(settings, &SettingsSection::appearanceChosen, this, &ClipperPanelView::appearanceChosen);

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

void ClipperPanelView::setLook(PanelLook look)
{
    if (look == look_)
        return;
    look_ = look;
    // The mark first: the sheet's polish and every custom-painted piece read it.
    setPanelLook(this, look);
    setPalette(panelPalette(look));
    setStyleSheet(panelStyleSheet(look));
    header_->showMarks();
    // Pieces that paint themselves are not repolished: draw all of it again.
    for (QWidget *w : findChildren<QWidget *>())
        w->update();
    update();
}

void ClipperPanelView::setAppearanceChoice(PanelAppearance choice)
{
    for (SettingsSection *settings : findChildren<SettingsSection *>())
        settings->setAppearanceChoice(choice);
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
    const PanelColors &colors = panelColors(look_);
    gradient.setColorAt(0, colors.gradientTop);
    gradient.setColorAt(1, colors.gradientBottom);
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
