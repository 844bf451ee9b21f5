#pragma once

#include "model/Clip.h"
#include "model/ClipperSettings.h"

#include <QList>
#include <QString>

#include <optional>

namespace pendrel {

struct CostBreakdownItem {
    QString id; // "article", "competition", "images", "humanize", "audio" or "extract"
    QString label;
    qint64 credits = 0;

    bool operator==(const CostBreakdownItem &) const = default;
};

struct CostBreakdown {
    QList<CostBreakdownItem> items;
    qint64 total = 0; // saturates instead of overflowing

    bool operator==(const CostBreakdown &) const = default;
};

// The panel's local estimate of what a job will cost in service credits,
// from fixed tariffs. Display only; the service's real charge may differ.
namespace CostEstimator {

int articleCredits(ArticleSize size);
int competitionCredits();
int creditsPerImage();
int extractCredits();
int voiceoverCredits(qsizetype textLength);
int humanizeCredits(qsizetype textLength);

CostBreakdown estimateBreakdown(const ClipperSettings &settings, const std::optional<ClipPayload> &clip);

// At least 1: one image per 600 words, or per 2400 characters for the
// languages written without spaces between words.
qint64 estimateImagesCount(const QString &text, const QString &language);

} // namespace CostEstimator

} // namespace pendrel
