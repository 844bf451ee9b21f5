#pragma once

#include <QList>
#include <QString>

#include <array>
#include <optional>
#include <string_view>
#include <utility>

namespace pendrel {

// Every enumeration that travels as a string specialises this with its
// cases in declaration order:
//   template <> struct EnumStrings<JobStatus> {
//       static constexpr std::array values{std::pair{JobStatus::submitted, "submitted"}, ...};
//   };
// The table is then the single source of the wire strings and the case list.
template <class E>
struct EnumStrings;

template <class E>
QString enumString(E value)
{
    for (const auto &[caseValue, text] : EnumStrings<E>::values) {
        if (caseValue == value)
            return QString::fromUtf8(text);
    }
    return {}; // unreachable for a value of the enumeration
}

template <class E>
std::optional<E> enumFromString(QStringView text)
{
    for (const auto &[caseValue, caseText] : EnumStrings<E>::values) {
        if (text == QLatin1StringView(caseText))
            return caseValue;
    }
    return std::nullopt;
}

template <class E>
QList<E> enumCases()
{
    QList<E> cases;
    cases.reserve(qsizetype(EnumStrings<E>::values.size()));
    for (const auto &entry : EnumStrings<E>::values)
        cases.append(entry.first);
    return cases;
}

} // namespace pendrel
