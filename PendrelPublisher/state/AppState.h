#pragma once

#include "api/APIClient.h"
#include "api/AuxData.h"
#include "auth/AuthManager.h"
#include "auth/AuthState.h"
#include "auth/KeychainStore.h"
#include "auth/NativeAuth.h"
#include "model/Clip.h"
#include "model/ClipperSettings.h"
#include "model/Job.h"
#include "model/ShortcutKeys.h"
#include "shell/AppUpdateState.h"
#include "shell/LaunchAtLoginService.h"
#include "shell/NotificationService.h"
#include "state/PersistenceStore.h"
#include "support/Cancellation.h"

#include <QObject>
#include <QTimer>
#include <QUrl>

#include <QCoroTask>

#include <functional>
#include <memory>
#include <optional>

namespace pendrel {

class ClipboardReader;
class JobQueue;
class LoginItemBackend;
class NotificationBackend;
class SecretBackend;
class ShortcutSetup;
class UrlOpener;

// The desktop services the application state works through. The shell
// passes the Linux backends; tests pass fakes. None may be null unless said,
// and each must outlive the state.
struct AppStateServices {
    QString stateFolder = PersistenceStore::defaultBaseFolder();
    SecretBackend *secrets = nullptr;
    const ClipboardReader *clipboard = nullptr;
    UrlOpener *urlOpener = nullptr;
    NotificationBackend *notifications = nullptr;
    LoginItemBackend *loginItems = nullptr;
    // The desktop's own shortcut for capturing; may be null.
    ShortcutSetup *shortcutSetup = nullptr;
};

// The one state object of the application: what the panel shows, the job
// list the queue works through, the session, and the hooks the shell
// installs. Main thread only. Every property's setter ignores a value equal
// to the current one; otherwise it emits <name>Changed.
class AppState : public QObject {
    Q_OBJECT

public:
    static constexpr int issueStatusSeconds = 300;
    static constexpr int openURLDelayMs = 180;
    static constexpr int panelWidth = 440;
    static constexpr int panelHeightSignedIn = 760;
    static constexpr int panelHeightSignedOut = 548;

    // How often a failed save is tried again while nothing changes.
    static constexpr int saveRetryIntervalMs = 30000;

    // The browser sign-in's pace; tests shorten both.
    int browserAuthPollIntervalMs = 1200;
    int browserAuthDeadlineSeconds = 300;

    // Creates the services; reads nothing from disk or the network.
    explicit AppState(const AppStateServices &services, QObject *parent = nullptr);
    ~AppState() override;

