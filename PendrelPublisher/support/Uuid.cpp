#include "support/Uuid.h"

#include "support/Text.h"

#include <array>

namespace pendrel {

QString uuidString(const QUuid &uuid)
{
    return QString::fromLatin1(uuid.toByteArray(QUuid::WithoutBraces).toUpper());
}

namespace {

// The 16 bytes of the canonical form, read straight (the hyphens at 8, 13,
// 18 and 23), rather than checked here and parsed again by QUuid.
std::optional<QUuid> parseCanonical(const std::array<char16_t, 36> &text)
{
    std::array<uchar, 16> bytes{};
    int n = 0;
    for (size_t i = 0; i < 36;) {
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            if (text[i] != u'-')
                return std::nullopt;
            ++i;
            continue;
        }
        const int high = text::hexDigitValue(text[i]);
        const int low = text::hexDigitValue(text[i + 1]);
        if (high < 0 || low < 0)
            return std::nullopt;
        bytes[n++] = uchar(high << 4 | low);
        i += 2;
    }
    return QUuid::fromRfc4122(QByteArrayView(reinterpret_cast<const char *>(bytes.data()), 16));
}

} // namespace

std::optional<QUuid> parseUuid(QStringView text)
{
    if (text.size() != 36)
        return std::nullopt;
    std::array<char16_t, 36> units{};
    for (size_t i = 0; i < 36; ++i)
        units[i] = text[qsizetype(i)].unicode();
    return parseCanonical(units);
}

std::optional<QUuid> parseUuid(QByteArrayView text)
{
    if (text.size() != 36)
        return std::nullopt;
    std::array<char16_t, 36> units{};
    for (size_t i = 0; i < 36; ++i)
        units[i] = uchar(text[qsizetype(i)]);
    return parseCanonical(units);
}

} // namespace pendrel
