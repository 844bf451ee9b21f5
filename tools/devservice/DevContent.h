#pragma once

#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <functional>

// The writing the local service does: deterministic stand-ins for the real
// service's models, good enough to see every part of the application work.
namespace pendrel::dev::content {

// The text with every lone surrogate replaced by U+FFFD. Qt's regular
// expressions refuse such text and report "no match", which would leave a
// script in a page or a title unslugged; every text goes through this before
// one of them looks at it. (Their patterns repeat single characters only,
// which needs no backtracking memory, so that is their only way to fail.)
QString wellFormed(const QString &text);

// Readable text of an HTML page: scripts and styles dropped, tags removed,
// entities decoded, blank runs collapsed.
QString htmlToText(const QString &html);

// Categories, audiences and problems guessed from the words of the text.
QJsonObject analyze(const QString &text);

struct TransformOptions {
    QString language = QStringLiteral("en");
    QString articleSize = QStringLiteral("mini");
    QString seoMode = QStringLiteral("auto");
    QStringList competitionInsights; // the options switched on
    QString targetDomain;
    QString linksPresetID;
};
// The transformation answer: a Markdown article with a "# " title line,
// sections, citations, scores and SEO metadata.
QJsonObject transform(const QString &text, const QStringList &categories, const TransformOptions &options);

// Light rewording that keeps the Markdown structure.
QString humanize(const QString &content);

// The article with `count` image lines inserted after its sections'
// headings (or its first paragraph); `imageURL(n)` names image n.
QString withImages(const QString &content, int count, const std::function<QString(int)> &imageURL);

// A simple, deterministic picture for image `n` of a generation.
QByteArray illustrationSVG(const QString &generationID, int n);

// Markdown to a small HTML page.
QString articlePage(const QString &title, const QString &markdown);

// Sample source pages for offline extraction, by name; empty when unknown.
QString samplePage(const QString &name);
QStringList sampleNames();

// HTML escaping for the pages.
QString escape(const QString &text);

} // namespace pendrel::dev::content