    // --- Observable properties
    [[nodiscard]] const AuthState &authState() const { return authState_; }
    void setAuthState(const AuthState &value);
    [[nodiscard]] const ClipperSettings &settings() const { return settings_; }
    // Saves the state file (also for an equal value) unless bootstrapping.
    void setSettings(const ClipperSettings &value);
    [[nodiscard]] const std::optional<ClipPayload> &pendingClip() const { return pendingClip_; }
    void setPendingClipValue(const std::optional<ClipPayload> &value);
    [[nodiscard]] const QList<JobRecord> &jobs() const { return jobs_; }
    void setJobs(const QList<JobRecord> &value);
    [[nodiscard]] const AuxData &auxData() const { return auxData_; }
    void setAuxData(const AuxData &value);
    [[nodiscard]] bool isPanelPresented() const { return isPanelPresented_; }
    void setIsPanelPresented(bool value);
    [[nodiscard]] const StatusIconState &statusIconState() const { return statusIconState_; }
    [[nodiscard]] bool isBootstrapping() const { return isBootstrapping_; }
    [[nodiscard]] bool isSigningIn() const { return isSigningIn_; }
    void setIsSigningIn(bool value);
    [[nodiscard]] bool isBrowserAuthInProgress() const { return isBrowserAuthInProgress_; }
    void setIsBrowserAuthInProgress(bool value);
    [[nodiscard]] const std::optional<QString> &browserAuthStatusMessage() const
    {
        return browserAuthStatusMessage_;
    }
    void setBrowserAuthStatusMessage(const std::optional<QString> &value);
    // The desktop's secret store holds a call open, most likely behind its
    // own prompt (create a wallet, unlock the keyring).
    [[nodiscard]] bool isWaitingForSecretStore() const;
    // Why the state file cannot be written now (the system's reason); none
    // while saves go through. Changes are kept in memory and the save is
    // tried again on each change and every saveRetryIntervalMs; jobs do
    // not start meanwhile, since their start could not be recorded.
    [[nodiscard]] const std::optional<QString> &stateSaveError() const { return stateSaveError_; }
    // Why the service cannot be reached now (no network, the service is
    // away); none while it answers. The session is kept, jobs wait rather
    // than fail, and the service is tried again with a growing pause and
    // whenever the desktop reports the network back.
    [[nodiscard]] const std::optional<QString> &serviceUnreachable() const { return serviceUnreachable_; }
    // Set together with serviceUnreachable when the service did answer, but
    // with an error (a 5xx after an outage, an unreadable answer): jobs wait
    // the same way, and the panel says what it answered.
    [[nodiscard]] bool serviceAnswersWithError() const { return serviceAnswersWithError_; }
    // A request found no service: holds the queue and starts the retries.
    void noteServiceUnreachable(const QString &reason);
    // The service answered a try with an error while jobs wait for it: they
    // go on waiting, and the pause grows as for no answer at all.
    void noteServiceAnsweredError(const QString &reason);
    // Why waiting jobs do not start now. Nothing works on a held job, so it
    // shows as waiting (not running) and for what.
    enum class JobHold {
        none,
        notSaving,       // its start could not be recorded
        signedOut,       // no session: the job runs after the next sign-in
        offline,         // the service does not answer
        serviceError,    // the service answers with errors
        checkingService, // start-up asks the service first
    };
    [[nodiscard]] JobHold jobHold() const;
    // How long start-up waits for the service's first answer before it says
    // "Offline" (the request itself goes on, under the transfer time-out);
    // tests shorten it.
    static void setFirstAnswerDeadlineMs(int ms);
    // Tries the service at once (a network-back signal, a click).
    void reconnectNow();
    // The pause before the first retry, doubling up to the longest; tests shorten both.
    static void setReconnectDelaysMs(int first, int longest);
    // Resolves once everything changed so far is on disk (true) or its save
    // failed (false).
    QCoro::Task<bool> waitUntilSaved();
    [[nodiscard]] const QString &signInEmail() const { return signInEmail_; }
    void setSignInEmail(const QString &value);
    [[nodiscard]] const QString &signInPassword() const { return signInPassword_; }
    void setSignInPassword(const QString &value);
    [[nodiscard]] const std::optional<QString> &authErrorMessage() const { return authErrorMessage_; }
    void setAuthErrorMessage(const std::optional<QString> &value);
    [[nodiscard]] const QString &urlInput() const { return urlInput_; }
    void setUrlInput(const QString &value);
    [[nodiscard]] bool isShowingAdvancedSettings() const { return isShowingAdvancedSettings_; }
    void setIsShowingAdvancedSettings(bool value);
    [[nodiscard]] bool isShowingRecentJobs() const { return isShowingRecentJobs_; }
    void setIsShowingRecentJobs(bool value);
    [[nodiscard]] bool launchAtLoginEnabled() const { return launchAtLoginEnabled_; }
    void setLaunchAtLoginEnabledValue(bool value);
    [[nodiscard]] const std::optional<QString> &launchAtLoginHelperText() const
    {
        return launchAtLoginHelperText_;
    }
    void setLaunchAtLoginHelperText(const std::optional<QString> &value);
    // Null where the desktop has no shortcut setup of its own to offer.
    [[nodiscard]] ShortcutSetup *shortcutSetup() const { return services_.shortcutSetup; }
    // The keys that capture from anywhere; kept with the appearance
    // settings by the shell, not in the state file.
    [[nodiscard]] const ShortcutKeys &shortcutKeys() const { return shortcutKeys_; }
    void setShortcutKeys(const ShortcutKeys &value) { assign(shortcutKeys_, value, &AppState::shortcutKeysChanged); }
    // The desktop's own shortcut setup as the settings row shows it, and
    // the row's Set Up / Remove (throws what the desktop's settings said).
    [[nodiscard]] ShortcutSetupView shortcutSetupView() const;
    void toggleShortcutSetup();
    // Where the chosen keys stand, in one sentence; none before it is known.
    [[nodiscard]] const std::optional<QString> &shortcutStatus() const { return shortcutStatus_; }
    void setShortcutStatus(const std::optional<QString> &value)
    {
        assign(shortcutStatus_, value, &AppState::shortcutStatusChanged);
    }
    [[nodiscard]] const AppUpdateState &appUpdateState() const { return appUpdateState_; }
    void setAppUpdateState(const AppUpdateState &value);

