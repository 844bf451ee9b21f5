#include "ui/ClipperPanelView.h"

#include "model/Job.h"
#include "state/AppState.h"
#include "ui/PanelPieces.h"
#include "ui/PanelTexts.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace pendrel {

namespace {

QPushButton *button(const QString &text, const char *name, QWidget *parent)
{
    auto *b = new QPushButton(text, parent);
    b->setObjectName(QString::fromLatin1(name));
    return b;
}

} // namespace

ClipperPanelView::ClipperPanelView(AppState &state, QWidget *parent) : QWidget(parent), state_(state)
{
    setObjectName(QStringLiteral("clipperPanel"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(14, 14, 14, 14);
    layout->setSpacing(12);
    auto *header = new QHBoxLayout;
    auto *brand = new QLabel(QStringLiteral("<b>Pendrel</b>"), this);
    brand->setObjectName(QStringLiteral("wordMark"));
    badge_ = new HeaderActivityBadge(this);
    header->addWidget(brand);
    header->addStretch();
    header->addWidget(badge_);
    layout->addLayout(header);
    subtitle_ = new QLabel(this);
    subtitle_->setObjectName(QStringLiteral("headerSubtitle"));
    subtitle_->setWordWrap(true);
    subtitle_->setStyleSheet(QStringLiteral("color: #667085;"));
    layout->addWidget(subtitle_);
    error_ = new QLabel(this);
    error_->setObjectName(QStringLiteral("errorMessage"));
    error_->setWordWrap(true);
    error_->setStyleSheet(QStringLiteral("color: #c0392b"));
    layout->addWidget(error_);

    // Signed out.
    signInPage_ = new QWidget(this);
    auto *form = new QFormLayout(signInPage_);
    email_ = new QLineEdit(signInPage_);
    email_->setObjectName(QStringLiteral("signInEmail"));
    password_ = new QLineEdit(signInPage_);
    password_->setObjectName(QStringLiteral("signInPassword"));
    password_->setEchoMode(QLineEdit::Password);
    form->addRow(QStringLiteral("Email"), email_);
    form->addRow(QStringLiteral("Password"), password_);
    signIn_ = button(QStringLiteral("Sign in"), "signInButton", signInPage_);
    browserSignIn_ = button(QStringLiteral("Sign in on Pendrelweb"), "browserSignInButton", signInPage_);
    form->addRow(signIn_);
    form->addRow(browserSignIn_);
    layout->addWidget(signInPage_);
    connect(email_, &QLineEdit::textEdited, this, [this](const QString &t) { state_.setSignInEmail(t); });
    connect(password_, &QLineEdit::textEdited, this,
            [this](const QString &t) { state_.setSignInPassword(t); });
    connect(password_, &QLineEdit::returnPressed, this, [this] { state_.signIn(); });
    connect(signIn_, &QPushButton::clicked, this, [this] { state_.signIn(); });
    connect(browserSignIn_, &QPushButton::clicked, this,
            [this] { state_.startBrowserAuth(NativeAuthFlowMode::signin); });

    // Signed in.
    workspacePage_ = new QWidget(this);
    auto *work = new QVBoxLayout(workspacePage_);
    work->setContentsMargins(0, 0, 0, 0);
    auto *metrics = new QHBoxLayout;
    tenant_ = new MetricBlock(QStringLiteral("Tenant"), "tenantMetric", workspacePage_);
    balance_ = new MetricBlock(QStringLiteral("Balance"), "balanceMetric", workspacePage_);
    metrics->addWidget(tenant_);
    metrics->addWidget(balance_);
    work->addLayout(metrics);
    auto *capture = new QHBoxLayout;
    auto *clipboard = button(QStringLiteral("Use Clipboard"), "useClipboardButton", workspacePage_);
    url_ = new QLineEdit(workspacePage_);
    url_->setObjectName(QStringLiteral("urlField"));
    url_->setPlaceholderText(QStringLiteral("Paste URL"));
    auto *extract = button(QStringLiteral("Extract"), "extractButton", workspacePage_);
    capture->addWidget(clipboard);
    capture->addWidget(url_, 1);
    capture->addWidget(extract);
    work->addLayout(capture);
    pending_ = new QLabel(workspacePage_);
    pending_->setObjectName(QStringLiteral("pendingClip"));
    pending_->setWordWrap(true);
    work->addWidget(pending_);
    send_ = button(QStringLiteral("Send to Lumenflow"), "sendButton", workspacePage_);
    work->addWidget(send_);
    auto *statusLine = new QHBoxLayout;
    pill_ = new StatusPill(workspacePage_);
    pill_->setObjectName(QStringLiteral("statusPill"));
    jobStatus_ = new QLabel(workspacePage_);
    jobStatus_->setObjectName(QStringLiteral("jobStatus"));
    statusLine->addWidget(pill_);
    statusLine->addWidget(jobStatus_, 1);
    work->addLayout(statusLine);
    secondary_ = new QLabel(workspacePage_);
    secondary_->setObjectName(QStringLiteral("statusSecondary"));
    secondary_->setWordWrap(true);
    work->addWidget(secondary_);
    log_ = new QPlainTextEdit(workspacePage_);
    log_->setObjectName(QStringLiteral("jobLog"));
    log_->setReadOnly(true);
    work->addWidget(log_, 1);
    auto *actions = new QHBoxLayout;
    openArticle_ = button(QStringLiteral("Open article"), "openArticleButton", workspacePage_);
    auto *signOut = button(QStringLiteral("Sign out"), "signOutButton", workspacePage_);
    actions->addWidget(openArticle_);
    actions->addStretch();
    actions->addWidget(signOut);
    work->addLayout(actions);
    layout->addWidget(workspacePage_, 1);
    connect(clipboard, &QPushButton::clicked, this, [this] { state_.captureClipboard(); });
    connect(url_, &QLineEdit::textEdited, this, [this](const QString &t) { state_.setUrlInput(t); });
    connect(url_, &QLineEdit::returnPressed, this, [this] { state_.captureURL(); });
    connect(extract, &QPushButton::clicked, this, [this] { state_.captureURL(); });
    connect(send_, &QPushButton::clicked, this, [this] { state_.sendPendingClip(); });
    connect(signOut, &QPushButton::clicked, this, [this] { state_.signOut(); });
    connect(openArticle_, &QPushButton::clicked, this, [this] {
        if (const auto url = state_.latestArticleURL())
            state_.openExternalURL(*url);
    });

    for (const auto signal :
         {&AppState::authStateChanged, &AppState::jobsChanged, &AppState::pendingClipChanged,
          &AppState::authErrorMessageChanged, &AppState::urlInputChanged, &AppState::isSigningInChanged,
          &AppState::isBrowserAuthInProgressChanged, &AppState::browserAuthStatusMessageChanged})
        connect(&state_, signal, this, &ClipperPanelView::render);
    render();
}

void ClipperPanelView::render()
{
    const AuthState &auth = state_.authState();
    const bool signedIn = auth.status == AuthStatus::authenticated;
    signInPage_->setVisible(!signedIn);
    workspacePage_->setVisible(signedIn);
    QString message = state_.authErrorMessage().value_or(QString());
    if (state_.browserAuthStatusMessage())
        message = *state_.browserAuthStatusMessage();
    error_->setText(message);
    error_->setVisible(!message.isEmpty());
    if (email_->text() != state_.signInEmail())
        email_->setText(state_.signInEmail());
    if (password_->text() != state_.signInPassword())
        password_->setText(state_.signInPassword());
    signIn_->setEnabled(!state_.isSigningIn());
    browserSignIn_->setEnabled(!state_.isBrowserAuthInProgress());

    tenant_->setValue(PanelTexts::tenantName(state_));
    balance_->setValue(PanelTexts::balance(state_));
    subtitle_->setText(PanelTexts::headerSubtitle(state_));
    badge_->setBadge(PanelTexts::headerBadge(state_));
    if (url_->text() != state_.urlInput())
        url_->setText(state_.urlInput());
    const std::optional<ClipPayload> &clip = state_.pendingClip();
    pending_->setText(PanelTexts::previewHeadline(clip) + QStringLiteral(": ")
                      + PanelTexts::previewBody(clip));
    send_->setText(PanelTexts::sendButtonTitle(state_));
    send_->setEnabled(clip.has_value());
    const std::optional<JobRecord> job = state_.latestJob();
    pill_->setVisible(job.has_value());
    if (job)
        pill_->setPill(PanelTexts::statusPill(job->status));
    jobStatus_->setText(job ? PanelTexts::primaryMessage(*job) : QStringLiteral("No history yet."));
    const std::optional<QString> secondary = job ? PanelTexts::secondaryMessage(*job) : std::nullopt;
    secondary_->setText(secondary.value_or(QString()));
    secondary_->setVisible(secondary.has_value());
    QStringList lines;
    if (job) {
        for (auto it = job->logs.crbegin(); it != job->logs.crend(); ++it)
            lines << PanelTexts::logLine(*it);
    }
    log_->setPlainText(lines.join(u'\n'));
    openArticle_->setEnabled(state_.latestArticleURL().has_value());
}

} // namespace pendrel
