#pragma once

#include "support/EnumStrings.h"

#include <QList>
#include <QString>

#include <optional>

namespace pendrel {

enum class SupportedContentLanguageRegion { core, europe, asia, middleEast, africaOther };

template <>
struct EnumStrings<SupportedContentLanguageRegion> {
    static constexpr std::array values{
        std::pair{SupportedContentLanguageRegion::core, "core"},
        std::pair{SupportedContentLanguageRegion::europe, "europe"},
        std::pair{SupportedContentLanguageRegion::asia, "asia"},
        std::pair{SupportedContentLanguageRegion::middleEast, "middleEast"},
        std::pair{SupportedContentLanguageRegion::africaOther, "africaOther"},
    };
};

// The title of a region's group in the language menu.
QString regionMenuTitle(SupportedContentLanguageRegion region);

// One of the built-in content languages. Codes are the service's own
// ("cn", "tw", "br", "en-gb", "fil"), not ISO 639-1.
struct SupportedContentLanguage {
    QString code;
    QString name;
    QString nativeName;
    QString label; // "Español (Spanish)"; just the name when both names agree
    QString flag;  // two regional-indicator characters
    SupportedContentLanguageRegion region = SupportedContentLanguageRegion::core;

    bool operator==(const SupportedContentLanguage &) const = default;

    [[nodiscard]] const QString &id() const { return code; }

    // The 55 languages in their fixed order.
    static const QList<SupportedContentLanguage> &all();
    // The first entry whose code is exactly `code` (case-sensitive).
    static std::optional<SupportedContentLanguage> byCode(QStringView code);

    struct Group {
        SupportedContentLanguageRegion region;
        QList<SupportedContentLanguage> languages;
    };
    // One group per region in case order, each in table order.
    static QList<Group> grouped();
};

} // namespace pendrel
