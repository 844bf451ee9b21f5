// The crosspost follow-up of a saved article.

#include "jobs/JobQueue.h"
#include "state/AppState.h"

namespace pendrel {

QCoro::Task<void> JobQueue::runSocialCrossposts(QUuid jobID, QString articleID, ClipperSettings settings)
{
    const QPointer<JobQueue> self(this);
    if (!appState_)
        co_return;

    QString tenantID = appState_->authState().tenantID.value_or(QString());
    if (tenantID.isEmpty()) {
        bool fetched = false;
        try {
            const AuthenticatedContext context = co_await apiClient_.fetchAuthenticatedContext();
            tenantID = context.tenantID;
            fetched = true;
        } catch (...) {
        }
        if (!self || !appState_)
            co_return;
        if (!fetched) {
            appState_->addLog(jobID, LogLevel::warn,
                              QStringLiteral("Crossposting skipped: missing tenant context"));
            co_return;
        }
    }

    QList<SocialCrosspostPreference> enabled;
    for (const SocialCrosspostPreference &p : settings.socialCrosspostPreferences) {
        if (p.enabled)
            enabled.append(p);
    }
    if (enabled.isEmpty())
        co_return;

    QList<JobSocialPublishResult> results;
    for (const SocialCrosspostPreference &p : enabled)
        results.append(JobSocialPublishResult{p.platform, p.accountId, p.accountName, p.mode,
                                              JobSocialPublishStatus::pending, std::nullopt, std::nullopt,
                                              std::nullopt});
    appState_->updateJob(jobID, [&](JobRecord &j) { j.socialPublishes = results; });

    // Each change finds its result again by account and platform; a record
    // replaced meanwhile simply takes no change.
    const auto updateResult = [this, jobID](const SocialCrosspostPreference &p,
                                            const std::function<void(JobSocialPublishResult &)> &change) {
        if (!appState_)
            return;
        appState_->updateJob(jobID, [&](JobRecord &j) {
            for (JobSocialPublishResult &r : j.socialPublishes) {
                if (r.accountId == p.accountId && r.platform == p.platform) {
                    change(r);
                    return;
                }
            }
        });
    };

    for (const SocialCrosspostPreference &p : enabled) {
        updateResult(p, [](JobSocialPublishResult &r) {
            r.status = JobSocialPublishStatus::running;
            r.errorMessage.reset();
        });
        std::optional<QString> adaptationID;
        std::optional<QString> postID;
        std::optional<QString> failure; // what the panel shows for the account
        QString failureDetails;         // what the job's log keeps
        try {
            switch (p.mode) {
            case SocialCrosspostMode::adapt: {
                const QString created =
                    co_await apiClient_.createSocialAdaptation(articleID, tenantID, p.platform);
                adaptationID = created;
                postID = co_await apiClient_.publishSocialAdaptation(created, tenantID, p.platform,
                                                                     p.accountId, p.defaultSubreddit);
                break;
            }
            case SocialCrosspostMode::direct: {
                const APIClient::DirectPublication published = co_await apiClient_.publishArticleDirectly(
                    articleID, tenantID, p.platform, p.accountId, p.defaultSubreddit);
                adaptationID = published.adaptationID;
                postID = published.postID;
                break;
            }
            case SocialCrosspostMode::article:
                co_await apiClient_.publishShopifyArticle(articleID, tenantID, p.accountId, p.selectedBlogId);
                break;
            }
        } catch (const std::exception &e) {
            failure = userMessage(e);
            failureDetails = describeError(e);
        } catch (...) {
            failure = failureDetails = QStringLiteral("Something unexpected went wrong.");
        }
        if (!self || !appState_)
            co_return;
        if (failure) {
            appState_->addLog(jobID, LogLevel::warn,
                              QStringLiteral("Crosspost to ") + platformDisplayTitle(p.platform)
                                  + QStringLiteral(" failed: ") + failureDetails);
            updateResult(p, [&](JobSocialPublishResult &r) {
                r.status = JobSocialPublishStatus::error;
                r.errorMessage = failure;
            });
        } else {
            updateResult(p, [&](JobSocialPublishResult &r) {
                r.status = JobSocialPublishStatus::success;
                r.adaptationId = adaptationID;
                r.postId = postID;
            });
        }
    }
}

} // namespace pendrel
