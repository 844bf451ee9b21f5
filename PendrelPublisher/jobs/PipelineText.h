#pragma once

#include <QString>

namespace pendrel {

// The text the service analyses and transforms: "Source: " and "Author: "
// lines, when there is something to put in them, above the text.
QString mergeSourcePrefix(const QString &text, const QString &sourceURL, const QString &author);

// The article's title: its first non-blank line without a leading "#" run,
// at most 100 characters; "Untitled" for content without any text.
QString extractTitle(const QString &content);

} // namespace pendrel
