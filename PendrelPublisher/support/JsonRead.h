#pragma once

#include "support/EnumStrings.h"
#include "support/Error.h"
#include "support/JsonDates.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QMap>
#include <QStringList>
#include <QUuid>

#include <limits>
#include <optional>
#include <type_traits>

namespace pendrel::json {

// Strict readers of single values. They throw DecodingError without a path;
// ObjectReader adds the member name, arrays add the index.
QString readString(const QJsonValue &value);
bool readBool(const QJsonValue &value);
qint64 readInteger(const QJsonValue &value, qint64 min, qint64 max);
double readDouble(const QJsonValue &value);
QUuid readUuid(const QJsonValue &value);
QStringList readStringArray(const QJsonValue &value);
QMap<QString, QString> readStringMap(const QJsonValue &value);
QJsonObject readObject(const QJsonValue &value);
// The number as a 64-bit integer when it is whole and fits; nothing otherwise.
std::optional<qint64> wholeNumber(const QJsonValue &value);

template <class E>
E readEnum(const QJsonValue &value)
{
    const QString text = readString(value);
    if (auto parsed = enumFromString<E>(text))
        return *parsed;
    throw DecodingError(QStringLiteral("unknown value \"%1\"").arg(text));
}

template <class Int>
Int readInt(const QJsonValue &value)
{
    static_assert(std::is_integral_v<Int>);
    return Int(readInteger(value, std::numeric_limits<Int>::min(), std::numeric_limits<Int>::max()));
}

// Runs f and prefixes any decoding error with the array index.
template <class F>
auto atIndex(qsizetype index, F &&f) -> decltype(f())
{
    try {
        return f();
    } catch (DecodingError &error) {
        error.prependIndex(index);
        throw;
    }
}

// An array whose every element decodes with T::fromJson(element, dates).
template <class T>
QList<T> readArray(const QJsonValue &value, const JsonDates &dates)
{
    if (!value.isArray())
        throw DecodingError(QStringLiteral("expected an array"));
    const QJsonArray array = value.toArray();
    QList<T> out;
    out.reserve(array.size());
    for (qsizetype i = 0; i < array.size(); ++i)
        out.append(atIndex(i, [&] { return T::fromJson(array.at(i), dates); }));
    return out;
}

// Reads the members of one JSON object. A missing required member, a member
// of the wrong type or an unknown enumeration string throws DecodingError
// naming the member; a missing or null optional member is absent; members the
// reader does not ask for are ignored.
class ObjectReader {
public:
    ObjectReader(const QJsonValue &value, const JsonDates &dates);

    [[nodiscard]] const JsonDates &dates() const { return dates_; }
    [[nodiscard]] const QJsonObject &object() const { return object_; }

    [[nodiscard]] bool has(QLatin1StringView key) const;

    // Applies f to the member's value; decoding errors gain the key.
    template <class F>
    auto require(QLatin1StringView key, F &&f) const -> decltype(f(QJsonValue()))
    {
        const QJsonValue value = object_.value(key);
        if (value.isUndefined())
            throw DecodingError(QStringLiteral("missing"), QString(key));
        return atKey(key, [&] { return f(value); });
    }

    template <class F>
    auto optional(QLatin1StringView key, F &&f) const -> std::optional<decltype(f(QJsonValue()))>
    {
        const QJsonValue value = object_.value(key);
        if (value.isUndefined() || value.isNull())
            return std::nullopt;
        return atKey(key, [&] { return f(value); });
    }

    [[nodiscard]] QString requireString(QLatin1StringView key) const { return require(key, readString); }
    [[nodiscard]] std::optional<QString> optionalString(QLatin1StringView key) const
    {
        return optional(key, readString);
    }
    [[nodiscard]] bool requireBool(QLatin1StringView key) const { return require(key, readBool); }
    [[nodiscard]] std::optional<bool> optionalBool(QLatin1StringView key) const
    {
        return optional(key, readBool);
    }
    [[nodiscard]] double requireDouble(QLatin1StringView key) const { return require(key, readDouble); }
    [[nodiscard]] std::optional<double> optionalDouble(QLatin1StringView key) const
    {
        return optional(key, readDouble);
    }
    [[nodiscard]] QUuid requireUuid(QLatin1StringView key) const { return require(key, readUuid); }
    [[nodiscard]] QStringList requireStringArray(QLatin1StringView key) const
    {
        return require(key, readStringArray);
    }
    [[nodiscard]] QMap<QString, QString> requireStringMap(QLatin1StringView key) const
    {
        return require(key, readStringMap);
    }
    [[nodiscard]] QDateTime requireDate(QLatin1StringView key) const
    {
        return require(key, [this](const QJsonValue &v) { return dates_.decode(v); });
    }
    [[nodiscard]] std::optional<QDateTime> optionalDate(QLatin1StringView key) const
    {
        return optional(key, [this](const QJsonValue &v) { return dates_.decode(v); });
    }

    template <class Int = qint64>
    [[nodiscard]] Int requireInt(QLatin1StringView key) const
    {
        return require(key, readInt<Int>);
    }
    template <class Int = qint64>
    [[nodiscard]] std::optional<Int> optionalInt(QLatin1StringView key) const
    {
        return optional(key, readInt<Int>);
    }

    template <class E>
    [[nodiscard]] E requireEnum(QLatin1StringView key) const
    {
        return require(key, readEnum<E>);
    }
    template <class E>
    [[nodiscard]] std::optional<E> optionalEnum(QLatin1StringView key) const
    {
        return optional(key, readEnum<E>);
    }

    template <class T>
    [[nodiscard]] T requireRecord(QLatin1StringView key) const
    {
        return require(key, [this](const QJsonValue &v) { return T::fromJson(v, dates_); });
    }
    template <class T>
    [[nodiscard]] std::optional<T> optionalRecord(QLatin1StringView key) const
    {
        return optional(key, [this](const QJsonValue &v) { return T::fromJson(v, dates_); });
    }
    template <class T>
    [[nodiscard]] QList<T> requireArray(QLatin1StringView key) const
    {
        return require(key, [this](const QJsonValue &v) { return readArray<T>(v, dates_); });
    }

private:
    template <class F>
    static auto atKey(QLatin1StringView key, F &&f) -> decltype(f())
    {
        try {
            return f();
        } catch (DecodingError &error) {
            error.prependKey(QString(key));
            throw;
        }
    }

    QJsonObject object_;
    const JsonDates &dates_;
};

// Parses bytes into a document root; malformed JSON throws DecodingError.
QJsonValue parseDocument(const QByteArray &bytes);

} // namespace pendrel::json
