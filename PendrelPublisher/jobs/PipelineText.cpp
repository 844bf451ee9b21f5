#include "jobs/PipelineText.h"

#include "support/Text.h"


namespace pendrel {

QString mergeSourcePrefix(const QString &text, const QString &sourceURL, const QString &author)
{
    QString prefix;
    if (!sourceURL.isEmpty())
        prefix += QStringLiteral("Source: ") + sourceURL + u'\n';
    if (!author.isEmpty())
        prefix += QStringLiteral("Author: ") + author + u'\n';
    return prefix.isEmpty() ? text : prefix + u'\n' + text;
}

QString extractTitle(const QString &content)
{
    // Lines end at a line feed; "\r\n" is one character that is not a line
    // feed, so it does not end a line.
    qsizetype start = 0;
    std::optional<QString> first;
    for (qsizetype i = 0; i <= content.size() && !first; ++i) {
        const bool end = i == content.size();
        if (!end && (content[i] != u'\n' || (i > 0 && content[i - 1] == u'\r')))
            continue;
        const QString piece = text::trimmed(content.mid(start, i - start));
        if (!piece.isEmpty())
            first = piece;
        start = i + 1;
    }
    if (!first)
        return QStringLiteral("Untitled");
    if (!first->startsWith(u'#'))
        return text::characterPrefix(*first, 100);
    // Drop the heading marks and the blanks after them (what ^#+\s* matches).
    qsizetype from = 0;
    while (from < first->size() && first->at(from) == u'#')
        ++from;
    while (from < first->size() && text::isRegexWhitespace(first->at(from)))
        ++from;
    return text::characterPrefix(first->sliced(from), 100);
}

} // namespace pendrel
