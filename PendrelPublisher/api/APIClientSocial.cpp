// Publishing a saved article to the workspace's social accounts.

#include "api/APIClient.h"
#include "support/JsonRead.h"

namespace pendrel {

using L = QLatin1StringView;

namespace {

void insertSubreddit(RequestBody &body, const std::optional<QString> &subreddit)
{
    if (subreddit && !subreddit->isEmpty())
        body.insert(L("subreddit"), *subreddit);
}

// "success" must be there for the answer to count; its value is not looked at.
json::ObjectReader publishAnswer(const QByteArray &body)
{
    json::ObjectReader r(json::parseDocument(body), responseDates());
    (void)r.requireBool(L("success"));
    return r;
}

} // namespace

QCoro::Task<std::optional<QString>> APIClient::publishSocialAdaptation(QString adaptationID, QString tenantID,
                                                                       SocialCrosspostPlatform platform,
                                                                       QString accountID,
                                                                       std::optional<QString> subreddit)
{
    RequestBody body{
        {L("adaptationId"), adaptationID},
        {L("tenantId"), tenantID},
        {L("platform"), enumString(platform)},
        {L("accountId"), accountID},
    };
    insertSubreddit(body, subreddit);
    const QString path = QStringLiteral("api/blog/social-adaptations/publish");
    const std::optional<QString> tenant = tenantID;
    const QByteArray answer = co_await post(path, body, tenant);
    co_return publishAnswer(answer).optionalString(L("postId"));
}

QCoro::Task<APIClient::DirectPublication>
APIClient::publishArticleDirectly(QString articleID, QString tenantID, SocialCrosspostPlatform platform,
                                  QString accountID, std::optional<QString> subreddit)
{
    RequestBody body{
        {L("action"), QStringLiteral("publish_raw")}, {L("articleId"), articleID}, {L("tenantId"), tenantID},
        {L("platform"), enumString(platform)},        {L("accountId"), accountID},
    };
    insertSubreddit(body, subreddit);
    const QString path = QStringLiteral("api/blog/social-adaptations/publish");
    const std::optional<QString> tenant = tenantID;
    const QByteArray answer = co_await post(path, body, tenant);
    const json::ObjectReader r = publishAnswer(answer);
    co_return DirectPublication{r.optionalString(L("adaptationId")), r.optionalString(L("platformPostId"))};
}

QCoro::Task<void> APIClient::publishShopifyArticle(QString articleID, QString tenantID, QString accountID,
                                                   std::optional<qint64> blogID)
{
    RequestBody body{
        {L("articleId"), articleID},
        {L("tenantId"), tenantID},
        {L("accountId"), accountID},
        {L("mode"), QStringLiteral("publish")},
    };
    if (blogID)
        body.insert(L("blogId"), *blogID);
    const QString path = QStringLiteral("api/integrations/shopify/publish");
    const std::optional<QString> tenant = tenantID;
    // The answer is not read.
    co_await post(path, body, tenant);
}

} // namespace pendrel