    // --- Hooks the shell installs; each is called only when set.
    std::function<void(const StatusIconState &)> onStatusIconStateChange;
    std::function<void()> onPanelRequested;
    std::function<void()> onPanelDismissRequested;
    std::function<void(int width, int height)> onPreferredPanelSizeChange;
    std::function<void(const AppUpdateState &)> onUpdateStateChange;
    std::function<void()> onCheckForUpdatesRequested;

    // --- Services
    [[nodiscard]] PersistenceStore &persistenceStore() const { return *persistenceStore_; }
    [[nodiscard]] AuthManager &authManager() const { return *authManager_; }
    [[nodiscard]] APIClient &apiClient() const { return *apiClient_; }
    [[nodiscard]] NotificationService &notificationService() const { return *notificationService_; }
    [[nodiscard]] JobQueue &jobQueue() const { return *jobQueue_; }

    // --- Start-up and session
    // Restores the stored state and the session and shows them at once
    // (captures made meanwhile are taken then), asks the service for the
    // workspace context (saying "Offline" when it does not answer within
    // the first-answer deadline), then resumes the queue. Never fails.
    QCoro::Task<void> bootstrap();
    QCoro::Task<void> refreshAuthenticatedContext();
    void updateAuthContext(const AuthenticatedContext &context);
    // Ends the session locally and shows `message` on the sign-in screen.
    QCoro::Task<void> forceSignOut(std::optional<QString> message = std::nullopt);
    void signOut();
    // E-mail sign-in with the form's fields.
    void signIn();
    // Opens a sign-in (or sign-up) session in the browser and polls until it
    // completes, expires or times out. Ignored while one runs.
    void startBrowserAuth(NativeAuthFlowMode mode, std::optional<NativeAuthProvider> provider = std::nullopt);
    void setLaunchAtLoginEnabled(bool enabled);

    // --- Shell-facing
    void recomputeStatusIconState();
    void notifyPreferredPanelSizeDidChange();
    void scheduleIssueStatusExpiryIfNeeded();
    void acknowledgeTerminalIssue(const QUuid &jobID);
    void openExternalURL(const QUrl &url);
    // The public address of a saved article: service addresses move to the
    // workspace's custom domain, paths are resolved against it.
    [[nodiscard]] std::optional<QString> normalizePublicURL(const std::optional<QString> &value) const;

    // --- Derived views of the job list
    [[nodiscard]] std::optional<JobRecord> latestJob() const;
    [[nodiscard]] int processingCount() const;
    [[nodiscard]] int queuedCount() const;
    [[nodiscard]] static bool isElevatedIssueStatus(const JobRecord &job, const QDateTime &now);
    [[nodiscard]] std::optional<JobRecord> job(const QUuid &id) const;
    [[nodiscard]] std::optional<JobRecord> latestActiveJob() const;
    [[nodiscard]] std::optional<JobRecord> latestSuccessfulJob() const;
    [[nodiscard]] QList<JobRecord> recentJobs() const;
    [[nodiscard]] std::optional<QUuid> nextQueuedJobID() const;
    [[nodiscard]] std::optional<QUrl> latestArticleURL() const;

