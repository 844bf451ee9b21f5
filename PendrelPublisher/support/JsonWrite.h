#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QJsonValue>

#include <optional>

namespace pendrel::json {

// The state file's writer: pretty-printed with two-space indents, members
// of every object sorted by key (code point order), "/" written as "\/",
// non-ASCII text as raw UTF-8. Whole numbers are written without a fraction.
QByteArray writeSorted(const QJsonValue &value);

// Builders of the records' JSON forms: optional members are left out when
// absent rather than written as null.
template <class T, class F>
void insertOptional(QJsonObject &object, QLatin1StringView key, const std::optional<T> &value, F &&convert)
{
    if (value)
        object.insert(key, convert(*value));
}

template <class T>
void insertOptional(QJsonObject &object, QLatin1StringView key, const std::optional<T> &value)
{
    if (value)
        object.insert(key, QJsonValue(*value));
}

} // namespace pendrel::json
