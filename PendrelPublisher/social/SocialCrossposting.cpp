#include "social/SocialCrossposting.h"

#include "support/JsonRead.h"
#include "support/JsonWrite.h"

namespace pendrel {

using L = QLatin1StringView;

QString platformDisplayTitle(SocialCrosspostPlatform platform)
{
    switch (platform) {
    case SocialCrosspostPlatform::linkedin:
        return QStringLiteral("LinkedIn");
    case SocialCrosspostPlatform::facebook:
        return QStringLiteral("Facebook");
    case SocialCrosspostPlatform::xArticle:
        return QStringLiteral("X");
    case SocialCrosspostPlatform::reddit:
        return QStringLiteral("Reddit");
    case SocialCrosspostPlatform::instagram:
        return QStringLiteral("Instagram");
    case SocialCrosspostPlatform::shopifyBlog:
        return QStringLiteral("Shopify");
    }
    return {};
}

QList<SocialCrosspostMode> platformModes(SocialCrosspostPlatform platform)
{
    if (platform == SocialCrosspostPlatform::shopifyBlog)
        return {SocialCrosspostMode::article};
    return {SocialCrosspostMode::adapt, SocialCrosspostMode::direct};
}

SocialCrosspostMode platformDefaultMode(SocialCrosspostPlatform platform)
{
    return platform == SocialCrosspostPlatform::shopifyBlog ? SocialCrosspostMode::article
                                                            : SocialCrosspostMode::adapt;
}

QString modeLabel(SocialCrosspostMode mode)
{
    switch (mode) {
    case SocialCrosspostMode::adapt:
        return QStringLiteral("Adapt");
    case SocialCrosspostMode::direct:
        return QStringLiteral("Direct");
    case SocialCrosspostMode::article:
        return QStringLiteral("Article");
    }
    return {};
}

// SocialAccountMetadata

QJsonObject SocialAccountMetadata::toJson(const JsonDates &) const
{
    QJsonObject o;
    json::insertOptional(o, L("default_subreddit"), defaultSubreddit);
    json::insertOptional(o, L("selectedBlogId"), selectedBlogId);
    json::insertOptional(o, L("selectedBlogTitle"), selectedBlogTitle);
    json::insertOptional(o, L("myshopifyDomain"), myshopifyDomain);
    return o;
}

SocialAccountMetadata SocialAccountMetadata::fromJson(const QJsonValue &value, const JsonDates &dates)
{
    const json::ObjectReader r(value, dates);
    return SocialAccountMetadata{
        r.optionalString(L("default_subreddit")),
        r.optionalInt(L("selectedBlogId")),
        r.optionalString(L("selectedBlogTitle")),
        r.optionalString(L("myshopifyDomain")),
    };
}

// ConnectedSocialAccount

namespace {

bool nonEmpty(const std::optional<QString> &s)
{
    return s && !s->isEmpty();
}

} // namespace

bool ConnectedSocialAccount::canPublishNow() const
{
    switch (platform) {
    case SocialCrosspostPlatform::reddit:
        return metadata && nonEmpty(metadata->defaultSubreddit);
    case SocialCrosspostPlatform::shopifyBlog:
        return metadata && metadata->selectedBlogId.has_value();
    default:
        return true;
    }
}

std::optional<QString> ConnectedSocialAccount::unavailableReason() const
{
    if (canPublishNow())
        return std::nullopt;
    if (platform == SocialCrosspostPlatform::reddit)
        return QStringLiteral("Choose a default subreddit on Pendrelweb first.");
    return QStringLiteral("Choose a Shopify blog on Pendrelweb first.");
}

std::optional<QString> ConnectedSocialAccount::subtitle() const
{
    if (platform == SocialCrosspostPlatform::reddit) {
        if (metadata && nonEmpty(metadata->defaultSubreddit))
            return QStringLiteral("r/") + *metadata->defaultSubreddit;
        return QStringLiteral("Default subreddit required");
    }
    if (platform == SocialCrosspostPlatform::shopifyBlog && metadata) {
        if (nonEmpty(metadata->selectedBlogTitle))
            return metadata->selectedBlogTitle;
        if (nonEmpty(metadata->myshopifyDomain))
            return metadata->myshopifyDomain;
    }
    return std::nullopt;
}

QJsonObject ConnectedSocialAccount::toJson(const JsonDates &dates) const
{
    QJsonObject o{
        {L("id"), id},
        {L("platform"), enumString(platform)},
        {L("account_id"), accountID},
        {L("account_name"), accountName},
        {L("is_active"), isActive},
    };
    json::insertOptional(o, L("account_type"), accountType);
    json::insertOptional(o, L("metadata"), metadata, [&](const auto &m) { return m.toJson(dates); });
    return o;
}

ConnectedSocialAccount ConnectedSocialAccount::fromJson(const QJsonValue &value, const JsonDates &dates)
{
    const json::ObjectReader r(value, dates);
    return ConnectedSocialAccount{
        r.requireString(L("id")),
        r.requireEnum<SocialCrosspostPlatform>(L("platform")),
        r.requireString(L("account_id")),
        r.requireString(L("account_name")),
        r.optionalString(L("account_type")),
        r.requireBool(L("is_active")),
        r.optionalRecord<SocialAccountMetadata>(L("metadata")),
    };
}

// SocialCrosspostPreference

SocialCrosspostPreference SocialCrosspostPreference::defaultFor(const ConnectedSocialAccount &account)
{
    SocialCrosspostPreference p;
    p.accountId = account.id;
    p.platform = account.platform;
    p.accountName = account.accountName;
    p.enabled = false;
    p.mode = platformDefaultMode(account.platform);
    if (account.metadata) {
        p.defaultSubreddit = account.metadata->defaultSubreddit;
        p.selectedBlogId = account.metadata->selectedBlogId;
        p.selectedBlogTitle = account.metadata->selectedBlogTitle;
    }
    return p;
}

QJsonObject SocialCrosspostPreference::toJson(const JsonDates &) const
{
    QJsonObject o{
        {L("accountId"), accountId}, {L("platform"), enumString(platform)}, {L("accountName"), accountName},
        {L("enabled"), enabled},     {L("mode"), enumString(mode)},
    };
    json::insertOptional(o, L("defaultSubreddit"), defaultSubreddit);
    json::insertOptional(o, L("selectedBlogId"), selectedBlogId);
    json::insertOptional(o, L("selectedBlogTitle"), selectedBlogTitle);
    return o;
}

SocialCrosspostPreference SocialCrosspostPreference::fromJson(const QJsonValue &value, const JsonDates &dates)
{
    const json::ObjectReader r(value, dates);
    return SocialCrosspostPreference{
        r.requireString(L("accountId")),
        r.requireEnum<SocialCrosspostPlatform>(L("platform")),
        r.requireString(L("accountName")),
        r.requireBool(L("enabled")),
        r.requireEnum<SocialCrosspostMode>(L("mode")),
        r.optionalString(L("defaultSubreddit")),
        r.optionalInt(L("selectedBlogId")),
        r.optionalString(L("selectedBlogTitle")),
    };
}

// JobSocialPublishResult

QString JobSocialPublishResult::id() const
{
    return enumString(platform) + u':' + accountId;
}

QJsonObject JobSocialPublishResult::toJson(const JsonDates &) const
{
    QJsonObject o{
        {L("platform"), enumString(platform)}, {L("accountId"), accountId},
        {L("accountName"), accountName},       {L("mode"), enumString(mode)},
        {L("status"), enumString(status)},
    };
    json::insertOptional(o, L("adaptationId"), adaptationId);
    json::insertOptional(o, L("postId"), postId);
    json::insertOptional(o, L("errorMessage"), errorMessage);
    return o;
}

JobSocialPublishResult JobSocialPublishResult::fromJson(const QJsonValue &value, const JsonDates &dates)
{
    const json::ObjectReader r(value, dates);
    return JobSocialPublishResult{
        r.requireEnum<SocialCrosspostPlatform>(L("platform")),
        r.requireString(L("accountId")),
        r.requireString(L("accountName")),
        r.requireEnum<SocialCrosspostMode>(L("mode")),
        r.requireEnum<JobSocialPublishStatus>(L("status")),
        r.optionalString(L("adaptationId")),
        r.optionalString(L("postId")),
        r.optionalString(L("errorMessage")),
    };
}

} // namespace pendrel
