#include "ui/PanelSections.h"

#include "model/CostEstimator.h"
#include "state/AppResources.h"
#include "state/AppState.h"
#include "ui/PanelPieces.h"
#include "ui/PanelTexts.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

#include <limits>

namespace pendrel {

namespace {

using Prominence = CompactActionButton::Prominence;

QVBoxLayout *cardIn(QWidget *section, const char *objectName, const QString &groupName)
{
    section->setObjectName(QString::fromLatin1(objectName));
    namedGroup(section, groupName);
    auto *outer = new QVBoxLayout(section);
    outer->setContentsMargins(0, 0, 0, 0);
    auto *card = new PanelCard(section);
    outer->addWidget(card);
    return card->content();
}

// Sets a label's text and shows it only when there is some.
void setOptionalText(QLabel *label, const std::optional<QString> &text)
{
    label->setText(text.value_or(QString()));
    label->setAccessibleName(label->text());
    label->setVisible(text && !text->isEmpty());
}

void connectAll(AppState &state, QWidget *section, std::initializer_list<void (AppState::*)()> changes,
                const std::function<void()> &render)
{
    for (const auto signal : changes)
        QObject::connect(&state, signal, section, render);
}

std::optional<QImage> brandImage(QStringView name)
{
    const std::optional<QString> path = AppResources::imagePath(u"Brand", name, u"png");
    if (!path)
        return std::nullopt;
    QImage image(*path);
    return image.isNull() ? std::nullopt : std::optional<QImage>(image);
}

QPixmap scaledForScreen(const QImage &image, QSize size, const QWidget *widget)
{
    const qreal ratio = widget->devicePixelRatioF();
    QPixmap pixmap = QPixmap::fromImage(
        image.scaled(size * ratio, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    pixmap.setDevicePixelRatio(ratio);
    return pixmap;
}

// A filled circle with a sideways bolt, for a bundle without the brand symbol.
QPixmap drawnSymbol(int size, qreal ratio)
{
    QPixmap pixmap(QSize(size, size) * ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(PanelTexts::toneText(PanelTexts::Tone::info));
    p.drawEllipse(QRectF(0, 0, size, size));
    const qreal s = size / 38.0;
    QPainterPath bolt;
    bolt.moveTo(8 * s, 21 * s);
    bolt.lineTo(20 * s, 10 * s);
    bolt.lineTo(18 * s, 18 * s);
    bolt.lineTo(30 * s, 17 * s);
    bolt.lineTo(18 * s, 28 * s);
    bolt.lineTo(20 * s, 20 * s);
    bolt.closeSubpath();
    p.setBrush(Qt::white);
    p.drawPath(bolt);
    return pixmap;
}

} // namespace

// --- Header

void HeaderSection::showMarks()
{
    marksLook_ = panelLookOf(this);
    const auto ink = [this](const QImage &image, QSize size) {
        if (marksLook_ == PanelLook::light)
            return scaledForScreen(image, size, this);
        const qreal ratio = devicePixelRatioF();
        const QImage scaled = image.scaled(size * ratio, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        QPixmap pixmap = QPixmap::fromImage(tintedImage(scaled, scaled.size(), panelColors(marksLook_).text));
        pixmap.setDevicePixelRatio(ratio);
        return pixmap;
    };
    if (symbolImage_)
        symbol_->setPixmap(ink(*symbolImage_, QSize(38, 38)));
    if (wordMarkImage_)
        wordMark_->setPixmap(ink(*wordMarkImage_, QSize(150, 22)));
}

HeaderSection::HeaderSection(AppState &state, QWidget *parent) : QWidget(parent), state_(state)
{
    setObjectName(QStringLiteral("headerSection"));
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(2, 0, 2, 0);
    row->setSpacing(10);

    symbol_ = named(new QLabel(this), "brandSymbol", QStringLiteral("Pendrel"));
    symbol_->setFixedSize(38, 38);
    symbolImage_ = brandImage(u"pendrel-symbol");
    hasSymbol_ = symbolImage_.has_value();
    if (!hasSymbol_)
        symbol_->setPixmap(drawnSymbol(38, devicePixelRatioF()));
    row->addWidget(symbol_, 0, Qt::AlignTop);

    auto *column = new QVBoxLayout;
    column->setSpacing(2);
    wordMark_ = named(new QLabel(this), "wordMark", QStringLiteral("Pendrel"));
    for (const QStringView name : {u"logo-email", u"pd_flat_logo_280", u"pendrel-wordmark"}) {
        if ((wordMarkImage_ = brandImage(name))) {
            hasWordMark_ = true;
            break;
        }
    }
    if (!hasWordMark_) {
        wordMark_->setText(QStringLiteral("Pendrel"));
        wordMark_->setProperty("role", QStringLiteral("wordMark"));
    }
    showMarks();
    column->addWidget(wordMark_, 0, Qt::AlignLeft);
    subtitle_ = roleLabel({}, "headerSubtitle", "help", this);
    column->addWidget(subtitle_);
    row->addLayout(column, 1);

    badge_ = new HeaderActivityBadge(this);
    row->addWidget(badge_, 0, Qt::AlignTop);

    connectAll(state_, this,
               {&AppState::browserAuthStatusMessageChanged, &AppState::isBrowserAuthInProgressChanged,
                &AppState::isWaitingForSecretStoreChanged, &AppState::stateSaveErrorChanged, &AppState::serviceUnreachableChanged,
                &AppState::isSigningInChanged, &AppState::jobsChanged, &AppState::authStateChanged},
               [this] { render(); });
    render();
}

void HeaderSection::render()
{
    subtitle_->setText(PanelTexts::headerSubtitle(state_));
    badge_->setBadge(PanelTexts::headerBadge(state_));
}

// --- Tenant

TenantSection::TenantSection(AppState &state, QWidget *parent) : QWidget(parent), state_(state)
{
    setObjectName(QStringLiteral("tenantSection"));
    namedGroup(this, QStringLiteral("Tenant and balance"));
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    auto *card = new PanelCard(this);
    auto *row = new QHBoxLayout;
    tenant_ = new MetricBlock(QStringLiteral("Tenant"), "tenantMetric", card);
    balance_ = new MetricBlock(QStringLiteral("Balance"), "balanceMetric", card);
    row->addWidget(tenant_, 3);
    row->addWidget(balance_, 2);
    card->content()->addLayout(row);
    outer->addWidget(card);
    connect(&state_, &AppState::authStateChanged, this, &TenantSection::render);
    render();
}

void TenantSection::render()
{
    tenant_->setValue(PanelTexts::tenantName(state_));
    balance_->setValue(PanelTexts::balance(state_));
}

// --- Status

StatusSection::StatusSection(AppState &state, QWidget *parent) : QWidget(parent), state_(state)
{
    QVBoxLayout *card = cardIn(this, "statusSection", QStringLiteral("Status"));
    auto *top = new QHBoxLayout;
    top->addWidget(captionLabel(QStringLiteral("Status"), this));
    top->addStretch();
    pill_ = named(new StatusPill(this), "statusPill", QString());
    top->addWidget(pill_);
    card->addLayout(top);
    primary_ = roleLabel({}, "statusPrimary", "title", this);
    secondary_ = roleLabel({}, "statusSecondary", "help", this);
    card->addWidget(primary_);
    card->addWidget(secondary_);

    auto *actions = new QHBoxLayout;
    cancel_ = new CompactActionButton(QStringLiteral("Cancel"), Prominence::secondary, "cancelButton", this);
    retry_ = new CompactActionButton(QStringLiteral("Retry"), Prominence::primary, "retryButton", this);
    topUp_ = new CompactActionButton(QStringLiteral("Top up"), Prominence::secondary, "topUpButton", this);
    actions->addWidget(cancel_);
    actions->addWidget(retry_);
    actions->addWidget(topUp_);
    actions->addStretch();
    card->addLayout(actions);

    logsToggle_ = new DisclosureButton(QStringLiteral("Logs"), "logsToggle", this);
    logs_ = roleLabel({}, "statusLogs", "log", this);
    logs_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    logs_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    logs_->setAccessibleName(QStringLiteral("Logs"));
    logs_->hide();
    card->addWidget(logsToggle_, 0, Qt::AlignLeft);
    card->addWidget(logs_);

    connect(cancel_, &QPushButton::clicked, this, [this] {
        state_.abortLatestJob();
        state_.scheduleIssueStatusExpiryIfNeeded();
    });
    connect(retry_, &QPushButton::clicked, this, [this] {
        if (const std::optional<JobRecord> latest = state_.latestJob())
            state_.retryJob(latest->id);
    });
    connect(topUp_, &QPushButton::clicked, this,
            [this] { state_.openExternalURL(PanelTexts::dashboardURL(u"dashboard/billing")); });
    connect(logsToggle_, &QToolButton::toggled, this, [this](bool on) {
        logs_->setVisible(on);
        renderLogs();
    });
    // The icon state changes when an issue's five minutes are over, which
    // is also when this section stops showing it.
    connectAll(state_, this,
               {&AppState::jobsChanged, &AppState::statusIconStateChanged, &AppState::stateSaveErrorChanged,
                &AppState::serviceUnreachableChanged, &AppState::authStateChanged},
               [this] { render(); });
    render();
}

void StatusSection::render()
{
    std::optional<JobRecord> job = state_.latestActiveJob();
    setVisible(job.has_value());
    std::optional<PanelTexts::JobCard> card;
    if (job)
        card = PanelTexts::jobCard(state_, *job);
    if (job == shown_ && card == shownCard_)
        return;
    shown_ = std::move(job);
    shownCard_ = card;
    if (!shown_)
        return;
    const JobRecord &j = *shown_;
    pill_->setPill(card->pill);
    primary_->setText(card->primary);
    setOptionalText(secondary_, card->secondary);
    const bool working = j.status == JobStatus::submitted || j.status == JobStatus::running;
    const bool ended = j.status == JobStatus::error || j.status == JobStatus::aborted;
    cancel_->setVisible(working);
    retry_->setVisible(ended);
    topUp_->setVisible(ended && j.error && j.error->code == u"INSUFFICIENT_CREDITS");
    renderLogs();
}

void StatusSection::renderLogs()
{
    // Only an open disclosure pays for formatting up to 200 lines.
    if (!shown_ || !logsToggle_->isChecked())
        return;
    QStringList lines;
    lines.reserve(shown_->logs.size());
    for (auto it = shown_->logs.crbegin(); it != shown_->logs.crend(); ++it)
        lines << PanelTexts::logLine(*it);
    logs_->setText(lines.join(u'\n'));
}

// --- Result

ResultSection::ResultSection(AppState &state, QWidget *parent) : QWidget(parent), state_(state)
{
    QVBoxLayout *card = cardIn(this, "resultSection", QStringLiteral("Result"));
    auto *top = new QHBoxLayout;
    title_ = roleLabel({}, "resultTitle", "title", this);
    top->addWidget(title_, 1);
    auto *pill = named(new StatusPill(this), "resultPill", QString());
    pill->setPill({QStringLiteral("Ready"), PanelTexts::Tone::success});
    top->addWidget(pill, 0, Qt::AlignTop);
    card->addLayout(top);
    url_ = named(new URLChip(this), "resultURL", QString());
    card->addWidget(url_);
    crossposts_ = roleLabel({}, "crosspostSummary", "help", this);
    card->addWidget(crossposts_);
    auto *actions = new QHBoxLayout;
    auto *open =
        new CompactActionButton(QStringLiteral("Open article"), Prominence::primary, "openArticleButton", this);
    auto *dashboard =
        new CompactActionButton(QStringLiteral("Dashboard"), Prominence::secondary, "dashboardButton", this);
    actions->addWidget(open);
    actions->addWidget(dashboard);
    actions->addStretch();
    card->addLayout(actions);

    connect(open, &QPushButton::clicked, this, [this] {
        if (const std::optional<QUrl> url = state_.latestArticleURL())
            state_.openExternalURL(*url);
        state_.acknowledgeLatestSuccess();
    });
    connect(dashboard, &QPushButton::clicked, this,
            [this] { state_.openExternalURL(PanelTexts::dashboardURL(u"dashboard/blog")); });
    connectAll(state_, this, {&AppState::jobsChanged, &AppState::statusIconStateChanged}, [this] { render(); });
    render();
}

void ResultSection::render()
{
    std::optional<JobRecord> success = state_.latestSuccessfulJob();
    const std::optional<JobRecord> active = state_.latestActiveJob();
    if (success && active && active->id != success->id)
        success.reset();
    setVisible(success.has_value());
    if (success == shown_)
        return;
    shown_ = std::move(success);
    if (!shown_)
        return;
    title_->setText(PanelTexts::resultTitle(*shown_));
    const QString address = PanelTexts::articleAddress(*shown_).value_or(QString());
    url_->setURL(address);
    url_->setVisible(!address.isEmpty());
    setOptionalText(crossposts_, PanelTexts::crosspostSummary(*shown_));
}

// --- Quick send

QuickSendSection::QuickSendSection(AppState &state, QWidget *parent) : QWidget(parent), state_(state)
{
    QVBoxLayout *card = cardIn(this, "quickSendSection", QStringLiteral("Quick send"));
    card->addWidget(captionLabel(QStringLiteral("Quick send"), this));
    auto *clipboard =
        new CompactActionButton(QStringLiteral("Use Clipboard"), Prominence::secondary, "useClipboardButton", this);
    card->addWidget(clipboard);
    auto *row = new QHBoxLayout;
    url_ = named(new QLineEdit(this), "urlField", QStringLiteral("Paste URL"));
    url_->setPlaceholderText(QStringLiteral("Paste URL"));
    url_->setClearButtonEnabled(true);
    // A line edit silently cuts text at 32,767 characters; take it whole so
    // that an overlong paste is refused with a reason instead.
    url_->setMaxLength(std::numeric_limits<int>::max());
    auto *extract = new CompactActionButton(QStringLiteral("Extract"), Prominence::secondary, "extractButton", this);
    row->addWidget(url_, 1);
    row->addWidget(extract);
    card->addLayout(row);
    // Capture and send report their problems through the state's message.
    error_ = roleLabel({}, "captureError", "error", this);
    error_->hide();
    card->addWidget(error_);

    connect(clipboard, &QPushButton::clicked, this, [this] {
        state_.captureClipboard();
        emit captureTried();
    });
    connect(url_, &QLineEdit::textChanged, this, [this](const QString &t) { state_.setUrlInput(t); });
    const auto captureURL = [this] {
        state_.captureURL();
        emit captureTried();
    };
    connect(url_, &QLineEdit::returnPressed, this, captureURL);
    connect(extract, &QPushButton::clicked, this, captureURL);
    connectAll(state_, this, {&AppState::urlInputChanged, &AppState::authErrorMessageChanged},
               [this] { render(); });
    render();
}

void QuickSendSection::render()
{
    if (url_->text() != state_.urlInput())
        url_->setText(state_.urlInput());
    setOptionalText(error_, state_.authErrorMessage());
}

// --- Preview

PreviewSection::PreviewSection(AppState &state, QWidget *parent) : QWidget(parent), state_(state)
{
    QVBoxLayout *card = cardIn(this, "previewSection", QStringLiteral("Preview"));
    auto *top = new QHBoxLayout;
    top->addWidget(captionLabel(QStringLiteral("Preview"), this));
    top->addStretch();
    language_ = named(new QLabel(this), "previewLanguage", QString());
    language_->setProperty("role", QStringLiteral("chip"));
    top->addWidget(language_);
    kind_ = named(new StatusPill(this), "previewKind", QString());
    top->addWidget(kind_);
    card->addLayout(top);
    headline_ = roleLabel({}, "previewHeadline", "title", this);
    body_ = roleLabel({}, "previewBody", "body", this);
    body_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    url_ = named(new URLChip(this), "previewURL", QString());
    card->addWidget(headline_);
    card->addWidget(body_);
    card->addWidget(url_);
    connectAll(state_, this, {&AppState::pendingClipChanged, &AppState::settingsChanged}, [this] { render(); });
    render();
}

void PreviewSection::render()
{
    const std::optional<ClipPayload> &clip = state_.pendingClip();
    kind_->setVisible(clip.has_value());
    if (clip)
        kind_->setPill({clipTypeLabel(clip->type), PanelTexts::Tone::muted});
    const QString language = PanelTexts::languageSummary(state_.settings().language);
    language_->setText(language);
    language_->setAccessibleName(language);
    headline_->setText(PanelTexts::previewHeadline(clip));
    body_->setText(PanelTexts::previewBody(clip));
    body_->setAccessibleName(body_->text());
    const bool address = clip && clip->type == ClipType::url && !clip->url.isEmpty();
    url_->setVisible(address);
    if (address)
        url_->setURL(clip->url);
}

// --- Send button

SendButtonSection::SendButtonSection(AppState &state, QWidget *parent) : QWidget(parent), state_(state)
{
    QVBoxLayout *card = cardIn(this, "sendSection", QStringLiteral("Send"));
    queue_ = roleLabel({}, "queueLine", "help", this);
    card->addWidget(queue_);
    auto *estimate = new QHBoxLayout;
    estimate->addWidget(captionLabel(QStringLiteral("Estimated cost"), this));
    estimate->addStretch();
    estimate_ = roleLabel({}, "estimatedCost", "metric", this);
    estimate_->setWordWrap(false);
    estimate->addWidget(estimate_);
    card->addLayout(estimate);
    breakdown_ = roleLabel({}, "costBreakdown", "help", this);
    card->addWidget(breakdown_);
    send_ = new CompactActionButton(QStringLiteral("Send to Lumenflow"), Prominence::primary, "sendButton", this, 36);
    card->addWidget(send_);
    connect(send_, &QPushButton::clicked, this, [this] { state_.sendPendingClip(); });
    connectAll(state_, this, {&AppState::jobsChanged, &AppState::pendingClipChanged, &AppState::settingsChanged},
               [this] { render(); });
    render();
}

void SendButtonSection::render()
{
    setOptionalText(queue_, PanelTexts::queueLine(state_));
    const CostBreakdown cost = CostEstimator::estimateBreakdown(state_.settings(), state_.pendingClip());
    estimate_->setText(PanelTexts::credits(cost.total));
    estimate_->setAccessibleName(QStringLiteral("Estimated cost ") + estimate_->text());
    setOptionalText(breakdown_, PanelTexts::costBreakdownLine(cost));
    const QString title = PanelTexts::sendButtonTitle(state_);
    send_->setText(title);
    send_->setAccessibleName(title);
    // Nothing to send: the button says so by being unavailable rather than
    // by an error after the click.
    send_->setEnabled(state_.pendingClip().has_value());
}

// --- Recent jobs

RecentJobsSection::RecentJobsSection(AppState &state, QWidget *parent) : QWidget(parent), state_(state)
{
    QVBoxLayout *card = cardIn(this, "recentJobsSection", QStringLiteral("Recent jobs"));
    toggle_ = new DisclosureButton(QStringLiteral("Recent jobs"), "recentJobsToggle", this);
    card->addWidget(toggle_, 0, Qt::AlignLeft);
    body_ = new QWidget(this);
    auto *list = new QVBoxLayout(body_);
    list->setContentsMargins(0, 0, 0, 0);
    list->setSpacing(8);
    empty_ = roleLabel({}, "noHistory", "help", body_);
    empty_->setText(QStringLiteral("No history yet."));
    list->addWidget(empty_);
    for (int i = 0; i < maxRows; ++i) {
        Row &row = rows_[size_t(i)];
        row.widget = new QWidget(body_);
        row.widget->setObjectName(QStringLiteral("recentJob%1").arg(i));
        auto *line = new QHBoxLayout(row.widget);
        line->setContentsMargins(0, 0, 0, 0);
        row.pill = named(new StatusPill(row.widget), "recentJobPill", QString());
        row.pill->setMinimumWidth(64); // titles line up whatever the status
        line->addWidget(row.pill, 0, Qt::AlignTop);
        auto *texts = new QVBoxLayout;
        texts->setSpacing(1);
        row.title = roleLabel({}, "recentJobTitle", "rowTitle", row.widget);
        row.subtitle = roleLabel({}, "recentJobSubtitle", "help", row.widget);
        texts->addWidget(row.title);
        texts->addWidget(row.subtitle);
        line->addLayout(texts, 1);
        row.open = new CompactActionButton(QStringLiteral("Open"), Prominence::secondary, "recentJobOpen",
                                           row.widget, 24);
        row.retry = new CompactActionButton(QStringLiteral("Retry"), Prominence::secondary, "recentJobRetry",
                                            row.widget, 24);
        line->addWidget(row.open, 0, Qt::AlignTop);
        line->addWidget(row.retry, 0, Qt::AlignTop);
        list->addWidget(row.widget);
        connect(row.open, &QPushButton::clicked, this, [this, i] {
            const Row &r = rows_[size_t(i)];
            if (!r.shown)
                return;
            const std::optional<QString> address = PanelTexts::articleAddress(*r.shown);
            const QUrl url(address.value_or(QString()), QUrl::StrictMode);
            if (url.isValid() && !url.scheme().isEmpty())
                state_.openExternalURL(url);
        });
        connect(row.retry, &QPushButton::clicked, this, [this, i] {
            if (const Row &r = rows_[size_t(i)]; r.shown)
                state_.retryJob(r.shown->id);
        });
    }
    card->addWidget(body_);
    connect(toggle_, &QToolButton::toggled, &state_, &AppState::setIsShowingRecentJobs);
    connectAll(state_, this, {&AppState::jobsChanged, &AppState::isShowingRecentJobsChanged}, [this] { render(); });
    render();
}

void RecentJobsSection::render()
{
    const bool open = state_.isShowingRecentJobs();
    toggle_->setExpanded(open);
    body_->setVisible(open);
    if (!open)
        return; // a closed list costs nothing per change
    const QList<JobRecord> recent = state_.recentJobs();
    empty_->setVisible(recent.isEmpty());
    for (int i = 0; i < maxRows; ++i) {
        Row &row = rows_[size_t(i)];
        if (i >= recent.size()) {
            row.widget->hide();
            row.shown.reset();
            continue;
        }
        row.widget->show();
        if (row.shown != recent[i])
            renderRow(row, recent[i]);
    }
}

void RecentJobsSection::renderRow(Row &row, const JobRecord &job)
{
    row.shown = job;
    row.pill->setPill(PanelTexts::statusPill(job.status));
    row.title->setText(PanelTexts::jobRowTitle(job));
    row.title->setAccessibleName(row.title->text());
    setOptionalText(row.subtitle, PanelTexts::recentJobSubtitle(job));
    const std::optional<QString> address = PanelTexts::articleAddress(job);
    row.open->setVisible(address && !address->isEmpty());
    row.retry->setVisible(job.status == JobStatus::error || job.status == JobStatus::aborted);
}

} // namespace pendrel
