#include "api/JsonValues.h"

#include "support/JsonRead.h"
#include "support/Text.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QLocale>

namespace pendrel {

namespace {

bool isStringList(const QVariant &value)
{
    if (value.metaType() == QMetaType::fromType<QStringList>())
        return true;
    if (value.metaType() != QMetaType::fromType<QVariantList>())
        return false;
    const QVariantList list = value.toList();
    return std::all_of(list.begin(), list.end(),
                       [](const QVariant &v) { return v.metaType() == QMetaType::fromType<QString>(); });
}

bool isSignedInteger(QMetaType type)
{
    switch (type.id()) {
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::Long:
    case QMetaType::Short:
        return true;
    default:
        return false;
    }
}

bool isStringArray(const QJsonArray &array)
{
    return std::all_of(array.begin(), array.end(), [](const QJsonValue &v) { return v.isString(); });
}

std::optional<QString> sourceText(const QJsonValue &element)
{
    if (element.isString())
        return element.toString();
    if (!element.isObject())
        return std::nullopt;
    const QJsonObject o = element.toObject();
    const QJsonValue url = o.value(QStringLiteral("url"));
    const QJsonValue title = o.value(QStringLiteral("title"));
    if (url.isString() && title.isString() && !title.toString().isEmpty())
        return title.toString() + QStringLiteral(" \u2014 ") + url.toString();
    if (url.isString())
        return url.toString();
    if (title.isString())
        return title.toString();
    const QJsonValue source = o.value(QStringLiteral("source"));
    if (source.isString())
        return source.toString();
    return std::nullopt;
}

QString numberText(const QJsonValue &value)
{
    if (const auto integer = json::wholeNumber(value))
        return QString::number(*integer);
    return QString::number(value.toDouble(), 'g', QLocale::FloatingPointShortest);
}

// ICU's dot: anything but a line terminator.
bool isRegexLineBreak(char16_t u)
{
    return (u >= 0x0A && u <= 0x0D) || u == 0x85 || u == 0x2028 || u == 0x2029;
}

// The first match of «"[^"]*KEY"\s*:\s*"((?:[^"\\]|\\.)*)"» in content, as
// the range of the whole match. Written out by hand because a backtracking
// engine needs memory in proportion to the value and gives up (reporting
// "no match") on article-sized values; this scan takes constant memory.
//
// Every part of the expression is deterministic: the key is what lies
// between a quote and the next one, the blanks and the colon have one
// reading, and in the value each character takes exactly one of the two
// branches, so no start has more than one candidate match. A value fails at
// a bare backslash before a line break or at the end of the text; a later
// start whose value opens before that point reads the same characters the
// same way from there on (it opens just after an escaped quote) and fails
// there too, which keeps the scan linear.
std::optional<std::pair<qsizetype, qsizetype>> findQuotedMember(QStringView content, QStringView key)
{
    const qsizetype n = content.size();
    const auto skipBlanks = [&](qsizetype i) {
        while (i < n && text::isRegexWhitespace(content[i]))
            ++i;
        return i;
    };
    qsizetype failsBefore = 0;
    for (qsizetype start = content.indexOf(u'"'); start >= 0; start = content.indexOf(u'"', start + 1)) {
        const qsizetype close = content.indexOf(u'"', start + 1);
        if (close < 0)
            return std::nullopt;
        if (close - (start + 1) < key.size() || content.sliced(close - key.size(), key.size()) != key)
            continue;
        qsizetype i = skipBlanks(close + 1);
        if (i >= n || content[i] != u':')
            continue;
        i = skipBlanks(i + 1);
        if (i >= n || content[i] != u'"' || i < failsBefore)
            continue;
        for (++i; i < n; ++i) {
            const char16_t u = content[i].unicode();
            if (u == u'"')
                return std::pair{start, i + 1};
            if (u == u'\\') {
                if (i + 1 >= n || isRegexLineBreak(content[i + 1].unicode()))
                    break;
                ++i;
            }
        }
        if (i >= n - 1)
            return std::nullopt; // ran off the end: so will every later start
        failsBefore = i;
    }
    return std::nullopt;
}

int hexValue(QChar c)
{
    return text::hexDigitValue(c.unicode());
}

std::optional<char16_t> readHex4(QStringView text, qsizetype at)
{
    if (at + 4 > text.size())
        return std::nullopt;
    int value = 0;
    for (qsizetype i = at; i < at + 4; ++i) {
        const int digit = hexValue(text[i]);
        if (digit < 0)
            return std::nullopt;
        value = value * 16 + digit;
    }
    return char16_t(value);
}

// The inside of a JSON string, strictly: the escapes JSON defines, a \u
// surrogate only as part of a pair, and no bare quote. (Qt's own reader
// lets unknown escapes through.)
std::optional<QString> decodeJsonStringBody(QStringView body)
{
    QString out;
    out.reserve(body.size());
    for (qsizetype i = 0; i < body.size(); ++i) {
        const QChar c = body[i];
        if (c == u'"')
            return std::nullopt;
        if (c != u'\\') {
            out += c;
            continue;
        }
        if (++i >= body.size())
            return std::nullopt;
        switch (body[i].unicode()) {
        case u'"':
            out += u'"';
            break;
        case u'\\':
            out += u'\\';
            break;
        case u'/':
            out += u'/';
            break;
        case u'b':
            out += u'\b';
            break;
        case u'f':
            out += u'\f';
            break;
        case u'n':
            out += u'\n';
            break;
        case u'r':
            out += u'\r';
            break;
        case u't':
            out += u'\t';
            break;
        case u'u': {
            const auto unit = readHex4(body, i + 1);
            if (!unit)
                return std::nullopt;
            i += 4;
            if (QChar::isHighSurrogate(*unit)) {
                const auto low = i + 2 < body.size() && body[i + 1] == u'\\' && body[i + 2] == u'u'
                                     ? readHex4(body, i + 3)
                                     : std::nullopt;
                if (!low || !QChar::isLowSurrogate(*low))
                    return std::nullopt;
                out += QChar(*unit);
                out += QChar(*low);
                i += 6;
            } else if (QChar::isLowSurrogate(*unit)) {
                return std::nullopt;
            } else {
                out += QChar(*unit);
            }
            break;
        }
        default:
            return std::nullopt;
        }
    }
    return out;
}

} // namespace

RequestBody normalizeBody(const QVariantMap &values)
{
    RequestBody body;
    for (auto it = values.constBegin(); it != values.constEnd(); ++it) {
        const QVariant &v = it.value();
        const QMetaType type = v.metaType();
        if (type == QMetaType::fromType<QString>())
            body.insert(it.key(), v.toString());
        else if (isSignedInteger(type))
            body.insert(it.key(), v.toLongLong());
        else if (type == QMetaType::fromType<double>() || type == QMetaType::fromType<float>())
            body.insert(it.key(), v.toDouble());
        else if (type == QMetaType::fromType<bool>())
            body.insert(it.key(), v.toBool());
        else if (isStringList(v))
            body.insert(it.key(), QJsonArray::fromStringList(v.toStringList()));
        else
            body.insert(it.key(), QJsonValue::Null);
    }
    return body;
}

QStringList normalizeStringList(const QJsonValue &value)
{
    if (!value.isArray())
        return {};
    const QJsonArray array = value.toArray();
    QStringList out;
    out.reserve(array.size());
    if (isStringArray(array)) {
        for (const QJsonValue &v : array)
            out.append(v.toString());
        return out;
    }
    for (const QJsonValue &element : array) {
        if (auto text = sourceText(element))
            out.append(*text);
    }
    return out;
}

QMap<QString, QString> normalizeStringDictionary(const QJsonValue &value)
{
    QMap<QString, QString> out;
    if (!value.isObject())
        return out;
    const QJsonObject object = value.toObject();
    for (auto it = object.constBegin(); it != object.constEnd(); ++it) {
        const QJsonValue v = it.value();
        QString text;
        if (v.isString())
            text = v.toString();
        else if (v.isDouble())
            text = numberText(v);
        else if (v.isBool())
            text = v.toBool() ? QStringLiteral("1") : QStringLiteral("0");
        else if (v.isArray())
            text = QString::fromUtf8(QJsonDocument(v.toArray()).toJson(QJsonDocument::Compact));
        else if (v.isObject())
            text = QString::fromUtf8(QJsonDocument(v.toObject()).toJson(QJsonDocument::Compact));
        else
            text = QStringLiteral("null");
        out.insert(it.key(), text);
    }
    return out;
}

bool looksLikeBrokenTransformWrapper(const QString &content)
{
    const QString trimmed = text::trimmed(content);
    if (!trimmed.startsWith(u'{'))
        return false;
    const QString head = text::characterPrefix(trimmed, 500);
    return head.contains(QStringLiteral("transformedContent\""))
           || head.contains(QStringLiteral("\"content\""));
}

std::optional<QString> rescueContentFromBrokenJson(const QString &content)
{
    auto match = findQuotedMember(content, u"transformedContent");
    if (!match)
        match = findQuotedMember(content, u"content");
    if (!match)
        return std::nullopt;
    return decodeQuotedJsonValue(content.sliced(match->first, match->second - match->first));
}

std::optional<QString> decodeQuotedJsonValue(const QString &text)
{
    const qsizetype colon = text.indexOf(u':');
    if (colon < 0)
        return std::nullopt;
    QStringView rest = QStringView(text).sliced(colon + 1);
    while (!rest.isEmpty() && (rest.front() == u' ' || rest.front() == u'\t'))
        rest = rest.sliced(1);
    while (!rest.isEmpty() && (rest.back() == u' ' || rest.back() == u'\t'))
        rest.chop(1);
    if (rest.isEmpty() || !rest.startsWith(u'"') || !rest.endsWith(u'"'))
        return std::nullopt;
    // A lone quote both starts and ends the value: it is the empty string.
    const QStringView raw = rest.size() < 2 ? QStringView() : rest.sliced(1, rest.size() - 2);

    // Escaping raw control characters and then decoding as a JSON string
    // leaves them as they were, so decode the value directly: escapes are
    // turned into their characters, anything else is kept as it stands.
    if (auto decoded = decodeJsonStringBody(raw))
        return decoded;
    return raw.toString();
}

} // namespace pendrel