    // --- Capture and send
    void captureClipboard(std::optional<bool> autoSendOverride = std::nullopt);
    void captureURL();
    void sendPendingClip();

    // --- Job tracking (the queue's and the panel's)
    // The one way a job changes: applies `mutate`, stamps updatedAt,
    // re-sorts newest first, saves and recomputes the icon. Unknown ids
    // change nothing.
    void updateJob(const QUuid &jobID, const std::function<void(JobRecord &)> &mutate);
    void addLog(const QUuid &jobID, LogLevel level, const QString &message);
    void markRunning(const QUuid &jobID, JobStep step, const QString &message);
    void markAborted(const QUuid &jobID, const QString &message);
    void completeJob(const QUuid &jobID, const JobResult &result);
    // `code` replaces the one taken from the error (a service error's code, else "ERROR").
    void failJob(const QUuid &jobID, const std::exception &error, const std::optional<QString> &code = {});
    void retryJob(const QUuid &id);
    void abortLatestJob();
    void acknowledgeLatestSuccess();

    // --- Crossposting preferences
    // Active accounts, by platform title, then by name ignoring case.
    [[nodiscard]] QList<ConnectedSocialAccount> availableSocialCrosspostAccounts() const;
    // The stored preference, or the account's default (not stored).
    [[nodiscard]] SocialCrosspostPreference
    socialCrosspostPreference(const ConnectedSocialAccount &account) const;
    void setSocialCrosspostEnabled(const ConnectedSocialAccount &account, bool enabled);
    void setSocialCrosspostMode(const ConnectedSocialAccount &account, SocialCrosspostMode mode);
    // Drops the preferences of accounts no longer available and refreshes
    // the rest from their accounts.
    void syncSocialCrosspostPreferences();
    void openSocialConnections();

    // Saves settings, pending clip and jobs; the store takes its copy when
    // it is ready to encode it (PersistenceStore::requestSave).
    void persist();

signals:
    void authStateChanged();
    void settingsChanged();
    void pendingClipChanged();
    void jobsChanged();
    void auxDataChanged();
    void isPanelPresentedChanged();
    void statusIconStateChanged();
    void isBootstrappingChanged();
    void isSigningInChanged();
    void isBrowserAuthInProgressChanged();
    void browserAuthStatusMessageChanged();
    void isWaitingForSecretStoreChanged();
    void stateSaveErrorChanged();
    void serviceUnreachableChanged();
    // After each write of the state file, saved or not.
    void stateSaveFinished();
    // The start-up question to the service has its answer (or gave up).
    void startupServiceCheckFinished();
    void signInEmailChanged();
    void signInPasswordChanged();
    void authErrorMessageChanged();
    void urlInputChanged();
    void isShowingAdvancedSettingsChanged();
    void isShowingRecentJobsChanged();
    void launchAtLoginEnabledChanged();
    void launchAtLoginHelperTextChanged();
    void appUpdateStateChanged();
    void shortcutStatusChanged();
    void shortcutKeysChanged();

private:
    // Jobs restored with their abort flag set while still submitted or
    // running (cancelled, then quit before the run ended them): the queue
    // never picks them, so they end aborted here.
    static void endAbortedLeftovers(QList<JobRecord> &jobs);
    // Jobs a quit left running: nothing works on them until the queue
    // picks them again, so they wait in line, their checkpoints kept.
    static void waitAgainLeftRunning(QList<JobRecord> &jobs);

