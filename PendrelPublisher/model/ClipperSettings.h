#pragma once

#include "social/SocialCrossposting.h"
#include "support/EnumStrings.h"
#include "support/JsonDates.h"

#include <QJsonObject>
#include <QList>
#include <QString>

namespace pendrel {

enum class ArticleSize { mini, standard, full, pillar };

template <>
struct EnumStrings<ArticleSize> {
    static constexpr std::array values{
        std::pair{ArticleSize::mini, "mini"},
        std::pair{ArticleSize::standard, "standard"},
        std::pair{ArticleSize::full, "full"},
        std::pair{ArticleSize::pillar, "pillar"},
    };
};

enum class SEOStandardMode { automatic, eeat, nlpSemantic, rankMath, yoast, hybrid };

template <>
struct EnumStrings<SEOStandardMode> {
    static constexpr std::array values{
        std::pair{SEOStandardMode::automatic, "auto"},
        std::pair{SEOStandardMode::eeat, "e-e-a-t"},
        std::pair{SEOStandardMode::nlpSemantic, "nlp-semantic"},
        std::pair{SEOStandardMode::rankMath, "rank-math"},
        std::pair{SEOStandardMode::yoast, "yoast"},
        std::pair{SEOStandardMode::hybrid, "hybrid"},
    };
};

// The name shown for a wire string: each "-" becomes a space and every word
// is capitalised ("e-e-a-t" shows as "E E A T", "nlp-semantic" as "Nlp Semantic").
QString displayNameForValue(const QString &value);

QString articleSizeDisplayName(ArticleSize size);
QString articleSizeDescription(ArticleSize size);
QString seoStandardModeDisplayName(SEOStandardMode mode);
QString seoStandardModeDescription(SEOStandardMode mode);

struct CompetitionOptions {
    bool contentStrategies = false;
    bool winningTitles = false;
    bool pricingMentions = false;
    bool gapAnalysis = false;
    bool serpFeatures = false;
    // Sent along with the competition configuration; never an insight itself.
    bool useSerpBasedDiscovery = true;

    bool operator==(const CompetitionOptions &) const = default;

    [[nodiscard]] bool hasSelectedInsight() const
    {
        return contentStrategies || winningTitles || pricingMentions || gapAnalysis || serpFeatures;
    }

    [[nodiscard]] QJsonObject toJson(const JsonDates &dates) const;
    static CompetitionOptions fromJson(const QJsonValue &value, const JsonDates &dates);
};

// How articles are produced. Every job keeps a frozen copy of the value it
// was sent with; the pipeline reads only that copy.
struct ClipperSettings {
    QString language = QStringLiteral("en");
    ArticleSize articleSize = ArticleSize::mini;
    SEOStandardMode seoStandardMode = SEOStandardMode::automatic;
    bool enableHumanize = false;
    bool enableImages = false;
    qint64 imagesCount = 0; // 0 or less: the service chooses
    bool enableAudio = false;
    // Only shows or hides the competition options; selected insights are
    // requested (and cost credits) whether it is on or not.
    bool enableCompetition = false;
    CompetitionOptions competitionOptions;
    QString targetDomain;
    QString linksPresetID;
    QString authorID;
    QString authorName;
    bool autoSend = true;
    QList<SocialCrosspostPreference> socialCrosspostPreferences;

    bool operator==(const ClipperSettings &) const = default;

    static ClipperSettings defaults() { return {}; }

    [[nodiscard]] QJsonObject toJson(const JsonDates &dates) const;
    static ClipperSettings fromJson(const QJsonValue &value, const JsonDates &dates);
};

} // namespace pendrel
