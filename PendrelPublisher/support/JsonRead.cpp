#include "support/JsonRead.h"

#include "support/JsonParse.h"
#include "support/Uuid.h"

#include <cmath>

namespace pendrel::json {

namespace {

QString typeName(const QJsonValue &value)
{
    switch (value.type()) {
    case QJsonValue::Null:
        return QStringLiteral("null");
    case QJsonValue::Bool:
        return QStringLiteral("a boolean");
    case QJsonValue::Double:
        return QStringLiteral("a number");
    case QJsonValue::String:
        return QStringLiteral("a string");
    case QJsonValue::Array:
        return QStringLiteral("an array");
    case QJsonValue::Object:
        return QStringLiteral("an object");
    case QJsonValue::Undefined:
        break;
    }
    return QStringLiteral("nothing");
}

[[noreturn]] void typeMismatch(const char *expected, const QJsonValue &value)
{
    throw DecodingError(
        QStringLiteral("expected %1, found %2").arg(QLatin1StringView(expected), typeName(value)));
}

} // namespace

QString readString(const QJsonValue &value)
{
    if (!value.isString())
        typeMismatch("a string", value);
    return value.toString();
}

bool readBool(const QJsonValue &value)
{
    if (!value.isBool())
        typeMismatch("a boolean", value);
    return value.toBool();
}

qint64 readInteger(const QJsonValue &value, qint64 min, qint64 max)
{
    if (!value.isDouble())
        typeMismatch("an integer", value);
    const std::optional<qint64> whole = wholeNumber(value);
    if (!whole)
        throw DecodingError(QStringLiteral("expected an integer, found %1").arg(value.toDouble()));
    const qint64 integer = *whole;
    if (integer < min || integer > max)
        throw DecodingError(QStringLiteral("integer %1 out of range").arg(integer));
    return integer;
}

double readDouble(const QJsonValue &value)
{
    if (!value.isDouble())
        typeMismatch("a number", value);
    return value.toDouble();
}

QUuid readUuid(const QJsonValue &value)
{
    const QString text = readString(value);
    if (auto uuid = parseUuid(text))
        return *uuid;
    throw DecodingError(QStringLiteral("invalid UUID \"%1\"").arg(text));
}

QStringList readStringArray(const QJsonValue &value)
{
    if (!value.isArray())
        typeMismatch("an array", value);
    const QJsonArray array = value.toArray();
    QStringList out;
    out.reserve(array.size());
    for (qsizetype i = 0; i < array.size(); ++i)
        out.append(atIndex(i, [&] { return readString(array.at(i)); }));
    return out;
}

QMap<QString, QString> readStringMap(const QJsonValue &value)
{
    const QJsonObject object = readObject(value);
    QMap<QString, QString> out;
    for (auto it = object.constBegin(); it != object.constEnd(); ++it) {
        try {
            out.insert(it.key(), readString(it.value()));
        } catch (DecodingError &error) {
            error.prependKey(it.key());
            throw;
        }
    }
    return out;
}

std::optional<qint64> wholeNumber(const QJsonValue &value)
{
    if (!value.isDouble())
        return std::nullopt;
    // toInteger() answers only for whole numbers that fit; a second default
    // tells a real minimum from "no answer".
    constexpr qint64 sentinel = std::numeric_limits<qint64>::min();
    const qint64 integer = value.toInteger(sentinel);
    if (integer == sentinel && value.toInteger(sentinel + 1) != sentinel)
        return std::nullopt;
    return integer;
}

QJsonObject readObject(const QJsonValue &value)
{
    if (!value.isObject())
        typeMismatch("an object", value);
    return value.toObject();
}

ObjectReader::ObjectReader(const QJsonValue &value, const JsonDates &dates)
    : object_(readObject(value)), dates_(dates)
{
}

bool ObjectReader::has(QLatin1StringView key) const
{
    const QJsonValue value = object_.value(key);
    return !value.isUndefined() && !value.isNull();
}

QJsonValue parseDocument(const QByteArray &bytes)
{
    return parseJson(bytes);
}

} // namespace pendrel::json
