#pragma once

#include "api/APIClient.h"
#include "model/Job.h"
#include "shell/NotificationService.h"
#include "support/Error.h"

#include <QObject>
#include <QPointer>

#include <QCoroTask>

namespace pendrel {

class AppState;

// Thrown by the abort check; only the run itself catches it.
class JobAbortedError : public Error {
public:
    [[nodiscard]] QString description() const override { return QStringLiteral("Job aborted"); }
};

// Runs the waiting jobs through the service's pipeline, one at a time,
// oldest first. It keeps no job data: the next job is chosen afresh from the
// application state's list, and every change goes back through it, so a
// restart resumes from the records alone.
class JobQueue : public QObject {
    Q_OBJECT

public:
    JobQueue(AppState *appState, APIClient &apiClient, NotificationService &notifications,
             QObject *parent = nullptr);

    [[nodiscard]] bool isProcessing() const { return isProcessing_; }
    // Whether a live run is working on this job and so will see its abort
    // flag at the next check. A job restored as running is held by nothing
    // until the loop picks it again.
    [[nodiscard]] bool holdsJob(const QUuid &id) const { return heldJobID_ == id; }
    // Starts the run loop unless one is running; returns at once.
    void processQueueIfNeeded();

    // Whether a failed job gets a failure notification.
    static bool shouldNotifyFailure(const JobRecord &job);

private:
    QCoro::Task<void> runLoop();
    // Runs one job to a terminal status; never throws.
    QCoro::Task<void> runJob(QUuid id);
    // The stages from extraction to voice-over; the saved article's result.
    QCoro::Task<JobResult> runStages(JobRecord start, QString tenantID);
    // Publishes the saved article to every account enabled in `settings`;
    // leaves only per-account results and warn lines in the job. Never throws.
    QCoro::Task<void> runSocialCrossposts(QUuid jobID, QString articleID, ClipperSettings settings);
    void ensureJobNotAborted(const QUuid &jobID) const;
    // Puts a job back in line as it waited, its checkpoints kept, with `why`
    // in its log. A Cancel pressed while the run was away (at an await) is
    // seen here and ends the job instead: false then.
    bool putBackInLine(const QUuid &jobID, const QString &why);
    // Puts a job that found no service back in line.
    void holdForService(const QUuid &jobID, const QString &reason);
    void endAborted(const QUuid &jobID);
    // Enters a stage once the job's progress so far is on disk: a stage's
    // paid call made while its checkpoints cannot be recorded would be made
    // again after a restart. While saves fail it waits for one that works
    // (the application state retries on a timer); an abort ends the wait.
    QCoro::Task<void> enterStage(QUuid jobID, JobStep step, QString message);
    // The application state, or JobAbortedError when it is gone.
    [[nodiscard]] AppState &state() const;

    QPointer<AppState> appState_;
    APIClient &apiClient_;
    NotificationService &notifications_;
    bool isProcessing_ = false;
    std::optional<QUuid> heldJobID_;
};

} // namespace pendrel
