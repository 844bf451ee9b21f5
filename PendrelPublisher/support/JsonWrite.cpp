#include "support/JsonWrite.h"

#include "support/JsonRead.h"

#include <QJsonArray>
#include <QLocale>

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

namespace pendrel::json {

namespace {

// Code point order; differs from plain UTF-16 order only when a surrogate
// pair meets a character in U+E000..U+FFFF.
bool codePointLess(const QString &a, const QString &b)
{
    const qsizetype n = std::min(a.size(), b.size());
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t x = a[i].unicode();
        const char16_t y = b[i].unicode();
        if (x == y)
            continue;
        const bool xs = QChar::isSurrogate(x);
        const bool ys = QChar::isSurrogate(y);
        if (xs != ys && (x >= 0xE000 || y >= 0xE000))
            return ys; // a surrogate stands for a supplementary character, which sorts higher
        return x < y;
    }
    return a.size() < b.size();
}

class Writer {
public:
    QByteArray out;
    // For writeSortedPieces: the root member whose array elements were
    // written before, and the finished pieces.
    QLatin1StringView splicedKey;
    const QList<QByteArray> *splicedElements = nullptr;
    QList<QByteArray> pieces;

    void value(const QJsonValue &v, int depth)
    {
        switch (v.type()) {
        case QJsonValue::Null:
        case QJsonValue::Undefined:
            out += "null";
            break;
        case QJsonValue::Bool:
            out += v.toBool() ? "true" : "false";
            break;
        case QJsonValue::Double:
            number(v);
            break;
        case QJsonValue::String:
            string(v.toString());
            break;
        case QJsonValue::Array:
            array(v.toArray(), depth);
            break;
        case QJsonValue::Object:
            object(v.toObject(), depth);
            break;
        }
    }

    void stringObjects(const QList<QLatin1StringView> &keys, const QList<QStringList> &rows, int depth)
    {
        if (rows.isEmpty()) {
            out += "[]";
            return;
        }
        out += "[\n";
        for (qsizetype i = 0; i < rows.size(); ++i) {
            indent(depth + 1);
            if (keys.isEmpty()) {
                out += "{}";
            } else {
                out += "{\n";
                for (qsizetype k = 0; k < keys.size(); ++k) {
                    indent(depth + 2);
                    string(QString(keys.at(k)));
                    out += " : ";
                    string(rows.at(i).at(k));
                    out += k + 1 < keys.size() ? ",\n" : "\n";
                }
                indent(depth + 1);
                out += '}';
            }
            out += i + 1 < rows.size() ? ",\n" : "\n";
        }
        indent(depth);
        out += ']';
    }

    void number(const QJsonValue &v)
    {
        // JSON has no spelling for NaN and the infinities; checked first, as
        // a NaN passes for the lowest whole number where Qt converts it.
        const double d = v.toDouble();
        if (!std::isfinite(d)) {
            out += "null";
            return;
        }
        if (const auto integer = wholeNumber(v)) {
            out += QByteArray::number(*integer);
            return;
        }
        out += QByteArray::number(d, 'g', QLocale::FloatingPointShortest);
    }

    void string(const QString &s)
    {
        out += '"';
        const auto *p = reinterpret_cast<const char16_t *>(s.utf16());
        const char16_t *const end = p + s.size();
        while (p < end) {
            // Runs that go out unchanged are copied as a whole; articles are
            // mostly such runs.
            const char16_t *run = p;
            while (p < end && *p >= 0x20 && *p < 0x80 && *p != u'"' && *p != u'\\' && *p != u'/')
                ++p;
            if (p > run) {
                const qsizetype at = out.size();
                out.resize(at + (p - run));
                char *to = out.data() + at;
                for (; run < p; ++run)
                    *to++ = char(*run);
            }
            if (p == end)
                break;
            if (*p >= 0x80) {
                // Whole runs of non-ASCII text, so that surrogate pairs stay
                // together. A surrogate without its partner (a text cut in
                // the middle of an emoji) has no UTF-8 form: it is written
                // as an escape, which reads back as the same unit.
                run = p;
                while (p < end && *p >= 0x80) {
                    if (QChar::isHighSurrogate(*p) && p + 1 < end && QChar::isLowSurrogate(p[1]))
                        p += 2;
                    else if (QChar::isSurrogate(*p))
                        break;
                    else
                        ++p;
                }
                if (p > run)
                    out += QStringView(run, p - run).toUtf8();
                if (p < end && QChar::isSurrogate(*p))
                    escape(*p++);
                continue;
            }
            escape(*p++);
        }
        out += '"';
    }

private:
    void indent(int depth) { out.append(qsizetype(depth) * 2, ' '); }

    void escape(char16_t c)
    {
        static constexpr char hex[] = "0123456789abcdef";
        switch (c) {
        case u'"':
            out += "\\\"";
            break;
        case u'\\':
            out += "\\\\";
            break;
        case u'/':
            out += "\\/";
            break;
        case u'\b':
            out += "\\b";
            break;
        case u'\f':
            out += "\\f";
            break;
        case u'\n':
            out += "\\n";
            break;
        case u'\r':
            out += "\\r";
            break;
        case u'\t':
            out += "\\t";
            break;
        default: // the other control characters, and lone surrogates
            out += "\\u";
            out += hex[c >> 12];
            out += hex[(c >> 8) & 0xF];
            out += hex[(c >> 4) & 0xF];
            out += hex[c & 0xF];
        }
    }

