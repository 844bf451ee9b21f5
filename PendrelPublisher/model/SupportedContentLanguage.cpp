#include "model/SupportedContentLanguage.h"

namespace pendrel {

namespace {

struct Row {
    const char *code;
    const char *name;
    const char *nativeName;
    const char *flagLetters;
    SupportedContentLanguageRegion region;
};

using R = SupportedContentLanguageRegion;

// clang-format off
constexpr Row kRows[] = {
    {"en", "English", "English", "US", R::core},
    {"es", "Spanish", "Español", "ES", R::core},
    {"ru", "Russian", "Русский", "RU", R::core},
    {"fr", "French", "Français", "FR", R::core},
    {"de", "German", "Deutsch", "DE", R::core},
    {"it", "Italian", "Italiano", "IT", R::core},
    {"pt", "Portuguese", "Português", "PT", R::core},
    {"br", "Brazilian Portuguese", "Português (Brasil)", "BR", R::core},
    {"cn", "Chinese (Simplified)", "简体中文", "CN", R::core},
    {"ja", "Japanese", "日本語", "JP", R::core},
    {"ko", "Korean", "한국어", "KR", R::core},
    {"hi", "Hindi", "हिन्दी", "IN", R::core},
    {"pl", "Polish", "Polski", "PL", R::core},
    {"nl", "Dutch", "Nederlands", "NL", R::europe},
    {"tr", "Turkish", "Türkçe", "TR", R::europe},
    {"sv", "Swedish", "Svenska", "SE", R::europe},
    {"no", "Norwegian", "Norsk", "NO", R::europe},
    {"da", "Danish", "Dansk", "DK", R::europe},
    {"fi", "Finnish", "Suomi", "FI", R::europe},
    {"cs", "Czech", "Čeština", "CZ", R::europe},
    {"hu", "Hungarian", "Magyar", "HU", R::europe},
    {"ro", "Romanian", "Română", "RO", R::europe},
    {"en-gb", "English (UK)", "English (UK)", "GB", R::europe},
    {"bg", "Bulgarian", "Български", "BG", R::europe},
    {"sr", "Serbian", "Српски", "RS", R::europe},
    {"hr", "Croatian", "Hrvatski", "HR", R::europe},
    {"el", "Greek", "Ελληνικά", "GR", R::europe},
    {"sk", "Slovak", "Slovenčina", "SK", R::europe},
    {"sl", "Slovenian", "Slovenščina", "SI", R::europe},
    {"lt", "Lithuanian", "Lietuvių", "LT", R::europe},
    {"lv", "Latvian", "Latviešu", "LV", R::europe},
    {"et", "Estonian", "Eesti", "EE", R::europe},
    {"tw", "Chinese (Traditional)", "繁體中文", "TW", R::asia},
    {"id", "Indonesian", "Bahasa Indonesia", "ID", R::asia},
    {"th", "Thai", "ไทย", "TH", R::asia},
    {"vi", "Vietnamese", "Tiếng Việt", "VN", R::asia},
    {"ms", "Malay", "Bahasa Melayu", "MY", R::asia},
    {"fil", "Filipino", "Filipino", "PH", R::asia},
    {"bn", "Bengali", "বাংলা", "BD", R::asia},
    {"ta", "Tamil", "தமிழ்", "IN", R::asia},
    {"te", "Telugu", "తెలుగు", "IN", R::asia},
    {"kn", "Kannada", "ಕನ್ನಡ", "IN", R::asia},
    {"ml", "Malayalam", "മലയാളം", "IN", R::asia},
    {"mr", "Marathi", "मराठी", "IN", R::asia},
    {"gu", "Gujarati", "ગુજરાતી", "IN", R::asia},
    {"pa", "Punjabi", "ਪੰਜਾਬੀ", "IN", R::asia},
    {"ar", "Arabic", "العربية", "SA", R::middleEast},
    {"he", "Hebrew", "עברית", "IL", R::middleEast},
    {"fa", "Persian", "فارسی", "IR", R::middleEast},
    {"ur", "Urdu", "اردو", "PK", R::middleEast},
    {"ps", "Pashto", "پښتو", "AF", R::middleEast},
    {"sw", "Swahili", "Kiswahili", "KE", R::africaOther},
    {"af", "Afrikaans", "Afrikaans", "ZA", R::africaOther},
    {"zu", "Zulu", "isiZulu", "ZA", R::africaOther},
    {"am", "Amharic", "አማርኛ", "ET", R::africaOther},
};
// clang-format on

QString flagFromLetters(const char *letters)
{
    QString flag;
    for (const char *c = letters; *c; ++c)
        flag.append(QString::fromUcs4(std::array{char32_t(0x1F1E6 + (*c - 'A'))}.data(), 1));
    return flag;
}

QList<SupportedContentLanguage> buildTable()
{
    QList<SupportedContentLanguage> table;
    table.reserve(std::size(kRows));
    for (const Row &row : kRows) {
        const QString name = QString::fromUtf8(row.name);
        const QString nativeName = QString::fromUtf8(row.nativeName);
        const QString label = nativeName == name ? name : nativeName + QStringLiteral(" (") + name + u')';
        table.append({QString::fromUtf8(row.code), name, nativeName, label, flagFromLetters(row.flagLetters),
                      row.region});
    }
    return table;
}

} // namespace

QString regionMenuTitle(SupportedContentLanguageRegion region)
{
    switch (region) {
    case SupportedContentLanguageRegion::core:
        return QStringLiteral("Core");
    case SupportedContentLanguageRegion::europe:
        return QStringLiteral("Europe");
    case SupportedContentLanguageRegion::asia:
        return QStringLiteral("Asia");
    case SupportedContentLanguageRegion::middleEast:
        return QStringLiteral("Middle East");
    case SupportedContentLanguageRegion::africaOther:
        return QStringLiteral("Africa & Other");
    }
    return {};
}

const QList<SupportedContentLanguage> &SupportedContentLanguage::all()
{
    static const QList<SupportedContentLanguage> table = buildTable();
    return table;
}

std::optional<SupportedContentLanguage> SupportedContentLanguage::byCode(QStringView code)
{
    for (const auto &language : all()) {
        if (language.code == code)
            return language;
    }
    return std::nullopt;
}

QList<SupportedContentLanguage::Group> SupportedContentLanguage::grouped()
{
    QList<Group> groups;
    for (const auto region : enumCases<SupportedContentLanguageRegion>()) {
        Group group{region, {}};
        for (const auto &language : all()) {
            if (language.region == region)
                group.languages.append(language);
        }
        groups.append(group);
    }
    return groups;
}

} // namespace pendrel
