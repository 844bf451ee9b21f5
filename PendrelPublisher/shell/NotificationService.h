#pragma once

#include "model/Job.h"
#include "platform/NotificationBackend.h"

#include <QDateTime>
#include <QUrl>

#include <functional>

namespace pendrel {

// Tells the user that an article is ready or has failed. Permission is asked
// once per process, before the first notification; the answer does not
// matter, notifications are posted regardless and their failures are silent.
class NotificationService {
public:
    explicit NotificationService(NotificationBackend &backend) : backend_(backend) {}

    [[nodiscard]] bool hasRequestedAuthorization() const { return hasRequestedAuthorization_; }

    // Asks for permission unless that has been done in this process.
    QCoro::Task<void> requestAuthorizationIfNeeded();
    QCoro::Task<void> notifySuccess(JobRecord job);
    QCoro::Task<void> notifyFailure(JobRecord job);

    // What a click on one of ours does: open its article when it names one
    // that parses, else show the panel when it asks for that, else nothing.
    static void handleClick(const QVariantMap &userInfo, const std::function<void(const QUrl &)> &openURL,
                            const std::function<void()> &showPanel);

    static NotificationRequest successRequest(const JobRecord &job);
    static NotificationRequest failureRequest(const JobRecord &job);

    // Failures that come within this long of the previous one (a queue of
    // jobs failing for one reason) share one notification, updated in
    // place with their count, instead of one each.
    int failureGroupWindowMs = 10'000;

private:
    QCoro::Task<void> post(NotificationRequest request);

    NotificationBackend &backend_;
    bool hasRequestedAuthorization_ = false;
    QString failureGroupIdentifier_;
    int failureGroupCount_ = 0;
    QDateTime lastFailureAt_;
};

} // namespace pendrel
