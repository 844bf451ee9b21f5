#include "support/Uuid.h"

namespace pendrel {

QString uuidString(const QUuid &uuid)
{
    return QString::fromLatin1(uuid.toByteArray(QUuid::WithoutBraces).toUpper());
}

std::optional<QUuid> parseUuid(QStringView text)
{
    if (text.size() != 36)
        return std::nullopt;
    for (qsizetype i = 0; i < 36; ++i) {
        const char16_t c = text[i].unicode();
        const bool hyphenSlot = i == 8 || i == 13 || i == 18 || i == 23;
        if (hyphenSlot) {
            if (c != u'-')
                return std::nullopt;
        } else if (!((c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F'))) {
            return std::nullopt;
        }
    }
    return QUuid::fromString(text);
}

} // namespace pendrel
