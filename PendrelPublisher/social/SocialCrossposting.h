#pragma once

#include "support/EnumStrings.h"
#include "support/JsonDates.h"

#include <QJsonObject>
#include <QList>
#include <QString>

#include <optional>

namespace pendrel {

enum class SocialCrosspostPlatform { linkedin, facebook, xArticle, reddit, instagram, shopifyBlog };

template <>
struct EnumStrings<SocialCrosspostPlatform> {
    static constexpr std::array values{
        std::pair{SocialCrosspostPlatform::linkedin, "linkedin"},
        std::pair{SocialCrosspostPlatform::facebook, "facebook"},
        std::pair{SocialCrosspostPlatform::xArticle, "x_article"},
        std::pair{SocialCrosspostPlatform::reddit, "reddit"},
        std::pair{SocialCrosspostPlatform::instagram, "instagram"},
        std::pair{SocialCrosspostPlatform::shopifyBlog, "shopify_blog"},
    };
};

enum class SocialCrosspostMode { adapt, direct, article };

template <>
struct EnumStrings<SocialCrosspostMode> {
    static constexpr std::array values{
        std::pair{SocialCrosspostMode::adapt, "adapt"},
        std::pair{SocialCrosspostMode::direct, "direct"},
        std::pair{SocialCrosspostMode::article, "article"},
    };
};

QString platformDisplayTitle(SocialCrosspostPlatform platform);
QList<SocialCrosspostMode> platformModes(SocialCrosspostPlatform platform);
SocialCrosspostMode platformDefaultMode(SocialCrosspostPlatform platform);
QString modeLabel(SocialCrosspostMode mode);

// Account details as the service sends them; one snake-case key among
// camel-case ones is the service's own format.
struct SocialAccountMetadata {
    std::optional<QString> defaultSubreddit;
    std::optional<qint64> selectedBlogId;
    std::optional<QString> selectedBlogTitle;
    std::optional<QString> myshopifyDomain;

    bool operator==(const SocialAccountMetadata &) const = default;

    [[nodiscard]] QJsonObject toJson(const JsonDates &dates) const;
    static SocialAccountMetadata fromJson(const QJsonValue &value, const JsonDates &dates);
};

// One connected account of the workspace. `id` names the connection on the
// service, `accountID` the account on the social platform.
struct ConnectedSocialAccount {
    QString id;
    SocialCrosspostPlatform platform = SocialCrosspostPlatform::linkedin;
    QString accountID;
    QString accountName;
    std::optional<QString> accountType;
    bool isActive = false;
    std::optional<SocialAccountMetadata> metadata;

    bool operator==(const ConnectedSocialAccount &) const = default;

    [[nodiscard]] bool canPublishNow() const;
    [[nodiscard]] std::optional<QString> unavailableReason() const;
    [[nodiscard]] std::optional<QString> subtitle() const;

    [[nodiscard]] QJsonObject toJson(const JsonDates &dates) const;
    static ConnectedSocialAccount fromJson(const QJsonValue &value, const JsonDates &dates);
};

// The user's crosspost choice for one account, stored in the settings.
struct SocialCrosspostPreference {
    QString accountId;
    SocialCrosspostPlatform platform = SocialCrosspostPlatform::linkedin;
    QString accountName;
    bool enabled = false;
    SocialCrosspostMode mode = SocialCrosspostMode::adapt;
    std::optional<QString> defaultSubreddit;
    std::optional<qint64> selectedBlogId;
    std::optional<QString> selectedBlogTitle;

    bool operator==(const SocialCrosspostPreference &) const = default;

    // Disabled, in the platform's default mode, with the account's metadata.
    static SocialCrosspostPreference defaultFor(const ConnectedSocialAccount &account);

    [[nodiscard]] QJsonObject toJson(const JsonDates &dates) const;
    static SocialCrosspostPreference fromJson(const QJsonValue &value, const JsonDates &dates);
};

enum class JobSocialPublishStatus { pending, running, success, error, skipped };

template <>
struct EnumStrings<JobSocialPublishStatus> {
    static constexpr std::array values{
        std::pair{JobSocialPublishStatus::pending, "pending"},
        std::pair{JobSocialPublishStatus::running, "running"},
        std::pair{JobSocialPublishStatus::success, "success"},
        std::pair{JobSocialPublishStatus::error, "error"},
        std::pair{JobSocialPublishStatus::skipped, "skipped"},
    };
};

// One account's crosspost outcome for one job.
struct JobSocialPublishResult {
    SocialCrosspostPlatform platform = SocialCrosspostPlatform::linkedin;
    QString accountId;
    QString accountName;
    SocialCrosspostMode mode = SocialCrosspostMode::adapt;
    JobSocialPublishStatus status = JobSocialPublishStatus::pending;
    std::optional<QString> adaptationId;
    std::optional<QString> postId;
    std::optional<QString> errorMessage;

    bool operator==(const JobSocialPublishResult &) const = default;

    // "shopify_blog:42": the platform's string, a colon, the account id.
    [[nodiscard]] QString id() const;

    [[nodiscard]] QJsonObject toJson(const JsonDates &dates) const;
    static JobSocialPublishResult fromJson(const QJsonValue &value, const JsonDates &dates);
};

} // namespace pendrel
