#pragma once

// The rescue of article text from a broken JSON wrapper, done the slow way:
// with the two regular expressions themselves (ICU's \s and dot spelled out
// for PCRE). Only for short texts, where the engine cannot run out of stack,
// so that a failed match here really means "no match".

#include "api/JsonValues.h"

#include <QRegularExpression>

namespace pendrel::test {

inline std::optional<QString> referenceRescue(const QString &content)
{
    Q_ASSERT(content.size() <= 8000);
    const auto expression = [](const char *key) {
        const QString blank = QStringLiteral("[\\t\\n\\f\\r\\p{Z}]*");
        const QString dot = QStringLiteral("[^\\x{0A}-\\x{0D}\\x{85}\\x{2028}\\x{2029}]");
        return QRegularExpression(QStringLiteral("\"[^\"]*") + QLatin1StringView(key) + QStringLiteral("\"") + blank
                                  + QStringLiteral(":") + blank + QStringLiteral("\"((?:[^\"\\\\]|\\\\") + dot
                                  + QStringLiteral(")*)\""));
    };
    static const QRegularExpression a = expression("transformedContent");
    static const QRegularExpression b = expression("content");
    QRegularExpressionMatch match = a.match(content);
    if (!match.hasMatch())
        match = b.match(content);
    if (!match.hasMatch())
        return std::nullopt;
    return decodeQuotedJsonValue(match.captured(0));
}

} // namespace pendrel::test
