// Capturing, sending and tracking jobs.

#include "state/AppState.h"

#include "jobs/JobQueue.h"
#include "support/Tasks.h"
#include "support/Text.h"

#include <algorithm>
#include <vector>

namespace pendrel {

namespace {

const QString kJobAborted = QStringLiteral("Job aborted");

JobErrorInfo abortedError(const QString &message)
{
    return JobErrorInfo{message, std::nullopt, QStringLiteral("ABORTED")};
}

} // namespace

// --- Views

std::optional<JobRecord> AppState::job(const QUuid &id) const
{
    for (const JobRecord &j : jobs_) {
        if (j.id == id)
            return j;
    }
    return std::nullopt;
}

std::optional<JobRecord> AppState::latestActiveJob() const
{
    const std::optional<JobRecord> latest = latestJob();
    if (!latest)
        return std::nullopt;
    if (latest->status == JobStatus::submitted || latest->status == JobStatus::running)
        return latest;
    if (isElevatedIssueStatus(*latest, QDateTime::currentDateTimeUtc()))
        return latest;
    return std::nullopt;
}

std::optional<JobRecord> AppState::latestSuccessfulJob() const
{
    const JobRecord *found = nullptr;
    for (const JobRecord &j : jobs_) {
        if (j.status == JobStatus::success && (!found || j.createdAt > found->createdAt))
            found = &j;
    }
    return found ? std::optional<JobRecord>(*found) : std::nullopt;
}

QList<JobRecord> AppState::recentJobs() const
{
    // The five newest without sorting (or copying) the whole history: the
    // panel asks after every change. Equal times keep the list's order.
    std::vector<const JobRecord *> newest;
    newest.reserve(6);
    for (const JobRecord &j : jobs_) {
        auto at = std::find_if(newest.begin(), newest.end(),
                               [&](const JobRecord *kept) { return j.createdAt > kept->createdAt; });
        if (at == newest.end() && newest.size() >= 5)
            continue;
        newest.insert(at, &j);
        if (newest.size() > 5)
            newest.pop_back();
    }
    QList<JobRecord> recent;
    recent.reserve(qsizetype(newest.size()));
    for (const JobRecord *j : newest)
        recent.append(*j);
    return recent;
}

std::optional<QUuid> AppState::nextQueuedJobID() const
{
    // Oldest first is the newest-first order reversed: among jobs created at
    // the same instant the one further down the list (sent earlier) wins.
    const JobRecord *next = nullptr;
    for (const JobRecord &j : jobs_) {
        if (j.isWaiting() && (!next || j.createdAt <= next->createdAt))
            next = &j;
    }
    return next ? std::optional<QUuid>(next->id) : std::nullopt;
}

std::optional<QUrl> AppState::latestArticleURL() const
{
    const std::optional<JobRecord> latest = latestJob();
    if (!latest)
        return std::nullopt;
    const std::optional<QString> address =
        latest->result && latest->result->url ? latest->result->url : latest->savedURL;
    if (!address)
        return std::nullopt;
    const QUrl url(*address, QUrl::StrictMode);
    return url.isValid() ? std::optional<QUrl>(url) : std::nullopt;
}

// --- Capture and send

void AppState::captureClipboard(std::optional<bool> autoSendOverride)
{
    // The text is taken now, whatever else waits: a capture stands for what
    // was on the clipboard when it was made.
    const std::optional<ClipPayload> clip = clipboardService_->captureClip();
    if (!clip) {
        setAuthErrorMessage(QStringLiteral("Clipboard does not contain text."));
        if (onPanelRequested)
            onPanelRequested();
        return;
    }
    if (isRestoringState_) {
        // The stored clip and settings are not in yet; this one follows them.
        heldCaptures_.append({*clip, autoSendOverride});
        if (onPanelRequested)
            onPanelRequested();
        return;
    }
    setPendingClip(*clip, autoSendOverride);
}

void AppState::captureURL()
{
    const QString address = text::trimmed(urlInput_);
    // An address this long is a paste gone wrong (or a whole page); say so
    // rather than send something the service will cut or refuse.
    constexpr qsizetype longestAddress = 8192;
    if (address.size() > longestAddress) {
        setAuthErrorMessage(QStringLiteral("This address is %1 characters long; a web address can have at most "
                                           "8,192.")
                                .arg(address.size()));
        return;
    }
    // Any URL reference is accepted, relative ones included; the service
    // judges reachability.
    const QUrl parsed(address, QUrl::StrictMode);
    if (address.isEmpty() || !parsed.isValid()) {
        setAuthErrorMessage(QStringLiteral("Enter a valid URL."));
        return;
    }
    const ClipPayload clip = ClipPayload::webAddress(address);
    setUrlInput(QString());
    setPendingClip(clip, std::nullopt);
}

void AppState::setPendingClip(const ClipPayload &clip, std::optional<bool> autoSendOverride)
{
    setPendingClipValue(clip);
    setAuthErrorMessage(std::nullopt);
    persist();
    if (onPanelRequested)
        onPanelRequested();
    if (autoSendOverride.value_or(settings_.autoSend))
        sendPendingClip();
}

void AppState::insertNewJob(const JobRecord &job)
{
    jobs_.prepend(job);
    emit jobsChanged();
}

void AppState::sendPendingClip()
{
    if (!pendingClip_) {
        setAuthErrorMessage(QStringLiteral("Capture content first."));
        return;
    }
    const JobRecord job = JobRecord::draft(*pendingClip_, settings_);
    insertNewJob(job);
    addLog(job.id, LogLevel::info, QStringLiteral("Job created"));
    setPendingClipValue(std::nullopt);
    persist();
    recomputeStatusIconState();
    startSoon(
        this, [this] { return notificationService_->requestAuthorizationIfNeeded(); },
        QStringLiteral("Notification permission request"));
    jobQueue_->processQueueIfNeeded();
}

// --- Job tracking

void AppState::sortJobsNewestFirst()
{
    const auto newerFirst = [](const JobRecord &a, const JobRecord &b) { return a.createdAt > b.createdAt; };
    // An update almost never changes the order; checking is far cheaper than
    // sorting (which moves every record) with a long history.
    if (std::is_sorted(std::as_const(jobs_).begin(), std::as_const(jobs_).end(), newerFirst))
        return;
    std::stable_sort(jobs_.begin(), jobs_.end(), newerFirst);
}

void AppState::updateJob(const QUuid &jobID, const std::function<void(JobRecord &)> &mutate)
{
    const auto it =
        std::find_if(jobs_.begin(), jobs_.end(), [&](const JobRecord &j) { return j.id == jobID; });
    if (it == jobs_.end())
        return;
    mutate(*it);
    it->updatedAt = QDateTime::currentDateTimeUtc();
    if (!it->isWaiting())
        it->packTexts(); // nothing when they are packed already
    sortJobsNewestFirst();
    emit jobsChanged();
    persist();
    recomputeStatusIconState();
}

void AppState::addLog(const QUuid &jobID, LogLevel level, const QString &message)
{
    updateJob(jobID, [&](JobRecord &j) { j.appendLog(level, message, QDateTime::currentDateTimeUtc()); });
}

void AppState::markRunning(const QUuid &jobID, JobStep step, const QString &message)
{
    updateJob(jobID, [&](JobRecord &j) {
        j.status = JobStatus::running;
        j.processing = true;
        j.step = step;
        j.error.reset();
    });
    addLog(jobID, LogLevel::info, message);
}

void AppState::markAborted(const QUuid &jobID, const QString &message)
{
    updateJob(jobID, [&](JobRecord &j) {
        j.status = JobStatus::aborted;
        j.processing = false;
        j.step = JobStep::aborted;
        j.error = abortedError(message);
    });
}

void AppState::completeJob(const QUuid &jobID, const JobResult &result)
{
    updateJob(jobID, [&](JobRecord &j) {
        j.status = JobStatus::success;
        j.processing = false;
        j.step = JobStep::done;
        j.result = result;
        j.acknowledged = false;
        j.notifiedSuccess = true;
    });
    addLog(jobID, LogLevel::info, QStringLiteral("Job complete"));
    // Brings the credit balance up to date.
    startSoon(
        this, [this] { return refreshAuthenticatedContext(); }, QStringLiteral("Context refresh"));
    setStatusIconState(StatusIconState::success());
    if (onStatusIconStateChange)
        onStatusIconStateChange(statusIconState_);
    persist();
    recomputeStatusIconState();
}

void AppState::failJob(const QUuid &jobID, const std::exception &error, const std::optional<QString> &code)
{
    // The record (which the panel and the notification show) gets the plain
    // sentence; the log line keeps the request id or the parser's position.
    JobErrorInfo info{userMessage(error), std::nullopt, QStringLiteral("ERROR")};
    if (const auto *api = dynamic_cast<const APIClientError *>(&error);
        api && api->kind() == APIClientError::Kind::http) {
        info.status = api->statusCode();
        info.code = api->code().value_or(QStringLiteral("ERROR"));
    }
    if (code)
        info.code = code;
    updateJob(jobID, [&](JobRecord &j) {
        j.status = JobStatus::error;
        j.processing = false;
        j.step = JobStep::error;
        j.error = info;
    });
    addLog(jobID, LogLevel::error, describeError(error));
    setStatusIconState(StatusIconState::error());
    if (onStatusIconStateChange)
        onStatusIconStateChange(statusIconState_);
    persist();
    recomputeStatusIconState();
    scheduleIssueStatusExpiryIfNeeded();
}

void AppState::retryJob(const QUuid &id)
{
    const std::optional<JobRecord> old = job(id);
    if (!old)
        return;
    if (old->status == JobStatus::error && old->error && old->error->code == kSaveUnconfirmedCode) {
        // Its save may be stored already: the same record runs again from
        // its checkpoints and saves under the same article id, which the
        // service keeps as one article. A new record would publish a copy.
        updateJob(id, [](JobRecord &j) {
            j.status = JobStatus::submitted;
            j.step.reset();
            j.error.reset();
            j.acknowledged = false;
        });
        addLog(id, LogLevel::info, QStringLiteral("Retrying the save under the same article id"));
        persist();
        recomputeStatusIconState();
        jobQueue_->processQueueIfNeeded();
        return;
    }
    // The settings it was sent with, not today's.
    insertNewJob(JobRecord::draft(old->clip, old->settingsSnapshot));
    persist();
    recomputeStatusIconState();
    jobQueue_->processQueueIfNeeded();
}

void AppState::abortLatestJob()
{
    const std::optional<JobRecord> latest = latestJob();
    if (!latest)
        return;
    // A job in the middle of a stage is ended by the run at its next check.
    // One that was left processing by a quit and that no run holds (before
    // the queue resumes, or once its run has gone) has nobody to see the
    // flag: it ends here, or it would stay "running" for good.
    const bool heldByRun = latest->processing && jobQueue_->holdsJob(latest->id);
    const bool orphaned = latest->processing && !heldByRun;
    updateJob(latest->id, [&](JobRecord &j) {
        j.aborted = true;
        if (!heldByRun) {
            j.status = JobStatus::aborted;
            j.processing = false;
            j.step = JobStep::aborted;
            j.error = abortedError(kJobAborted);
        }
    });
    if (orphaned)
        addLog(latest->id, LogLevel::warn, kJobAborted);
    scheduleIssueStatusExpiryIfNeeded();
}

void AppState::endAbortedLeftovers(QList<JobRecord> &jobs)
{
    const QDateTime now = QDateTime::currentDateTimeUtc();
    for (JobRecord &j : jobs) {
        if (!j.aborted || (j.status != JobStatus::submitted && j.status != JobStatus::running))
            continue;
        j.status = JobStatus::aborted;
        j.processing = false;
        j.step = JobStep::aborted;
        j.error = abortedError(kJobAborted);
        j.appendLog(LogLevel::warn, kJobAborted, now);
        j.updatedAt = now;
    }
}

void AppState::waitAgainLeftRunning(QList<JobRecord> &jobs)
{
    for (JobRecord &j : jobs) {
        if (j.status != JobStatus::running || j.aborted)
            continue;
        j.status = JobStatus::submitted;
        j.processing = false;
        j.step.reset();
    }
}

AppState::JobHold AppState::jobHold() const
{
    if (stateSaveError_)
        return JobHold::notSaving;
    if (!authState_.session)
        return JobHold::signedOut;
    if (serviceUnreachable_)
        return serviceAnswersWithError_ ? JobHold::serviceError : JobHold::offline;
    if (isCheckingServiceAtStart_)
        return JobHold::checkingService;
    return JobHold::none;
}

void AppState::acknowledgeLatestSuccess()
{
    const std::optional<JobRecord> latest = latestJob();
    if (latest && latest->status == JobStatus::success)
        updateJob(latest->id, [](JobRecord &j) { j.acknowledged = true; });
}

} // namespace pendrel
