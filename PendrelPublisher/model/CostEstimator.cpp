#include "model/CostEstimator.h"

#include "support/Text.h"

#include <limits>

namespace pendrel::CostEstimator {

namespace {

constexpr int kCompetitionCredits = 8;
constexpr int kCreditsPerImage = 9;
constexpr int kExtractCredits = 2;
constexpr qsizetype kWordsPerImage = 600;
constexpr qsizetype kCharactersPerImage = 2400;

// A stored image count can be anything up to 2^63 - 1; the estimate then
// shows the largest number rather than a wrapped-around one.
qint64 saturatedProduct(qint64 a, qint64 b)
{
    qint64 product = 0;
    return __builtin_mul_overflow(a, b, &product) ? std::numeric_limits<qint64>::max() : product;
}

qint64 saturatedSum(qint64 a, qint64 b)
{
    qint64 sum = 0;
    return __builtin_add_overflow(a, b, &sum) ? std::numeric_limits<qint64>::max() : sum;
}

qsizetype ceilDiv(qsizetype a, qsizetype b)
{
    return (a + b - 1) / b;
}

bool measuredInCharacters(const QString &language)
{
    const QString lower = language.toLower();
    return lower == u"cn" || lower == u"ja" || lower == u"ko";
}

} // namespace

int competitionCredits()
{
    return kCompetitionCredits;
}

int creditsPerImage()
{
    return kCreditsPerImage;
}

int extractCredits()
{
    return kExtractCredits;
}

int articleCredits(ArticleSize size)
{
    switch (size) {
    case ArticleSize::mini:
        return 7;
    case ArticleSize::standard:
        return 12;
    case ArticleSize::full:
        return 25;
    case ArticleSize::pillar:
        return 40;
    }
    return 0;
}

int voiceoverCredits(qsizetype textLength)
{
    if (textLength <= 5000)
        return 10;
    if (textLength <= 10000)
        return 20;
    if (textLength <= 20000)
        return 35;
    return 55;
}

int humanizeCredits(qsizetype textLength)
{
    if (textLength < 5000)
        return 2;
    if (textLength < 12000)
        return 9;
    return 15;
}

CostBreakdown estimateBreakdown(const ClipperSettings &settings, const std::optional<ClipPayload> &clip)
{
    const QString text = clip ? clip->text.toString() : QString();
    // Counting graphemes walks the text; do it only when a line needs it.
    std::optional<qsizetype> length;
    const auto textLength = [&] {
        if (!length)
            length = text::characterCount(text);
        return *length;
    };

    CostBreakdown breakdown;
    const auto add = [&](const char *id, QString label, qint64 credits) {
        breakdown.items.append({QString::fromLatin1(id), std::move(label), credits});
        breakdown.total = saturatedSum(breakdown.total, credits);
    };

    add("article", QStringLiteral("Article"), articleCredits(settings.articleSize));
    if (settings.competitionOptions.hasSelectedInsight())
        add("competition", QStringLiteral("Competition"), kCompetitionCredits);
    if (settings.enableImages) {
        const qint64 count =
            settings.imagesCount >= 1 ? settings.imagesCount : estimateImagesCount(text, settings.language);
        const QString label =
            count == 1 ? QStringLiteral("Images") : QStringLiteral("Images \u00D7") + QString::number(count);
        add("images", label, saturatedProduct(kCreditsPerImage, count));
    }
    if (settings.enableHumanize)
        add("humanize", QStringLiteral("Humanize"), humanizeCredits(textLength()));
    if (settings.enableAudio)
        add("audio", QStringLiteral("Audio"), voiceoverCredits(textLength()));
    if (clip && clip->type == ClipType::url)
        add("extract", QStringLiteral("URL extract"), kExtractCredits);
    return breakdown;
}

qint64 estimateImagesCount(const QString &text, const QString &language)
{
    const QString trimmed = text::trimmed(text);
    if (trimmed.isEmpty())
        return 1;
    qsizetype count;
    if (measuredInCharacters(language))
        count = ceilDiv(text::characterCount(text::removingRegexWhitespace(trimmed)), kCharactersPerImage);
    else
        count = ceilDiv(text::wordCount(trimmed), kWordsPerImage);
    return std::max<qint64>(1, count);
}

} // namespace pendrel::CostEstimator
