#pragma once

#include <QString>
#include <QUuid>

#include <optional>

namespace pendrel {

// UUIDs travel as 36-character canonical text in upper case.
QString uuidString(const QUuid &uuid);

// Accepts exactly the canonical 8-4-4-4-12 form, in either case; braces,
// missing hyphens or surrounding blanks are rejected.
std::optional<QUuid> parseUuid(QStringView text);
// The same, of Latin-1 bytes (a long history's log lines hold a hundred
// thousand of them).
std::optional<QUuid> parseUuid(QByteArrayView text);

} // namespace pendrel
