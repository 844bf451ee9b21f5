#pragma once

#include <QJsonObject>
#include <QJsonValue>
#include <QMap>
#include <QStringList>
#include <QVariantMap>

#include <optional>

namespace pendrel {

// Request bodies are JSON objects built from loosely typed values. A
// QJsonValue encodes exactly as the value it holds, which is all the
// type-erased body value has to do.
using AnyEncodable = QJsonValue;
using RequestBody = QJsonObject;

// An optional as a body value: the value, or null when absent (bodies keep
// the key and send null).
template <class T>
AnyEncodable nullable(const std::optional<T> &value)
{
    return value ? AnyEncodable(*value) : AnyEncodable(QJsonValue::Null);
}

// Strings, integers, doubles, Booleans and lists of strings keep their
// value; anything else is sent as null under its key.
RequestBody normalizeBody(const QVariantMap &values);

// A list of sources or citations in whatever shape the service sent it.
QStringList normalizeStringList(const QJsonValue &value);

// The SEO metadata map: every member as text.
QMap<QString, QString> normalizeStringDictionary(const QJsonValue &value);

// The transformation answer sometimes arrives with the whole JSON answer as
// the article text; these recognise that and dig the article out of it.
bool looksLikeBrokenTransformWrapper(const QString &content);
std::optional<QString> rescueContentFromBrokenJson(const QString &content);
// `"key": "value"` → the value, JSON escapes decoded; the raw value when it
// does not decode; nothing when the text holds no quoted value after a colon.
std::optional<QString> decodeQuotedJsonValue(const QString &text);

} // namespace pendrel
