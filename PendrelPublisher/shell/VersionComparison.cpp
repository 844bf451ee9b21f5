#include "shell/VersionComparison.h"

#include <QList>

namespace pendrel::VersionComparison {

namespace {

enum class Kind { number, text, separator };

Kind kindOf(QChar c)
{
    if (c.isDigit())
        return Kind::number;
    if (c.isSpace() || c.isPunct())
        return Kind::separator;
    return Kind::text;
}

struct Part {
    Kind kind;
    QStringView text;
};

QList<Part> split(const QString &version)
{
    QStringView rest(version);
    if (const qsizetype dash = rest.indexOf(u'-'); dash >= 0)
        rest = rest.left(dash);
    QList<Part> parts;
    qsizetype start = 0;
    for (qsizetype i = 1; i <= rest.size(); ++i) {
        const Kind kind = kindOf(rest[start]);
        // Each separator is a part of its own; other runs merge.
        if (i == rest.size() || kind == Kind::separator || kindOf(rest[i]) != kind) {
            parts.append({kind, rest.mid(start, i - start)});
            start = i;
        }
    }
    return parts;
}

// Compares digit runs of any length without overflowing: leading zeros
// dropped, then the longer run is the larger number.
int compareNumbers(QStringView a, QStringView b)
{
    while (a.size() > 1 && a.front() == u'0')
        a = a.mid(1);
    while (b.size() > 1 && b.front() == u'0')
        b = b.mid(1);
    if (a.size() != b.size())
        return a.size() < b.size() ? -1 : 1;
    return a.compare(b);
}

bool isZero(QStringView digits)
{
    return std::all_of(digits.begin(), digits.end(), [](QChar c) { return c == u'0'; });
}

int sign(int value)
{
    return (value > 0) - (value < 0);
}

} // namespace

int compare(const QString &a, const QString &b)
{
    const QList<Part> left = split(a);
    const QList<Part> right = split(b);
    const qsizetype common = std::min(left.size(), right.size());
    for (qsizetype i = 0; i < common; ++i) {
        const Part &x = left[i];
        const Part &y = right[i];
        if (x.kind == y.kind) {
            if (x.kind == Kind::number) {
                if (const int c = compareNumbers(x.text, y.text))
                    return c;
            } else if (x.kind == Kind::text) {
                if (const int c = sign(x.text.compare(y.text)))
                    return c;
            }
            continue;
        }
        // A letter run against anything else is a pre-release, so older.
        if (x.kind == Kind::text)
            return -1;
        if (y.kind == Kind::text)
            return 1;
        // A number against a separator: the number is further along.
        return x.kind == Kind::number ? 1 : -1;
    }
    // One ran out: the rest of the longer decides. Zeros and separators pad;
    // letters make it a pre-release; any other number makes it newer.
    const bool leftLonger = left.size() > right.size();
    const QList<Part> &longer = leftLonger ? left : right;
    for (qsizetype i = common; i < longer.size(); ++i) {
        const Part &p = longer[i];
        if (p.kind == Kind::separator || (p.kind == Kind::number && isZero(p.text)))
            continue;
        const int longerIsNewer = p.kind == Kind::number ? 1 : -1;
        return leftLonger ? longerIsNewer : -longerIsNewer;
    }
    return 0;
}

} // namespace pendrel::VersionComparison
