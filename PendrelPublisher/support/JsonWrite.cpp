#include "support/JsonWrite.h"

#include "support/JsonRead.h"

#include <QJsonArray>
#include <QLocale>

#include <algorithm>
#include <cmath>
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

private:
    void indent(int depth) { out.append(qsizetype(depth) * 2, ' '); }

    void number(const QJsonValue &v)
    {
        if (const auto integer = wholeNumber(v)) {
            out += QByteArray::number(*integer);
            return;
        }
        const double d = v.toDouble();
        if (!std::isfinite(d)) { // JSON has no spelling for these
            out += "null";
            return;
        }
        out += QByteArray::number(d, 'g', QLocale::FloatingPointShortest);
    }

    void string(const QString &s)
    {
        static constexpr char hex[] = "0123456789abcdef";
        const QByteArray utf8 = s.toUtf8();
        out.reserve(out.size() + utf8.size() + 2);
        out += '"';
        for (const char ch : utf8) {
            const auto c = static_cast<unsigned char>(ch);
            switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '/':
                out += "\\/";
                break;
            case '\b':
                out += "\\b";
                break;
            case '\f':
                out += "\\f";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (c < 0x20) {
                    out += "\\u00";
                    out += hex[c >> 4];
                    out += hex[c & 0xF];
                } else {
                    out += ch;
                }
            }
        }
        out += '"';
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
            value(members[i].second, depth + 1);
            out += i + 1 < members.size() ? ",\n" : "\n";
        }
        indent(depth);
        out += '}';
    }
};

} // namespace

QByteArray writeSorted(const QJsonValue &value)
{
    Writer writer;
    writer.out.reserve(4096);
    writer.value(value, 0);
    writer.out += '\n';
    return std::move(writer.out);
}

} // namespace pendrel::json
