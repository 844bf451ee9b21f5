#pragma once

#include "support/Error.h"
#include "support/JsonRead.h"
#include "support/JsonWrite.h"

#include <QJsonDocument>
#include <QString>

#include <functional>

namespace pendrel::test {

// JSON written with single quotes, so that documents in tests read easily
// (raw string literals confuse moc).
inline QByteArray q(const char *text)
{
    return QString::fromUtf8(text).replace(u'\'', u'"').toUtf8();
}

// The description of the DecodingError that decode throws, or "<decoded>".
inline QString decodingFailure(const std::function<void()> &decode)
{
    try {
        decode();
    } catch (const DecodingError &e) {
        return e.description();
    }
    return QStringLiteral("<decoded>");
}

// Encodes with the state file's writer and decodes the bytes again, the
// way a record travels through the state file.
template <class T>
T throughStateFile(const T &record)
{
    const auto dates = JsonDates::iso8601();
    const QByteArray bytes = json::writeSorted(record.toJson(dates));
    return T::fromJson(json::parseDocument(bytes), dates);
}

} // namespace pendrel::test
