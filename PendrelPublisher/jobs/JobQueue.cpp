#include "jobs/JobQueue.h"

#include "auth/AuthManager.h"
#include "state/AppState.h"
#include "support/Tasks.h"

#include <QScopeGuard>

namespace pendrel {

namespace {

const QString kJobAborted = QStringLiteral("Job aborted");
const QString kSessionExpired = QStringLiteral("Session expired. Please sign in again.");
const QString kMaybeSaved =
    QStringLiteral("The article may already be saved; Retry saves it again without making a copy.");

// A save the service may have stored: it got no answer, or one that could
// not be read. An error status is the service's own no.
bool isUnconfirmedSave(const std::exception_ptr &failure)
{
    try {
        std::rethrow_exception(failure);
    } catch (const TransportError &) {
        return true;
    } catch (const DecodingError &) {
        return true;
    } catch (const APIClientError &e) {
        return e.kind() == APIClientError::Kind::invalidResponse;
    } catch (...) {
        return false;
    }
}

} // namespace

JobQueue::JobQueue(AppState *appState, APIClient &apiClient, NotificationService &notifications,
                   QObject *parent)
    : QObject(parent), appState_(appState), apiClient_(apiClient), notifications_(notifications)
{
}

void JobQueue::processQueueIfNeeded()
{
    if (isProcessing_)
        return;
    isProcessing_ = true;
    startSoon(
        this, [this] { return runLoop(); }, QStringLiteral("Job queue"));
}

QCoro::Task<void> JobQueue::runLoop()
{
    const QPointer<JobQueue> self(this);
    while (self && appState_) {
        // Jobs wait rather than fail while they cannot run: a start that
        // cannot be recorded would run again after a restart (charged
        // twice); without a session or a service there is nobody to send
        // them to. The application state resumes the queue when the cause
        // clears (a save works, a sign-in, the service answers).
        if (appState_->jobHold() != AppState::JobHold::none)
            break;
        // Asked afresh after every run, so jobs sent meanwhile join this loop.
        const std::optional<QUuid> next = appState_->nextQueuedJobID();
        if (!next)
            break;
        co_await runJob(*next);
    }
    if (!self)
        co_return;
    // No suspension since the last answer: a job sent now finds no loop and starts one.
    isProcessing_ = false;
    if (appState_)
        appState_->recomputeStatusIconState();
}

AppState &JobQueue::state() const
{
    if (!appState_)
        throw JobAbortedError();
    return *appState_;
}

void JobQueue::ensureJobNotAborted(const QUuid &jobID) const
{
    const std::optional<JobRecord> record = state().job(jobID);
    if (!record || record->aborted)
        throw JobAbortedError();
}

QCoro::Task<void> JobQueue::enterStage(QUuid jobID, JobStep step, QString message)
{
    const QPointer<JobQueue> self(this);
    while (!co_await state().waitUntilSaved()) {
        if (!self)
            throw JobAbortedError();
        ensureJobNotAborted(jobID);
        co_await nextSignal(&state(), &AppState::stateSaveFinished);
        if (!self)
            throw JobAbortedError();
        ensureJobNotAborted(jobID);
    }
    if (!self)
        throw JobAbortedError();
    state().markRunning(jobID, step, message);
}

void JobQueue::endAborted(const QUuid &jobID)
{
    if (!appState_)
        return;
    appState_->markAborted(jobID, kJobAborted);
    appState_->recomputeStatusIconState();
    appState_->scheduleIssueStatusExpiryIfNeeded();
}

bool JobQueue::putBackInLine(const QUuid &jobID, const QString &why)
{
    AppState &app = state();
    const std::optional<JobRecord> record = app.job(jobID);
    if (!record)
        return false;
    if (record->aborted) {
        endAborted(jobID);
        return false;
    }
    app.updateJob(jobID, [](JobRecord &j) {
        if (j.status == JobStatus::running)
            j.status = JobStatus::submitted;
        j.processing = false;
        j.step.reset();
    });
    app.addLog(jobID, LogLevel::warn, why);
    return true;
}

void JobQueue::holdForService(const QUuid &jobID, const QString &reason)
{
    putBackInLine(jobID, QStringLiteral("Waiting for the service: ") + reason);
    AppState &app = state();
    app.noteServiceUnreachable(reason);
    app.recomputeStatusIconState();
}

bool JobQueue::shouldNotifyFailure(const JobRecord &job)
{
    if (job.status != JobStatus::error)
        return false;
    const QString code = job.error && job.error->code ? *job.error->code : QString();
    static const QStringList alwaysNotified{QStringLiteral("INSUFFICIENT_CREDITS"),
                                            QStringLiteral("UNAUTHENTICATED"), QStringLiteral("EMPTY_TEXT"),
                                            QStringLiteral("EMPTY_TRANSFORM")};
    if (alwaysNotified.contains(code))
        return true;
    return !job.processing;
}

QCoro::Task<void> JobQueue::runJob(QUuid id)
{
    const QPointer<JobQueue> self(this);
    if (!appState_)
        co_return;
    const std::optional<JobRecord> start = appState_->job(id);
    if (!start)
        co_return;
    heldJobID_ = id;
    // A refusal signs out only the session the run was sent with, not one
    // signed in meanwhile.
    const std::optional<UserSession> sentWith = appState_->authState().session;
    const auto release = qScopeGuard([self] {
        if (self)
            self->heldJobID_.reset();
    });

    if (start->aborted) {
        endAborted(id);
        co_return;
    }

    std::optional<JobResult> result;
    bool unrecorded = false;
    bool aborted = false;
    bool started = false;
    std::optional<QString> noAnswer; // a request that got no answer at all
    bool sessionGone = false;        // no session left to send
    std::exception_ptr failure;
    try {
        const AuthenticatedContext context = co_await apiClient_.fetchAuthenticatedContext();
        state().updateAuthContext(context);
        state().markRunning(id, JobStep::prepare, QStringLiteral("Job started"));
        started = true;
        // No paid call before the start is on disk.
        unrecorded = !co_await state().waitUntilSaved();
        if (!unrecorded)
            result = co_await runStages(*start, context.tenantID);
    } catch (const JobAbortedError &) {
        aborted = true;
    } catch (const TransportError &e) {
        if (e.isUnreachable())
            noAnswer = e.description();
        failure = std::current_exception();
    } catch (const APIClientError &e) {
        // The session check found none before anything was sent: it ran out
        // (the computer slept past its end) or was signed out meanwhile.
        sessionGone = e.kind() == APIClientError::Kind::missingSession;
        failure = std::current_exception();
    } catch (...) {
        failure = std::current_exception();
    }
    if (!self || !appState_)
        co_return;

    // No answer: either the service is away (the job waits for it, keeping
    // its checkpoints) or it is there and this request failed (the job fails).
    if (noAnswer && !aborted && started) {
        try {
            state().updateAuthContext(co_await apiClient_.fetchAuthenticatedContext());
        } catch (const TransportError &e) {
            if (e.isUnreachable()) {
                noAnswer = e.description();
                started = false;
            }
        } catch (...) {
        }
        if (!self || !appState_)
            co_return;
        // A Cancel pressed during that check ends the job, whatever it found.
        if (const std::optional<JobRecord> now = appState_->job(id); now && now->aborted) {
            endAborted(id);
            co_return;
        }
    }
    if (noAnswer && !started) {
        holdForService(id, *noAnswer);
        co_return;
    }
    if (sessionGone && !aborted) {
        // The session the panel shows ran out (the computer slept past its
        // end), or a sign-out came meanwhile. Nothing went out for the job:
        // it waits for the next sign-in and runs after it, and the user is
        // signed out visibly. A session missing for another reason (the
        // secret store lost it) fails the job as before.
        const std::optional<UserSession> &shown = appState_->authState().session;
        const double now = double(QDateTime::currentMSecsSinceEpoch()) / 1000.0;
        if (!shown || shown->expiresAt - now < AuthManager::expiryMarginSeconds) {
            putBackInLine(id, QStringLiteral("Waiting for sign-in"));
            if (shown)
                co_await appState_->forceSignOut(kSessionExpired);
            co_return;
        }
    }

    if (unrecorded) {
        // Back to how it waited: the file still says so, and the loop stops
        // at its next turn. A Cancel pressed meanwhile ends it.
        appState_->updateJob(id, [&start](JobRecord &job) {
            const bool abortRequested = job.aborted;
            job = *start;
            job.aborted = abortRequested;
        });
        if (const std::optional<JobRecord> now = appState_->job(id); now && now->aborted)
            endAborted(id);
        co_return;
    }
    if (aborted) {
        endAborted(id);
        co_return;
    }
    if (failure) {
        bool sessionExpired = false;
        // The save went out and no readable answer came back: the article
        // may well be stored. Retry sends it again under the same article
        // id, which the service keeps as one article.
        const std::optional<JobRecord> failing = appState_->job(id);
        const bool saveUnconfirmed = failing && failing->step == JobStep::save && isUnconfirmedSave(failure);
        try {
            std::rethrow_exception(failure);
        } catch (const std::exception &e) {
            if (saveUnconfirmed)
                appState_->failJob(id,
                                   MessageError(joinSentences(userMessage(e), kMaybeSaved),
                                                joinSentences(describeError(e), kMaybeSaved)),
                                   kSaveUnconfirmedCode);
            else
                appState_->failJob(id, e);
            const auto *api = dynamic_cast<const APIClientError *>(&e);
            sessionExpired = api && api->kind() == APIClientError::Kind::http && api->statusCode() == 401;
        } catch (...) {
            appState_->failJob(id, MessageError(QStringLiteral("Something unexpected went wrong.")));
        }
        if (const std::optional<JobRecord> failed = appState_->job(id);
            failed && shouldNotifyFailure(*failed))
            co_await notifications_.notifyFailure(*failed);
        if (sessionExpired && self && appState_ && appState_->authState().session == sentWith)
            co_await appState_->forceSignOut(kSessionExpired);
        co_return;
    }

    appState_->completeJob(id, *result);
    if (const std::optional<JobRecord> done = appState_->job(id))
        co_await notifications_.notifySuccess(*done);
    if (!self)
        co_return;
    // Its own task: the loop goes on to the next job meanwhile.
    startSoon(
        this,
        [this, id, articleID = result->articleID, settings = start->settingsSnapshot] {
            return runSocialCrossposts(id, articleID, settings);
        },
        QStringLiteral("Crossposting"));
}

} // namespace pendrel
