#pragma once

#include <QByteArrayView>
#include <QJsonValue>

namespace pendrel::json {

// Parses a whole document into its root object or array. Accepts exactly
// what QJsonDocument::fromJson accepts and gives the same values (a leading
// byte order mark, unknown escapes standing for the character, raw control
// characters in strings, "1." and ".5", the last of duplicate keys), but
// decodes long strings with escapes without going character by character:
// the state file's articles load several times faster. Throws
// DecodingError naming the offset of the first fault.
QJsonValue parseJson(QByteArrayView bytes);

} // namespace pendrel::json