    void array(const QJsonArray &a, int depth)
    {
        if (a.isEmpty()) {
            out += "[]";
            return;
        }
        out += "[\n";
        for (qsizetype i = 0; i < a.size(); ++i) {
            indent(depth + 1);
            value(a.at(i), depth + 1);
            out += i + 1 < a.size() ? ",\n" : "\n";
        }
        indent(depth);
        out += ']';
    }

    // An array at `depth` of elements already written at depth + 1; each
    // goes out as its own piece, uncopied.
    void splice(int depth)
    {
        const QList<QByteArray> &elements = *splicedElements;
        if (elements.isEmpty()) {
            out += "[]";
            return;
        }
        out += "[\n";
        for (qsizetype i = 0; i < elements.size(); ++i) {
            indent(depth + 1);
            pieces.append(std::exchange(out, QByteArray()));
            pieces.append(elements.at(i));
            out += i + 1 < elements.size() ? ",\n" : "\n";
        }
        indent(depth);
        out += ']';
    }

    void object(const QJsonObject &o, int depth)
    {
        if (o.isEmpty()) {
            out += "{}";
            return;
        }
        std::vector<std::pair<QString, QJsonValue>> members;
        members.reserve(size_t(o.size()));
        for (auto it = o.constBegin(); it != o.constEnd(); ++it)
            members.emplace_back(it.key(), it.value());
        const auto less = [](const auto &a, const auto &b) { return codePointLess(a.first, b.first); };
        if (!std::is_sorted(members.begin(), members.end(), less))
            std::sort(members.begin(), members.end(), less);

        out += "{\n";
        for (size_t i = 0; i < members.size(); ++i) {
            indent(depth + 1);
            string(members[i].first);
            out += " : ";
            if (depth == 0 && splicedElements && members[i].first == splicedKey)
                splice(depth + 1);
            else
                value(members[i].second, depth + 1);
            out += i + 1 < members.size() ? ",\n" : "\n";
        }
        indent(depth);
        out += '}';
    }
};

} // namespace

qsizetype writersEscapeLength(QByteArrayView text)
{
    if (text.size() < 2 || text.at(0) != '\\')
        return 0;
    const char e = text.at(1);
    if (e == '"' || e == '\\' || e == '/' || e == 'b' || e == 'f' || e == 'n' || e == 'r' || e == 't')
        return 2;
    // Only the control characters without a short form and lone
    // surrogates, in lower-case hex.
    const auto unitAt = [text](qsizetype at) -> int {
        static constexpr char hex[] = "0123456789abcdef";
        if (text.size() < at + 6 || text.at(at) != '\\' || text.at(at + 1) != 'u')
            return -1;
        int unit = 0;
        for (qsizetype i = at + 2; i < at + 6; ++i) {
            const char *digit = std::find(hex, hex + 16, text.at(i));
            if (digit == hex + 16)
                return -1;
            unit = unit * 16 + int(digit - hex);
        }
        return unit;
    };
    const int unit = unitAt(0);
    if (unit < 0)
        return 0;
    if (QChar::isSurrogate(char16_t(unit))) {
        // A high one followed by a low one is a pair, which the writer
        // writes as UTF-8. (A low one after a high one was refused with it.)
        const int next = unitAt(6);
        return QChar::isHighSurrogate(char16_t(unit)) && next >= 0 && QChar::isLowSurrogate(char16_t(next))
                   ? 0
                   : 6;
    }
    if (unit >= 0x20 || unit == u'\b' || unit == u'\f' || unit == u'\n' || unit == u'\r' || unit == u'\t')
        return 0;
    return 6;
}

void appendString(QByteArray &out, const QString &text)
{
    Writer writer;
    writer.out.swap(out);
    writer.string(text);
    out.swap(writer.out);
}

void appendNumber(QByteArray &out, const QJsonValue &number)
{
    Writer writer;
    writer.out.swap(out);
    writer.number(number);
    out.swap(writer.out);
}

bool keyLess(const QString &a, const QString &b)
{
    return codePointLess(a, b);
}

QByteArray writeSorted(const QJsonValue &value)
{
    Writer writer;
    writer.out.reserve(4096);
    writer.value(value, 0);
    writer.out += '\n';
    return std::move(writer.out);
}

QByteArray writeSortedAt(const QJsonValue &value, int depth)
{
    Writer writer;
    writer.value(value, depth);
    return std::move(writer.out);
}

QByteArray writeStringObjectsAt(const QList<QLatin1StringView> &keys, const QList<QStringList> &rows,
                                int depth)
{
    Q_ASSERT(std::is_sorted(keys.begin(), keys.end(),
                            [](QLatin1StringView a, QLatin1StringView b) { return codePointLess(a, b); }));
    Writer writer;
    writer.stringObjects(keys, rows, depth);
    return std::move(writer.out);
}

QList<QByteArray> writeSortedPieces(QJsonObject root, QLatin1StringView arrayKey,
                                    const QList<QByteArray> &elements)
{
    root.insert(arrayKey, QJsonArray()); // takes its place among the sorted members
    Writer writer;
    writer.splicedKey = arrayKey;
    writer.splicedElements = &elements;
    writer.value(root, 0);
    writer.out += '\n';
    writer.pieces.append(std::move(writer.out));
    return std::move(writer.pieces);
}

} // namespace pendrel::json
