#pragma once

#include <QByteArrayView>
#include <QJsonValue>
#include <QLatin1StringView>
#include <QList>

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
// The string values at `bodiesAt` (paths of member names within each
// element) are checked but not decoded: the element holds an empty string
// there, and `bodies` the string's body as it stands in the document
// (between its quotes) at the path's index, for decodeStringBody() later.
// A long history's articles are most of its bytes and are rarely read.
struct RootArrayReader {
    QLatin1StringView key;
    std::function<void()> begin; // as the array starts; again for a repeated key
    QList<QList<QLatin1StringView>> bodiesAt;
    // With the element's bytes as they stand in the document.
    std::function<void(const QJsonValue &element, QByteArrayView bytes, const QList<QByteArrayView> &bodies)> element;
};
QJsonValue parseJson(QByteArrayView bytes, const RootArrayReader &reader);

// The text of a string body that parseJson() checked, as it would have
// given it. Bodies not from there are decoded leniently: a fault is kept as
// the bytes stand.
QString decodeStringBody(QByteArrayView body);

} // namespace pendrel::json
