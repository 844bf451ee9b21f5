#pragma once

#include <QByteArrayView>
#include <QJsonValue>
#include <QLatin1StringView>

#include <functional>

namespace pendrel::json {

// Parses a whole document into its root object or array. Accepts exactly
// what QJsonDocument::fromJson accepts and gives the same values (a leading
// byte order mark, unknown escapes standing for the character, raw control
// characters in strings, "1." and ".5", the last of duplicate keys), but
// decodes long strings with escapes without going character by character:
// the state file's articles load several times faster. Throws
// DecodingError naming the offset of the first fault.
QJsonValue parseJson(QByteArrayView bytes);

// Takes the elements of one array member of the root object as the parser
// reaches them, instead of the array (the root then holds it empty): the
// records of a large document are decoded one at a time and the document
// never sits in memory as JSON values all at once.
struct RootArrayReader {
    QLatin1StringView key;
    std::function<void()> begin; // as the array starts; again for a repeated key
    // With the element's bytes as they stand in the document.
    std::function<void(const QJsonValue &element, QByteArrayView bytes)> element;
};
QJsonValue parseJson(QByteArrayView bytes, const RootArrayReader &reader);

} // namespace pendrel::json
