#pragma once

#include <QDateTime>
#include <QJsonValue>

namespace pendrel {

// How a document codes its dates. The state file uses ISO 8601 text with
// whole seconds; request bodies use seconds since 2001-01-01T00:00:00Z.
class JsonDates {
public:
    enum class Style { iso8601, secondsSinceReferenceDate };

    static JsonDates iso8601() { return JsonDates(Style::iso8601); }
    static JsonDates secondsSinceReferenceDate() { return JsonDates(Style::secondsSinceReferenceDate); }

    [[nodiscard]] Style style() const { return style_; }

    [[nodiscard]] QJsonValue encode(const QDateTime &date) const;
    // Throws DecodingError (without a path; the member reader adds it).
    [[nodiscard]] QDateTime decode(const QJsonValue &value) const;

    // The ISO form on its own: "2026-12-07T07:46:26Z", fractions dropped.
    static QString formatIso8601(const QDateTime &date);
    // "Z" or "+hh:mm"/"-hh:mm"; anything else (fractions, no zone) is invalid.
    static QDateTime parseIso8601(QStringView text);

private:
    explicit JsonDates(Style style) : style_(style) {}
    Style style_;
};

} // namespace pendrel
