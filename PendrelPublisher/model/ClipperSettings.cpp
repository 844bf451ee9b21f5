#include "model/ClipperSettings.h"

#include "support/JsonRead.h"

#include <QJsonArray>

namespace pendrel {

using L = QLatin1StringView;

QString displayNameForValue(const QString &value)
{
    QString spaced = value;
    spaced.replace(u'-', u' ');
    QStringList words = spaced.split(u' ');
    for (QString &word : words) {
        if (!word.isEmpty())
            word = word.left(1).toUpper() + word.mid(1).toLower();
    }
    return words.join(u' ');
}

QString articleSizeDisplayName(ArticleSize size)
{
    return displayNameForValue(enumString(size));
}

QString articleSizeDescription(ArticleSize size)
{
    switch (size) {
    case ArticleSize::mini:
        return QStringLiteral("Quick posts, news updates, short announcements.");
    case ArticleSize::standard:
        return QStringLiteral("Blog posts, how-to guides, product updates.");
    case ArticleSize::full:
        return QStringLiteral("In-depth guides, comprehensive tutorials.");
    case ArticleSize::pillar:
        return QStringLiteral("SEO cornerstone content, topic clusters, ultimate guides.");
    }
    return {};
}

QString seoStandardModeDisplayName(SEOStandardMode mode)
{
    return displayNameForValue(enumString(mode));
}

QString seoStandardModeDescription(SEOStandardMode mode)
{
    switch (mode) {
    case SEOStandardMode::automatic:
        return QStringLiteral(
            "Default balanced optimization across readability, structure, and SEO signals.");
    case SEOStandardMode::eeat:
        return QStringLiteral(
            "Experience, Expertise, Authority, Trust with 6+ FAQs and stronger authority signals.");
    case SEOStandardMode::nlpSemantic:
        return QStringLiteral("Orvel-style semantic SEO with entity coverage and 41 semantic rules.");
    case SEOStandardMode::rankMath:
        return QStringLiteral(
            "Rank Math-style structure with heavier heading depth and LSI keyword coverage.");
    case SEOStandardMode::yoast:
        return QStringLiteral(
            "Yoast-style optimization with longer-form structure and stronger readability constraints.");
    case SEOStandardMode::hybrid:
        return QStringLiteral(
            "Maximum combined mode that blends E-E-A-T, semantic SEO, and plugin-style optimization.");
    }
    return {};
}

QJsonObject CompetitionOptions::toJson(const JsonDates &) const
{
    return QJsonObject{
        {L("contentStrategies"), contentStrategies}, {L("winningTitles"), winningTitles},
        {L("pricingMentions"), pricingMentions},     {L("gapAnalysis"), gapAnalysis},
        {L("serpFeatures"), serpFeatures},           {L("useSerpBasedDiscovery"), useSerpBasedDiscovery},
    };
}

CompetitionOptions CompetitionOptions::fromJson(const QJsonValue &value, const JsonDates &dates)
{
    const json::ObjectReader r(value, dates);
    return CompetitionOptions{
        r.requireBool(L("contentStrategies")), r.requireBool(L("winningTitles")),
        r.requireBool(L("pricingMentions")),   r.requireBool(L("gapAnalysis")),
        r.requireBool(L("serpFeatures")),      r.requireBool(L("useSerpBasedDiscovery")),
    };
}

QJsonObject ClipperSettings::toJson(const JsonDates &dates) const
{
    QJsonArray preferences;
    for (const auto &p : socialCrosspostPreferences)
        preferences.append(p.toJson(dates));
    return QJsonObject{
        {L("language"), language},
        {L("articleSize"), enumString(articleSize)},
        {L("seoStandardMode"), enumString(seoStandardMode)},
        {L("enableHumanize"), enableHumanize},
        {L("enableImages"), enableImages},
        {L("imagesCount"), imagesCount},
        {L("enableAudio"), enableAudio},
        {L("enableCompetition"), enableCompetition},
        {L("competitionOptions"), competitionOptions.toJson(dates)},
        {L("targetDomain"), targetDomain},
        {L("linksPresetID"), linksPresetID},
        {L("authorID"), authorID},
        {L("authorName"), authorName},
        {L("autoSend"), autoSend},
        {L("socialCrosspostPreferences"), preferences},
    };
}

ClipperSettings ClipperSettings::fromJson(const QJsonValue &value, const JsonDates &dates)
{
    const json::ObjectReader r(value, dates);
    return ClipperSettings{
        r.requireString(L("language")),
        r.requireEnum<ArticleSize>(L("articleSize")),
        r.requireEnum<SEOStandardMode>(L("seoStandardMode")),
        r.requireBool(L("enableHumanize")),
        r.requireBool(L("enableImages")),
        r.requireInt<qint64>(L("imagesCount")),
        r.requireBool(L("enableAudio")),
        r.requireBool(L("enableCompetition")),
        r.requireRecord<CompetitionOptions>(L("competitionOptions")),
        r.requireString(L("targetDomain")),
        r.requireString(L("linksPresetID")),
        r.requireString(L("authorID")),
        r.requireString(L("authorName")),
        r.requireBool(L("autoSend")),
        r.requireArray<SocialCrosspostPreference>(L("socialCrosspostPreferences")),
    };
}

} // namespace pendrel