    // True when the value changed (and the signal went out).
    template <class T, class Signal>
    bool assign(T &field, const T &value, Signal changed)
    {
        if (field == value)
            return false;
        field = value;
        emit(this->*changed)();
        return true;
    }
    void setStatusIconState(const StatusIconState &value);
    void applySaveOutcome(const PersistenceStore::SaveOutcome &outcome);
    void noteServiceDown(const QString &reason, bool answered);
    // The start-up question to the service, bounded by the first-answer deadline.
    QCoro::Task<void> checkServiceAtStart();
    QCoro::Task<void> runStartupRefresh(std::shared_ptr<bool> finished);
    // Captures made while the stored state is being read: each became a clip
    // when it was made, and each is taken in order once the state is in.
    void takeHeldCaptures();
    void noteServiceReachable();
    void forgetServiceUnreachable();
    void resumeQueueAfterSignIn();
    QCoro::Task<void> probeService();
    void followNetworkState();
    void cancelBrowserAuth();
    QCoro::Task<void> runSignIn(QString email, QString password);
    QCoro::Task<void> runBrowserAuth(NativeAuthFlowMode mode, std::optional<NativeAuthProvider> provider,
                                     std::shared_ptr<CancellationToken> cancel);
    // Replaces the stored state with a sample one for interface work.
    void applyDebugPreviewState(const QString &mode);
    void setIsBootstrapping(bool value);
    void setPendingClip(const ClipPayload &clip, std::optional<bool> autoSendOverride);
    void sortJobsNewestFirst();
    void editSocialCrosspostPreference(const ConnectedSocialAccount &account,
                                       const std::function<void(SocialCrosspostPreference &)> &edit);
    void insertNewJob(const JobRecord &job);

    AuthState authState_;
    ClipperSettings settings_;
    std::optional<ClipPayload> pendingClip_;
    QList<JobRecord> jobs_;
    AuxData auxData_;
    bool isPanelPresented_ = false;
    StatusIconState statusIconState_ = StatusIconState::idle();
    bool isBootstrapping_ = true;
    bool isSigningIn_ = false;
    bool isBrowserAuthInProgress_ = false;
    std::optional<QString> browserAuthStatusMessage_;
    QString signInEmail_;
    QString signInPassword_;
    std::optional<QString> authErrorMessage_;
    QString urlInput_;
    bool isShowingAdvancedSettings_ = false;
    bool isShowingRecentJobs_ = false;
    bool launchAtLoginEnabled_ = false;
    std::optional<QString> launchAtLoginHelperText_;
    AppUpdateState appUpdateState_;
    std::optional<QString> shortcutStatus_;
    ShortcutKeys shortcutKeys_;

    AppStateServices services_;
    std::unique_ptr<PersistenceStore> persistenceStore_;
    std::unique_ptr<KeychainStore> keychainStore_;
    std::unique_ptr<AuthManager> authManager_;
    std::unique_ptr<APIClient> apiClient_;
    std::unique_ptr<NotificationService> notificationService_;
    std::unique_ptr<JobQueue> jobQueue_;
    std::unique_ptr<ClipboardCaptureService> clipboardService_;
    std::unique_ptr<LaunchAtLoginService> launchAtLoginService_;
    std::shared_ptr<CancellationToken> browserAuthTask_; // the running browser sign-in
    QTimer issueStatusExpiryTimer_;
    std::optional<QString> stateSaveError_;
    std::optional<PersistenceStore::SaveOutcome> lastSaveOutcome_;
    QTimer saveRetryTimer_;
    std::optional<QString> serviceUnreachable_;
    QTimer reconnectTimer_;
    int reconnectDelayMs_ = 0;
    bool isProbingService_ = false;
    bool serviceAnswersWithError_ = false;
    bool isCheckingServiceAtStart_ = false;
    bool isRestoringState_ = false;
    QList<std::pair<ClipPayload, std::optional<bool>>> heldCaptures_;
    bool followsNetworkState_ = false;
    QUuid issueStatusExpiryJob_;
};

} // namespace pendrel
