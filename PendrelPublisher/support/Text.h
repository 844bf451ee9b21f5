#pragma once

#include <QString>
#include <QStringList>

namespace pendrel::text {

// The value of a hexadecimal digit (either case), or -1.
constexpr int hexDigitValue(char16_t c)
{
    if (c >= u'0' && c <= u'9')
        return c - u'0';
    if (c >= u'a' && c <= u'f')
        return c - u'a' + 10;
    if (c >= u'A' && c <= u'F')
        return c - u'A' + 10;
    return -1;
}

// The whitespace-and-newlines set: categories Zs, Zl, Zp, U+0009..U+000D
// and U+0085. Every member is in the Basic Multilingual Plane.
bool isWhitespaceOrNewline(char32_t c);

// Removes leading and trailing members of the whitespace-and-newlines set.
QString trimmed(const QString &text);

// Length in user-perceived characters (extended grapheme clusters), so an
// emoji flag or "e" + combining accent counts once, and so does "\r\n".
qsizetype characterCount(QStringView text);

// The first `count` user-perceived characters of text.
QString characterPrefix(const QString &text, qsizetype count);

// Pieces between runs of white space, empty pieces dropped.
QStringList splitAtWhitespace(QStringView text);
qsizetype wordCount(QStringView text);

// What the regular expression \s matches in ICU's reading: tab, line feed,
// form feed, carriage return and the Z categories.
bool isRegexWhitespace(QChar c);

// Removes what the regular expression \s+ matches in ICU's reading.
QString removingRegexWhitespace(QStringView text);

} // namespace pendrel::text
