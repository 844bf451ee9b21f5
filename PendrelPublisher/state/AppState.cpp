// Construction, start-up, the session and the shell-facing operations.

#include "state/AppState.h"

#include "jobs/JobQueue.h"
#include "platform/UrlOpener.h"
#include "state/AppConfiguration.h"
#include "support/Tasks.h"

#include <QElapsedTimer>
#include <QPointer>

namespace pendrel {

namespace {

const QString kSessionExpired = QStringLiteral("Session expired. Please sign in again.");

} // namespace

AppState::AppState(const AppStateServices &services, QObject *parent)
    : QObject(parent), appUpdateState_(AppUpdateState::initial()), services_(services)
{
    Q_ASSERT(services.secrets && services.clipboard && services.urlOpener && services.notifications
             && services.loginItems);
    persistenceStore_ =
        std::make_unique<PersistenceStore>(services.stateFolder, AppConfiguration::bundleIdentifier());
    persistenceStore_->setSnapshotSource(this,
                                         [this] { return PersistedState{settings_, pendingClip_, jobs_}; });
    persistenceStore_->setOutcomeSink([this](const PersistenceStore::SaveOutcome &o) { applySaveOutcome(o); });
    saveRetryTimer_.setParent(this); // found by name in tests
    saveRetryTimer_.setObjectName(QStringLiteral("saveRetryTimer"));
    saveRetryTimer_.setInterval(saveRetryIntervalMs);
    connect(&saveRetryTimer_, &QTimer::timeout, this, &AppState::persist);
    reconnectTimer_.setParent(this);
    reconnectTimer_.setObjectName(QStringLiteral("reconnectTimer")); // found by name in tests
    reconnectTimer_.setSingleShot(true);
    connect(&reconnectTimer_, &QTimer::timeout, this, &AppState::reconnectNow);
    keychainStore_ = std::make_unique<KeychainStore>(*services.secrets, AppConfiguration::bundleIdentifier());
    connect(keychainStore_.get(), &KeychainStore::waitingForUserChanged, this,
            &AppState::isWaitingForSecretStoreChanged);
    authManager_ = std::make_unique<AuthManager>(*keychainStore_);
    apiClient_ = std::make_unique<APIClient>(*authManager_);
    notificationService_ = std::make_unique<NotificationService>(*services.notifications);
    launchAtLoginService_ = std::make_unique<LaunchAtLoginService>(*services.loginItems);
    jobQueue_ = std::make_unique<JobQueue>(this, *apiClient_, *notificationService_);
    clipboardService_ = std::make_unique<ClipboardCaptureService>(*services.clipboard);

    issueStatusExpiryTimer_.setSingleShot(true);
    connect(&issueStatusExpiryTimer_, &QTimer::timeout, this,
            [this] { acknowledgeTerminalIssue(issueStatusExpiryJob_); });
}

AppState::~AppState() = default;

bool AppState::isWaitingForSecretStore() const
{
    return keychainStore_->isWaitingForUser();
}

// --- Properties

void AppState::setAuthState(const AuthState &value)
{
    assign(authState_, value, &AppState::authStateChanged);
}

void AppState::setSettings(const ClipperSettings &value)
{
    assign(settings_, value, &AppState::settingsChanged);
    if (!isBootstrapping_)
        persist();
}

void AppState::setPendingClipValue(const std::optional<ClipPayload> &value)
{
    assign(pendingClip_, value, &AppState::pendingClipChanged);
}

void AppState::setJobs(const QList<JobRecord> &value)
{
    assign(jobs_, value, &AppState::jobsChanged);
}
void AppState::setAuxData(const AuxData &value)
{
    assign(auxData_, value, &AppState::auxDataChanged);
}
void AppState::setIsPanelPresented(bool value)
{
    assign(isPanelPresented_, value, &AppState::isPanelPresentedChanged);
}
void AppState::setStatusIconState(const StatusIconState &value)
{
    assign(statusIconState_, value, &AppState::statusIconStateChanged);
}
void AppState::setIsBootstrapping(bool value)
{
    assign(isBootstrapping_, value, &AppState::isBootstrappingChanged);
}
void AppState::setIsSigningIn(bool value)
{
    assign(isSigningIn_, value, &AppState::isSigningInChanged);
}
void AppState::setIsBrowserAuthInProgress(bool value)
{
    assign(isBrowserAuthInProgress_, value, &AppState::isBrowserAuthInProgressChanged);
}
void AppState::setBrowserAuthStatusMessage(const std::optional<QString> &value)
{
    assign(browserAuthStatusMessage_, value, &AppState::browserAuthStatusMessageChanged);
}
void AppState::setSignInEmail(const QString &value)
{
    assign(signInEmail_, value, &AppState::signInEmailChanged);
}
void AppState::setSignInPassword(const QString &value)
{
    assign(signInPassword_, value, &AppState::signInPasswordChanged);
}
void AppState::setAuthErrorMessage(const std::optional<QString> &value)
{
    assign(authErrorMessage_, value, &AppState::authErrorMessageChanged);
}
void AppState::setUrlInput(const QString &value)
{
    assign(urlInput_, value, &AppState::urlInputChanged);
}
void AppState::setIsShowingAdvancedSettings(bool value)
{
    assign(isShowingAdvancedSettings_, value, &AppState::isShowingAdvancedSettingsChanged);
}
void AppState::setIsShowingRecentJobs(bool value)
{
    assign(isShowingRecentJobs_, value, &AppState::isShowingRecentJobsChanged);
}
void AppState::setLaunchAtLoginEnabledValue(bool value)
{
    assign(launchAtLoginEnabled_, value, &AppState::launchAtLoginEnabledChanged);
}
void AppState::setLaunchAtLoginHelperText(const std::optional<QString> &value)
{
    assign(launchAtLoginHelperText_, value, &AppState::launchAtLoginHelperTextChanged);
}
void AppState::setAppUpdateState(const AppUpdateState &value)
{
    assign(appUpdateState_, value, &AppState::appUpdateStateChanged);
}

// --- Start-up and session

QCoro::Task<void> AppState::bootstrap()
{
    const QPointer<AppState> self(this);
    if (const std::optional<QString> preview = AppConfiguration::debugPreviewStateName()) {
        // Interface work: nothing is loaded, saved or resumed.
        applyDebugPreviewState(*preview);
        recomputeStatusIconState();
        setIsBootstrapping(false);
        notifyPreferredPanelSizeDidChange();
        co_return;
    }
    isRestoringState_ = true;
    // The secret store is asked now and answers while the file is read: one
    // after the other, its round trips would add to the start-up.
    QCoro::Task<std::optional<UserSession>> restoring = authManager_->restoreSession();
    const PersistedState stored = co_await persistenceStore_->loadState();
    if (!self)
        co_return;
    setSettings(stored.settings);
    setPendingClipValue(stored.pendingClip);
    QList<JobRecord> jobs = stored.jobs;
    std::stable_sort(jobs.begin(), jobs.end(),
                     [](const JobRecord &a, const JobRecord &b) { return a.createdAt > b.createdAt; });
    endAbortedLeftovers(jobs);
    waitAgainLeftRunning(jobs);
    setJobs(jobs);

    const LaunchAtLoginSnapshot login = launchAtLoginService_->currentSnapshot();
    setLaunchAtLoginEnabledValue(login.isEnabled);
    setLaunchAtLoginHelperText(login.helperText);

    const std::optional<UserSession> session = co_await std::move(restoring);
    if (!self)
        co_return;
    // What the secret store and the file say is shown now: signed in with
    // the stored session, the history, the settings. The service's answer
    // (tenant, balance) fills in the rest when it comes.
    AuthState auth = authState_;
    auth.session = session;
    if (session)
        auth.status = AuthStatus::authenticated;
    setAuthState(auth);
    isCheckingServiceAtStart_ = session.has_value(); // jobs wait for the first answer
    isRestoringState_ = false;

    recomputeStatusIconState();
    setIsBootstrapping(false);
    persist();
    notifyPreferredPanelSizeDidChange();
    scheduleIssueStatusExpiryIfNeeded();
    takeHeldCaptures();
    if (session) {
        co_await checkServiceAtStart();
        if (!self)
            co_return;
    }
    isCheckingServiceAtStart_ = false;
    jobQueue_->processQueueIfNeeded();
}

namespace {
int firstAnswerDeadlineMs = 5000;
} // namespace

void AppState::setFirstAnswerDeadlineMs(int ms)
{
    firstAnswerDeadlineMs = ms;
}

QCoro::Task<void> AppState::checkServiceAtStart()
{
    const QPointer<AppState> self(this);
    auto finished = std::make_shared<bool>(false);
    startSoon(
        this, [this, finished] { return runStartupRefresh(finished); }, QStringLiteral("Context check"));
    QElapsedTimer waited;
    waited.start();
    while (self && !*finished && waited.elapsed() < firstAnswerDeadlineMs)
        co_await nextSignal(this, &AppState::startupServiceCheckFinished);
    if (!self || *finished)
        co_return;
    // A network that swallows packets answers nothing for a whole transfer
    // time-out; the user hears now. The request goes on: its answer ends
    // the hold as any later try's would.
    if (!serviceUnreachable_)
        noteServiceUnreachable(
            QStringLiteral("no answer within %1 seconds").arg((firstAnswerDeadlineMs + 999) / 1000));
}

QCoro::Task<void> AppState::runStartupRefresh(std::shared_ptr<bool> finished)
{
    const QPointer<AppState> self(this);
    co_await refreshAuthenticatedContext();
    *finished = true;
    if (self)
        emit startupServiceCheckFinished();
}

void AppState::takeHeldCaptures()
{
    const QList<std::pair<ClipPayload, std::optional<bool>>> held = std::exchange(heldCaptures_, {});
    for (const auto &[clip, autoSendOverride] : held)
        setPendingClip(clip, autoSendOverride);
}

QCoro::Task<void> AppState::refreshAuthenticatedContext()
{
    const QPointer<AppState> self(this);
    if (!authState_.session) {
        setAuthState(AuthState::unauthenticated());
        co_return;
    }
    const std::optional<UserSession> asked = authState_.session;
    std::optional<AuthenticatedContext> context;
    bool expired = false;
    std::optional<QString> failure;
    std::optional<QString> unreachable;
    std::optional<QString> answeredError; // what the service answered, in words
    try {
        context = co_await apiClient_->fetchAuthenticatedContext();
    } catch (const APIClientError &e) {
        expired = e.kind() == APIClientError::Kind::http && e.statusCode() == 401;
        // No session left to send because the one shown ran out (the
        // session check drops it 30 s before its end), most likely while
        // the computer was away or asleep: the service's refusal come early.
        const std::optional<UserSession> &shown = authState_.session;
        const double now = double(QDateTime::currentMSecsSinceEpoch()) / 1000.0;
        expired = expired
                  || (e.kind() == APIClientError::Kind::missingSession
                      && (!shown || shown->expiresAt - now < AuthManager::expiryMarginSeconds));
        failure = e.userMessage();
        qWarning().noquote() << "The workspace could not be fetched:" << e.description();
        if (e.kind() == APIClientError::Kind::http)
            answeredError = QStringLiteral("%1 %2").arg(e.statusCode()).arg(httpReasonPhrase(e.statusCode()));
        else if (e.kind() == APIClientError::Kind::invalidResponse)
            answeredError = QStringLiteral("an answer that could not be read");
    } catch (const TransportError &e) {
        if (e.isUnreachable()) {
            unreachable = e.description();
        } else {
            failure = e.userMessage();
            qWarning().noquote() << "The workspace could not be fetched:" << e.description();
        }
    } catch (const DecodingError &e) {
        failure = e.userMessage();
        qWarning().noquote() << "The workspace could not be fetched:" << e.description();
        answeredError = QStringLiteral("an answer that could not be read");
    } catch (const std::exception &e) {
        failure = userMessage(e);
        qWarning().noquote() << "The workspace could not be fetched:" << describeError(e);
    }
    if (!self)
        co_return;
    // A sign-in that came while the service was asked holds: the refusal
    // was of the session before it.
    if (expired && authState_.session && authState_.session != asked)
        co_return;
    if (expired && authState_.session) {
        co_await forceSignOut(kSessionExpired);
        co_return;
    }
    if (expired) { // signed out meanwhile: nothing more to end
        setAuthState(AuthState::unauthenticated());
        co_return;
    }
    if (!authState_.session) // signed out meanwhile: the sign-out said what there is to say
        co_return;
    if (answeredError && serviceUnreachable_ && authState_.session) {
        // Back from an outage, but not well yet (a 502 from its gateway, a
        // 503 while it starts): jobs go on waiting, and the panel says
        // what it answers instead of "cannot be reached".
        noteServiceAnsweredError(*answeredError);
        co_return;
    }
    if (unreachable && authState_.session) {
        // No answer says nothing about the session: it stays, and the
        // panel says the service is out of reach rather than asking for a
        // sign-in.
        AuthState auth = authState_;
        auth.status = AuthStatus::authenticated;
        setAuthState(auth);
        noteServiceUnreachable(*unreachable);
        co_return;
    }
    if (unreachable)
        failure = unreachable;
    if (!context) {
        AuthState auth = authState_;
        auth.status = AuthStatus::error;
        auth.errorMessage = failure;
        setAuthState(auth);
        co_return;
    }
    updateAuthContext(*context);

    // The workspace data follows the content language, not the clock.
    const bool needed =
        !auxData_.lastFetchedAt || !auxData_.language || *auxData_.language != settings_.language;
    if (!needed)
        co_return;
    std::optional<AuxData> fetched;
    try {
        fetched = co_await apiClient_->fetchAuxData(context->tenantID, settings_.language);
    } catch (const std::exception &e) {
        failure = userMessage(e);
        qWarning().noquote() << "The workspace data could not be fetched:" << describeError(e);
    }
    if (!self)
        co_return;
    if (fetched) {
        setAuxData(*fetched);
        syncSocialCrosspostPreferences();
    } else {
        AuthState auth = authState_;
        auth.errorMessage = failure;
        setAuthState(auth);
    }
}

void AppState::updateAuthContext(const AuthenticatedContext &context)
{
    // An answer given to a session signed out meanwhile (a job's check that
    // came back after another job's refusal) does not sign the panel in
    // again: without a session it would never ask for one.
    if (!authState_.session)
        return;
    AuthState auth = authState_;
    auth.status = AuthStatus::authenticated;
    auth.tenantID = context.tenantID;
    auth.tenantName = context.tenantName;
    auth.customDomain = context.customDomain;
    auth.balanceCredits = context.balanceCredits;
    auth.planType = context.planType;
    auth.lastCheckedAt = QDateTime::currentDateTimeUtc();
    auth.errorMessage.reset();
    setAuthState(auth);
    notifyPreferredPanelSizeDidChange();
    noteServiceReachable();
}

QCoro::Task<void> AppState::forceSignOut(std::optional<QString> message)
{
    const QPointer<AppState> self(this);
    cancelBrowserAuth();
    // The service answered (it refused the session): not offline any more,
    // and nothing to ask again until someone signs in.
    forgetServiceUnreachable();
    const std::optional<UserSession> ending = authState_.session;
    try {
        co_await keychainStore_->clearSession();
    } catch (const std::exception &e) {
        // Signed out here all the same; the item is removed at the next sign-in.
        qWarning().noquote() << "Clearing the stored session failed:" << describeError(e);
    }
    if (!self)
        co_return;
    // Someone signed in while the old session was cleared (the store runs
    // its calls in order, so the new one is kept): that sign-in stands.
    if (authState_.session && authState_.session != ending)
        co_return;
    AuthState auth = AuthState::unauthenticated();
    auth.errorMessage = message;
    setAuthState(auth);
    setAuthErrorMessage(message);
    setIsBrowserAuthInProgress(false);
    setBrowserAuthStatusMessage(std::nullopt);
    recomputeStatusIconState();
    notifyPreferredPanelSizeDidChange();
}

void AppState::signOut()
{
    cancelBrowserAuth();
    startSoon(
        this, [this] { return forceSignOut(); }, QStringLiteral("Sign-out"));
}

// --- Shell-facing

void AppState::recomputeStatusIconState()
{
    // Jobs waiting for a service that does not answer (or answers errors)
    // are not being worked on: the icon does not say they are.
    const JobHold hold = jobHold();
    const bool serviceAway = hold == JobHold::offline || hold == JobHold::serviceError;
    const int active = serviceAway ? 0 : processingCount() + queuedCount();
    const std::optional<JobRecord> latest = latestJob();
    StatusIconState state = StatusIconState::idle();
    if (active > 0 && hold == JobHold::signedOut)
        state = StatusIconState::error(); // nothing goes on until the user signs in
    else if (active > 0)
        state = StatusIconState::processing(active);
    else if (latest && latest->status == JobStatus::error
             && isElevatedIssueStatus(*latest, QDateTime::currentDateTimeUtc()))
        state = StatusIconState::error();
    else if (latest && latest->status == JobStatus::success)
        state = StatusIconState::success();
    setStatusIconState(state);
    if (onStatusIconStateChange)
        onStatusIconStateChange(statusIconState_);
}

void AppState::notifyPreferredPanelSizeDidChange()
{
    if (!onPreferredPanelSizeChange)
        return;
    const bool signedIn = authState_.status == AuthStatus::authenticated;
    onPreferredPanelSizeChange(panelWidth, signedIn ? panelHeightSignedIn : panelHeightSignedOut);
}

void AppState::scheduleIssueStatusExpiryIfNeeded()
{
    issueStatusExpiryTimer_.stop();
    issueStatusExpiryJob_ = QUuid();
    const std::optional<JobRecord> latest = latestJob();
    if (!latest || latest->acknowledged
        || (latest->status != JobStatus::error && latest->status != JobStatus::aborted))
        return;
    const qint64 remainingMs =
        qint64(issueStatusSeconds) * 1000 - latest->updatedAt.msecsTo(QDateTime::currentDateTimeUtc());
    if (remainingMs <= 0) {
        acknowledgeTerminalIssue(latest->id);
        return;
    }
    issueStatusExpiryJob_ = latest->id;
    issueStatusExpiryTimer_.start(int(std::min<qint64>(remainingMs, std::numeric_limits<int>::max())));
}

void AppState::acknowledgeTerminalIssue(const QUuid &jobID)
{
    const auto it =
        std::find_if(jobs_.begin(), jobs_.end(), [&](const JobRecord &j) { return j.id == jobID; });
    if (it == jobs_.end() || (it->status != JobStatus::error && it->status != JobStatus::aborted))
        return;
    it->acknowledged = true;
    it->updatedAt = QDateTime::currentDateTimeUtc();
    emit jobsChanged();
    persist();
    recomputeStatusIconState();
    notifyPreferredPanelSizeDidChange();
}

void AppState::openExternalURL(const QUrl &url)
{
    if (onPanelDismissRequested)
        onPanelDismissRequested();
    // Give the panel time to close before the browser takes the focus.
    UrlOpener *opener = services_.urlOpener;
    QTimer::singleShot(openURLDelayMs, this, [opener, url] { opener->open(url); });
}

std::optional<QString> AppState::normalizePublicURL(const std::optional<QString> &value) const
{
    if (!value || value->isEmpty())
        return std::nullopt;
    // Without its trailing slash, so that joining a path never doubles it
    // and a prefix match keeps the slash on the path.
    QString base = AppConfiguration::apiBaseURL().toString();
    while (base.endsWith(u'/'))
        base.chop(1);
    std::optional<QString> domain;
    if (authState_.customDomain) {
        domain = authState_.customDomain->startsWith(QStringLiteral("http"))
                     ? *authState_.customDomain
                     : QStringLiteral("https://") + *authState_.customDomain;
    }
    if (value->startsWith(QStringLiteral("http://")) || value->startsWith(QStringLiteral("https://"))) {
        // The service's own address only: "https://pendrel.community" is
        // another site, not a page under "https://pendrel.com".
        const bool underBase = value->startsWith(base)
                               && (value->size() == base.size()
                                   || QStringView(u"/?#").contains(value->at(base.size())));
        if (domain && underBase)
            return *domain + value->mid(base.size());
        return value;
    }
    return domain.value_or(base) + (value->startsWith(u'/') ? QString() : QStringLiteral("/")) + *value;
}

// --- Views

std::optional<JobRecord> AppState::latestJob() const
{
    // The newest by creation time; among equals the first in the list, as a
    // stable sort would give.
    const JobRecord *latest = nullptr;
    for (const JobRecord &job : jobs_) {
        if (!latest || job.createdAt > latest->createdAt)
            latest = &job;
    }
    return latest ? std::optional<JobRecord>(*latest) : std::nullopt;
}

int AppState::processingCount() const
{
    return int(std::count_if(jobs_.begin(), jobs_.end(), [](const JobRecord &j) {
        return j.status == JobStatus::running && !j.aborted;
    }));
}

int AppState::queuedCount() const
{
    return int(std::count_if(jobs_.begin(), jobs_.end(), [](const JobRecord &j) {
        return j.status == JobStatus::submitted && !j.aborted;
    }));
}

bool AppState::isElevatedIssueStatus(const JobRecord &job, const QDateTime &now)
{
    return !job.acknowledged && (job.status == JobStatus::error || job.status == JobStatus::aborted)
           && job.updatedAt.msecsTo(now) < qint64(issueStatusSeconds) * 1000;
}

void AppState::persist()
{
    persistenceStore_->requestSave();
}

void AppState::applySaveOutcome(const PersistenceStore::SaveOutcome &outcome)
{
    lastSaveOutcome_ = outcome;
    const bool wasFailing = stateSaveError_.has_value();
    assign(stateSaveError_, outcome.saved ? std::nullopt : std::optional<QString>(outcome.error),
           &AppState::stateSaveErrorChanged);
    if (outcome.saved) {
        saveRetryTimer_.stop();
        // The queue held while starts could not be recorded; it goes on by itself.
        if (wasFailing && !isBootstrapping_)
            jobQueue_->processQueueIfNeeded();
    } else if (!saveRetryTimer_.isActive()) {
        saveRetryTimer_.start();
    }
    emit stateSaveFinished();
}

QCoro::Task<bool> AppState::waitUntilSaved()
{
    const QPointer<AppState> self(this);
    const quint64 wanted = persistenceStore_->lastRequest();
    if (wanted == 0) // nothing asked for yet: nothing to wait for
        co_return true;
    while (self) {
        if (lastSaveOutcome_ && lastSaveOutcome_->covers >= wanted)
            co_return lastSaveOutcome_->saved;
        co_await nextSignal(this, &AppState::stateSaveFinished);
    }
    co_return false;
}

} // namespace pendrel
