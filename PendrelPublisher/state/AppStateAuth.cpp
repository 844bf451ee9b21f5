// Signing in by e-mail and through the browser, and the login item.

#include "state/AppState.h"

#include "jobs/JobQueue.h"

#include "platform/UrlOpener.h"
#include "support/Tasks.h"

#include <QPointer>

namespace pendrel {

// --- E-mail

void AppState::signIn()
{
    if (signInEmail_.isEmpty() || signInPassword_.isEmpty()) {
        setAuthErrorMessage(QStringLiteral("Enter both email and password."));
        return;
    }
    setIsSigningIn(true);
    setIsBrowserAuthInProgress(false);
    setBrowserAuthStatusMessage(std::nullopt);
    setAuthErrorMessage(std::nullopt);
    AuthState auth = authState_;
    auth.status = AuthStatus::authenticating;
    setAuthState(auth);
    startSoon(
        this, [this, email = signInEmail_, password = signInPassword_] { return runSignIn(email, password); },
        QStringLiteral("Sign-in"));
}

QCoro::Task<void> AppState::runSignIn(QString email, QString password)
{
    const QPointer<AppState> self(this);
    std::optional<UserSession> session;
    QString failure;
    std::optional<QString> notStored;
    try {
        session = co_await authManager_->signIn(email, password);
    } catch (const SessionNotStoredError &e) {
        // Signed in all the same: only the next start will ask again.
        session = e.session;
        notStored = e.description();
    } catch (const std::exception &e) {
        failure = userMessage(e);
    }
    if (!self)
        co_return;
    if (!session) {
        setAuthState(AuthState::unauthenticated());
        setAuthErrorMessage(failure);
        setIsSigningIn(false);
        notifyPreferredPanelSizeDidChange();
        co_return;
    }
    AuthState auth = authState_;
    auth.session = session;
    auth.status = AuthStatus::authenticated;
    setAuthState(auth);
    setSignInPassword(QString());
    co_await refreshAuthenticatedContext();
    if (!self)
        co_return;
    if (notStored && authState_.session)
        setAuthErrorMessage(notStored);
    setIsSigningIn(false);
    resumeQueueAfterSignIn();
    notifyPreferredPanelSizeDidChange();
}

// Jobs that waited while the session was refused (the service forgot it
// while it was out of reach) run once someone is signed in again.
void AppState::resumeQueueAfterSignIn()
{
    if (authState_.status == AuthStatus::authenticated)
        jobQueue_->processQueueIfNeeded();
}

// --- Browser

void AppState::cancelBrowserAuth()
{
    if (browserAuthTask_)
        browserAuthTask_->cancel();
    browserAuthTask_.reset();
}

void AppState::startBrowserAuth(NativeAuthFlowMode mode, std::optional<NativeAuthProvider> provider)
{
    if (isBrowserAuthInProgress_)
        return;
    setIsBrowserAuthInProgress(true);
    setIsSigningIn(false);
    setAuthErrorMessage(std::nullopt);
    if (provider)
        setBrowserAuthStatusMessage(providerHelperCopy(*provider));
    else if (mode == NativeAuthFlowMode::signup)
        setBrowserAuthStatusMessage(
            QStringLiteral("Create your account in your browser, then come right back."));
    else
        setBrowserAuthStatusMessage(
            QStringLiteral("Finish signing in through your browser and we'll connect automatically."));
    AuthState auth = authState_;
    auth.status = AuthStatus::authenticating;
    setAuthState(auth);
    notifyPreferredPanelSizeDidChange();

    cancelBrowserAuth();
    auto cancel = std::make_shared<CancellationToken>();
    browserAuthTask_ = cancel;
    startSoon(
        this, [this, mode, provider, cancel] { return runBrowserAuth(mode, provider, cancel); },
        QStringLiteral("Browser sign-in"));
}

QCoro::Task<void> AppState::runBrowserAuth(NativeAuthFlowMode mode,
                                           std::optional<NativeAuthProvider> provider,
                                           std::shared_ptr<CancellationToken> cancel)
{
    const QPointer<AppState> self(this);
    bool cancelled = false;
    bool completed = false;
    QString failure;
    std::optional<QString> notStored;
    try {
        cancel->throwIfCancelled();
        const NativeBrowserAuthStartResponse start = co_await authManager_->startBrowserAuth(mode, provider);
        cancel->throwIfCancelled();
        // Only a web page is handed to the browser: an answer naming a file
        // or another application's scheme is not followed.
        const QUrl address(start.authUrl, QUrl::StrictMode);
        const QString scheme = address.scheme().toLower();
        if (!address.isValid() || address.host().isEmpty() || (scheme != u"https" && scheme != u"http"))
            throw APIClientError(APIClientError::Kind::invalidResponse);
        if (!self)
            co_return;
        services_.urlOpener->open(address);

        const QDateTime deadline = QDateTime::currentDateTimeUtc().addSecs(browserAuthDeadlineSeconds);
        while (true) {
            if (QDateTime::currentDateTimeUtc() >= deadline)
                throw APIClientError::http(408,
                                           QStringLiteral("Browser sign in timed out. Please try again."),
                                           std::nullopt, std::nullopt);
            cancel->throwIfCancelled();
            const NativeBrowserAuthPollResponse poll =
                co_await authManager_->pollBrowserAuth(start.sessionId, start.pollToken);
            // A sign-out during the poll wins over whatever it answered.
            cancel->throwIfCancelled();
            if (const std::optional<UserSession> session = poll.completedSession()) {
                std::optional<KeychainError> storeFailure;
                try {
                    co_await authManager_->keychainStore().save(*session);
                } catch (const KeychainError &e) {
                    storeFailure = e; // signed in for this run only
                }
                if (storeFailure)
                    notStored = SessionNotStoredError(*storeFailure, *session).description();
                cancel->throwIfCancelled();
                if (!self)
                    co_return;
                AuthState auth = authState_;
                auth.session = session;
                auth.status = AuthStatus::authenticated;
                setAuthState(auth);
                setBrowserAuthStatusMessage(std::nullopt);
                setIsBrowserAuthInProgress(false);
                setSignInPassword(QString());
                completed = true;
                break;
            }
            if (poll.status == u"expired")
                throw APIClientError::http(401,
                                           QStringLiteral("Browser sign in expired. Please start again."),
                                           std::nullopt, std::nullopt);
            co_await cancellableSleep(browserAuthPollIntervalMs, *cancel);
        }
    } catch (const CancellationError &) {
        cancelled = true;
    } catch (const std::exception &e) {
        failure = userMessage(e);
    }
    if (!self)
        co_return;
    // A loop that was cancelled or replaced (by a sign-out or a newer start)
    // no longer owns the sign-in state: whoever replaced it set it.
    const bool current = browserAuthTask_ == cancel;
    if (current)
        browserAuthTask_.reset();
    if (completed) {
        co_await refreshAuthenticatedContext();
        if (!self)
            co_return;
        if (notStored && authState_.session)
            setAuthErrorMessage(notStored);
        resumeQueueAfterSignIn();
        notifyPreferredPanelSizeDidChange();
        co_return;
    }
    if (!current)
        co_return;
    if (!cancelled) {
        setAuthState(AuthState::unauthenticated());
        setAuthErrorMessage(failure);
    }
    setIsBrowserAuthInProgress(false);
    setBrowserAuthStatusMessage(std::nullopt);
    notifyPreferredPanelSizeDidChange();
}

// --- Login item

void AppState::setLaunchAtLoginEnabled(bool enabled)
{
    try {
        const LaunchAtLoginSnapshot snapshot = launchAtLoginService_->setEnabled(enabled);
        setLaunchAtLoginEnabledValue(snapshot.isEnabled);
        setLaunchAtLoginHelperText(snapshot.helperText);
    } catch (const std::exception &e) {
        setLaunchAtLoginEnabledValue(false);
        setLaunchAtLoginHelperText(userMessage(e));
    }
}

} // namespace pendrel
