#include "shell/NotificationService.h"

#include "support/Uuid.h"

namespace pendrel {

QCoro::Task<void> NotificationService::requestAuthorizationIfNeeded()
{
    if (hasRequestedAuthorization_)
        co_return;
    // Set before waiting, so that a notification posted meanwhile does not
    // ask a second time.
    hasRequestedAuthorization_ = true;
    try {
        co_await backend_.requestAuthorization();
    } catch (...) {
        // Refused or unavailable: notifications are posted all the same.
    }
}

void NotificationService::handleClick(const QVariantMap &userInfo,
                                      const std::function<void(const QUrl &)> &openURL,
                                      const std::function<void()> &showPanel)
{
    const QVariant address = userInfo.value(QStringLiteral("open_url"));
    if (address.typeId() == QMetaType::QString) {
        // An address that does not parse opens nothing: the notification
        // was about the article, and the panel is not a stand-in for it.
        const QUrl url(address.toString(), QUrl::StrictMode);
        if (url.isValid() && !address.toString().isEmpty())
            openURL(url);
        return;
    }
    if (userInfo.value(QStringLiteral("open_panel")).toBool())
        showPanel();
}

NotificationRequest NotificationService::successRequest(const JobRecord &job)
{
    NotificationRequest request;
    request.identifier = QStringLiteral("pendrel.article.ready.") + uuidString(job.id);
    request.title = job.result ? job.result->title : QStringLiteral("Article ready");
    request.body = QStringLiteral("Your article is ready. Click to open.");
    if (job.result && job.result->url)
        request.userInfo.insert(QStringLiteral("open_url"), *job.result->url);
    return request;
}

NotificationRequest NotificationService::failureRequest(const JobRecord &job)
{
    NotificationRequest request;
    request.identifier = QStringLiteral("pendrel.article.failed.") + uuidString(job.id);
    request.title = QStringLiteral("Article failed");
    request.body =
        job.error ? job.error->message : QStringLiteral("Open Pendrel Clipper to inspect the failure.");
    request.userInfo.insert(QStringLiteral("open_panel"), true);
    return request;
}

QCoro::Task<void> NotificationService::notifySuccess(JobRecord job)
{
    const NotificationRequest request = successRequest(job);
    co_await post(request);
}

QCoro::Task<void> NotificationService::notifyFailure(JobRecord job)
{
    NotificationRequest request = failureRequest(job);
    const QDateTime now = QDateTime::currentDateTimeUtc();
    if (failureGroupCount_ > 0 && lastFailureAt_.msecsTo(now) <= failureGroupWindowMs) {
        ++failureGroupCount_;
        request.identifier = failureGroupIdentifier_; // the desktop replaces the one shown
        request.title = QStringLiteral("%1 articles failed").arg(failureGroupCount_);
    } else {
        failureGroupIdentifier_ = request.identifier;
        failureGroupCount_ = 1;
    }
    lastFailureAt_ = now;
    co_await post(request);
}

QCoro::Task<void> NotificationService::post(NotificationRequest request)
{
    co_await requestAuthorizationIfNeeded();
    try {
        co_await backend_.add(request);
    } catch (...) {
        // A notification that cannot be shown changes nothing about the job.
    }
}

} // namespace pendrel
