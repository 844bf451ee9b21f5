#include "support/Text.h"

#include <QTextBoundaryFinder>

namespace pendrel::text {

bool isWhitespaceOrNewline(char32_t c)
{
    // QChar::isSpace covers exactly this set (Z categories, 9..13, 0x85).
    return QChar::isSpace(c);
}

QString trimmed(const QString &text)
{
    // QString::trimmed strips QChar::isSpace code units; since every member
    // of the set is a single UTF-16 unit this is the scalar-exact trim.
    return text.trimmed();
}

namespace {

// Text made of printable ASCII has one character per code unit; most
// article text in Latin scripts is close to that, so skip the finder then.
bool isPlainAscii(QStringView text)
{
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u >= 0x7F || (u < 0x20 && u != u'\n' && u != u'\t'))
            return false;
    }
    return true;
}

} // namespace

qsizetype characterCount(QStringView text)
{
    if (isPlainAscii(text))
        return text.size();
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text.data(), text.size());
    qsizetype count = 0;
    while (finder.toNextBoundary() != -1)
        ++count;
    return count;
}

QString characterPrefix(const QString &text, qsizetype count)
{
    if (count <= 0)
        return {};
    if (isPlainAscii(text))
        return text.left(count);
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype taken = 0;
    qsizetype end = 0;
    while (taken < count) {
        const qsizetype next = finder.toNextBoundary();
        if (next == -1)
            break;
        end = next;
        ++taken;
    }
    return text.left(end);
}

QStringList splitAtWhitespace(QStringView text)
{
    QStringList pieces;
    qsizetype start = -1;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (isWhitespaceOrNewline(text[i].unicode())) {
            if (start >= 0)
                pieces.append(text.sliced(start, i - start).toString());
            start = -1;
        } else if (start < 0) {
            start = i;
        }
    }
    if (start >= 0)
        pieces.append(text.sliced(start).toString());
    return pieces;
}

qsizetype wordCount(QStringView text)
{
    qsizetype words = 0;
    bool inWord = false;
    for (const QChar c : text) {
        const bool space = isWhitespaceOrNewline(c.unicode());
        if (!space && !inWord)
            ++words;
        inWord = !space;
    }
    return words;
}

bool isRegexWhitespace(QChar c)
{
    const char16_t u = c.unicode();
    if (u == u'\t' || u == u'\n' || u == u'\f' || u == u'\r')
        return true;
    if (u < 0x80)
        return u == u' ';
    const QChar::Category category = c.category();
    return category == QChar::Separator_Space || category == QChar::Separator_Line
           || category == QChar::Separator_Paragraph;
}

QString removingRegexWhitespace(QStringView text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        if (!isRegexWhitespace(c))
            out.append(c);
    }
    return out;
}

} // namespace pendrel::text
