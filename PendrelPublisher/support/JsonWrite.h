#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QStringList>

#include <optional>

namespace pendrel::json {

// The state file's writer: pretty-printed with two-space indents, members
// of every object sorted by key (code point order), "/" written as "\/",
// non-ASCII text as raw UTF-8 (a surrogate without its partner as a "\udXXX"
// escape, which reads back as the same unit). Whole numbers are written
// without a fraction; NaN and the infinities as null.
QByteArray writeSorted(const QJsonValue &value);

// A value as writeSorted writes it when it sits `depth` levels deep, without
// the indent before it: the state file keeps each job written this way.
QByteArray writeSortedAt(const QJsonValue &value, int depth);

// writeSortedAt()'s text for an array of objects whose members are all
// strings, without making JSON values of them: `keys` in the writer's order,
// a row of values for each object.
QByteArray writeStringObjectsAt(const QList<QLatin1StringView> &keys, const QList<QStringList> &rows,
                                int depth);

// writeSorted's text for `root` with an array under `arrayKey`, as
// consecutive pieces, taking the array's elements already written (each as
// writeSortedAt(element, 2) gives it) instead of writing them again. With
// elements, element i is piece 2i + 1 and every other piece is the writer's.
QList<QByteArray> writeSortedPieces(QJsonObject root, QLatin1StringView arrayKey,
                                    const QList<QByteArray> &elements);

// The writer's own pieces, for encoders that write records straight rather
// than through JSON values: a string (quotes and escapes), a number, and
// the order of object keys.
void appendString(QByteArray &out, const QString &text);
void appendNumber(QByteArray &out, const QJsonValue &number);
bool keyLess(const QString &a, const QString &b);

// The length of the escape sequence at the start of `text` (a backslash
// first) where it is the one the writer uses for its character; 0 where it
// is not one (an escaped letter, "\u00E9", a "\u000a" for "\n", "\ud83d"
// before "\ude00": a pair, which the writer writes as UTF-8).
qsizetype writersEscapeLength(QByteArrayView text);

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
