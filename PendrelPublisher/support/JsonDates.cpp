#include "support/JsonDates.h"

#include "support/Error.h"

#include <cmath>

namespace pendrel {

namespace {

constexpr qint64 kReferenceDateMSecs = 978307200000; // 2001-01-01T00:00:00Z

bool readDigits(QStringView text, qsizetype from, qsizetype count, int &out)
{
    int value = 0;
    for (qsizetype i = from; i < from + count; ++i) {
        const char16_t c = text[i].unicode();
        if (c < u'0' || c > u'9')
            return false;
        value = value * 10 + int(c - u'0');
    }
    out = value;
    return true;
}

} // namespace

QString JsonDates::formatIso8601(const QDateTime &date)
{
    const QDateTime utc = date.toUTC();
    const QDate d = utc.date();
    const QTime t = utc.time();
    if (d.year() < 0 || d.year() > 9999 || !t.isValid())
        return QString::asprintf("%04d-%02d-%02dT%02d:%02d:%02dZ", d.year(), d.month(), d.day(), t.hour(),
                                 t.minute(), t.second());
    // By hand: a long history writes hundreds of thousands of these, and
    // asprintf() took a fifth of a save.
    char16_t text[20];
    const auto put = [&text](int at, int value, int digits) {
        for (int i = digits - 1; i >= 0; --i, value /= 10)
            text[at + i] = char16_t(u'0' + value % 10);
    };
    put(0, d.year(), 4);
    text[4] = u'-';
    put(5, d.month(), 2);
    text[7] = u'-';
    put(8, d.day(), 2);
    text[10] = u'T';
    put(11, t.hour(), 2);
    text[13] = u':';
    put(14, t.minute(), 2);
    text[16] = u':';
    put(17, t.second(), 2);
    text[19] = u'Z';
    return QString(reinterpret_cast<const QChar *>(text), 20);
}

QDateTime JsonDates::parseIso8601(QStringView text)
{
    // yyyy-MM-ddTHH:mm:ss followed by Z (20 chars) or ±hh:mm (25 chars).
    if (text.size() != 20 && text.size() != 25)
        return {};
    int year, month, day, hour, minute, second;
    if (!readDigits(text, 0, 4, year) || text[4] != u'-' || !readDigits(text, 5, 2, month) || text[7] != u'-'
        || !readDigits(text, 8, 2, day) || text[10] != u'T' || !readDigits(text, 11, 2, hour)
        || text[13] != u':' || !readDigits(text, 14, 2, minute) || text[16] != u':'
        || !readDigits(text, 17, 2, second))
        return {};

    int offsetSeconds = 0;
    if (text.size() == 20) {
        if (text[19] != u'Z')
            return {};
    } else {
        const char16_t sign = text[19].unicode();
        int offHours, offMinutes;
        if ((sign != u'+' && sign != u'-') || !readDigits(text, 20, 2, offHours) || text[22] != u':'
            || !readDigits(text, 23, 2, offMinutes) || offHours > 23 || offMinutes > 59)
            return {};
        offsetSeconds = (offHours * 3600 + offMinutes * 60) * (sign == u'-' ? -1 : 1);
    }

    const QDate date(year, month, day);
    const QTime time(hour, minute, second);
    if (!date.isValid() || !time.isValid())
        return {};
    return QDateTime(date, time, Qt::OffsetFromUTC, offsetSeconds).toUTC();
}

QJsonValue JsonDates::encode(const QDateTime &date) const
{
    if (style_ == Style::iso8601)
        return formatIso8601(date);
    return double(date.toMSecsSinceEpoch() - kReferenceDateMSecs) / 1000.0;
}

QDateTime JsonDates::decode(const QJsonValue &value) const
{
    if (style_ == Style::iso8601) {
        if (!value.isString())
            throw DecodingError(QStringLiteral("expected a date string"));
        QDateTime date = parseIso8601(value.toString());
        if (!date.isValid())
            throw DecodingError(QStringLiteral("invalid date \"%1\"").arg(value.toString()));
        return date;
    }
    if (!value.isDouble() || !std::isfinite(value.toDouble()))
        throw DecodingError(QStringLiteral("expected a number of seconds"));
    const double msecs = std::round(value.toDouble() * 1000.0);
    if (std::fabs(msecs) > 1e17) // far outside any representable calendar date
        throw DecodingError(QStringLiteral("date out of range"));
    return QDateTime::fromMSecsSinceEpoch(kReferenceDateMSecs + qint64(msecs), Qt::UTC);
}

} // namespace pendrel
