#include "DevContent.h"

#include "support/Text.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QRegularExpression>

#include <functional>

namespace pendrel::dev::content {

using L = QLatin1StringView;

namespace {

// Sentences of the text, in order, trimmed and without empties.
QStringList sentences(const QString &text)
{
    static const QRegularExpression end(QStringLiteral("(?<=[.!?])\\s+|\\n+"));
    QStringList out;
    for (const QString &s : wellFormed(text).split(end)) {
        const QString t = text::trimmed(s);
        if (!t.isEmpty() && !t.startsWith(QStringLiteral("Source:"))
            && !t.startsWith(QStringLiteral("Author:")))
            out << t;
    }
    return out;
}

// The address on the "Source:" line the client puts above the text.
QString sourceLine(const QString &text)
{
    static const QRegularExpression source(QStringLiteral("^Source: (\\S+)"),
                                           QRegularExpression::MultilineOption);
    const auto m = source.match(wellFormed(text));
    return m.hasMatch() ? m.captured(1) : QString();
}

QString headingFor(const QString &language, const char *english)
{
    // A few languages get their own section names; the rest stay English.
    static const QHash<QString, QHash<QString, QString>> table{
        {QStringLiteral("de"),
         {{QStringLiteral("Overview"), QStringLiteral("Überblick")},
          {QStringLiteral("Key points"), QStringLiteral("Das Wichtigste")},
          {QStringLiteral("In detail"), QStringLiteral("Im Detail")},
          {QStringLiteral("Takeaways"), QStringLiteral("Fazit")}}},
        {QStringLiteral("fr"),
         {{QStringLiteral("Overview"), QStringLiteral("Aperçu")},
          {QStringLiteral("Key points"), QStringLiteral("Points clés")},
          {QStringLiteral("In detail"), QStringLiteral("En détail")},
          {QStringLiteral("Takeaways"), QStringLiteral("À retenir")}}},
        {QStringLiteral("es"),
         {{QStringLiteral("Overview"), QStringLiteral("Resumen")},
          {QStringLiteral("Key points"), QStringLiteral("Puntos clave")},
          {QStringLiteral("In detail"), QStringLiteral("En detalle")},
          {QStringLiteral("Takeaways"), QStringLiteral("Conclusiones")}}},
    };
    const QString key = QString::fromLatin1(english);
    return table.value(language.section(u'-', 0, 0)).value(key, key);
}

QString titleFrom(const QStringList &parts)
{
    QString first = parts.isEmpty() ? QStringLiteral("Untitled notes") : parts.first();
    while (!first.isEmpty() && QStringLiteral(".!?:;").contains(first.back()))
        first.chop(1);
    const QStringList words = first.split(u' ', Qt::SkipEmptyParts);
    QString title = words.mid(0, 9).join(u' ');
    if (!title.isEmpty())
        title[0] = title[0].toUpper();
    return title;
}

} // namespace

QString wellFormed(const QString &text)
{
    if (QStringView(text).isValidUtf16())
        return text;
    QString out = text;
    for (qsizetype i = 0; i < out.size(); ++i) {
        if (out[i].isHighSurrogate() && i + 1 < out.size() && out[i + 1].isLowSurrogate())
            ++i;
        else if (out[i].isSurrogate())
            out[i] = QChar::ReplacementCharacter;
    }
    return out;
}

QString htmlToText(const QString &html)
{
    static const QRegularExpression dropped(QStringLiteral("<(script|style|noscript)[^>]*>.*?</\\1>"),
                                            QRegularExpression::CaseInsensitiveOption
                                                | QRegularExpression::DotMatchesEverythingOption);
    static const QRegularExpression blocks(QStringLiteral("</?(p|div|br|h[1-6]|li|tr|section|article)[^>]*>"),
                                           QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression tags(QStringLiteral("<[^>]+>"));
    static const QRegularExpression blankLines(QStringLiteral("\\n\\s*\\n+"));
    static const QRegularExpression spaces(QStringLiteral("[ \\t]+"));
    QString text = wellFormed(html);
    text.remove(dropped);
    text.replace(blocks, QStringLiteral("\n"));
    text.remove(tags);
    text.replace(QStringLiteral("&nbsp;"), QStringLiteral(" "));
    text.replace(QStringLiteral("&lt;"), QStringLiteral("<"));
    text.replace(QStringLiteral("&gt;"), QStringLiteral(">"));
    text.replace(QStringLiteral("&quot;"), QStringLiteral("\""));
    text.replace(QStringLiteral("&#39;"), QStringLiteral("'"));
    text.replace(QStringLiteral("&amp;"), QStringLiteral("&"));
    text.replace(spaces, QStringLiteral(" "));
    text.replace(blankLines, QStringLiteral("\n\n"));
    return text::trimmed(text);
}

QJsonObject analyze(const QString &text)
{
    static const QList<QPair<QString, QStringList>> topics{
        {QStringLiteral("Technology"),
         {QStringLiteral("software"), QStringLiteral("code"), QStringLiteral("build"),
          QStringLiteral("computer"), QStringLiteral("app"), QStringLiteral("data")}},
        {QStringLiteral("Business"),
         {QStringLiteral("market"), QStringLiteral("customer"), QStringLiteral("sales"),
          QStringLiteral("price"), QStringLiteral("team"), QStringLiteral("company")}},
        {QStringLiteral("Health"),
         {QStringLiteral("health"), QStringLiteral("sleep"), QStringLiteral("food"),
          QStringLiteral("exercise"), QStringLiteral("doctor")}},
        {QStringLiteral("Travel"),
         {QStringLiteral("travel"), QStringLiteral("city"), QStringLiteral("trip"), QStringLiteral("train"),
          QStringLiteral("hotel")}},
        {QStringLiteral("Science"),
         {QStringLiteral("research"), QStringLiteral("study"), QStringLiteral("energy"),
          QStringLiteral("climate"), QStringLiteral("experiment")}},
    };
    const QString lower = text.toLower();
    QJsonArray categories;
    for (const auto &[name, words] : topics) {
        if (std::any_of(words.begin(), words.end(), [&](const QString &w) { return lower.contains(w); }))
            categories.append(name);
    }
    if (categories.isEmpty())
        categories.append(QStringLiteral("General"));
    const qsizetype words = text::wordCount(text);
    QJsonArray age{words > 400 ? QStringLiteral("25-54") : QStringLiteral("18-34")};
    QJsonArray problems;
    if (lower.contains(QStringLiteral("slow")) || lower.contains(QStringLiteral("time")))
        problems.append(QStringLiteral("Not enough time"));
    if (lower.contains(QStringLiteral("cost")) || lower.contains(QStringLiteral("price")))
        problems.append(QStringLiteral("Keeping costs down"));
    return QJsonObject{{L("categories"), categories}, {L("age"), age}, {L("problems"), problems}};
}

QJsonObject transform(const QString &text, const QStringList &categories, const TransformOptions &options)
{
    const QStringList parts = sentences(text);
    const QString title = titleFrom(parts);
    const int depth = options.articleSize == u"pillar"     ? 4
                      : options.articleSize == u"full"     ? 3
                      : options.articleSize == u"standard" ? 2
                                                           : 1;
    const QString topic = categories.isEmpty() ? QStringLiteral("this topic") : categories.first().toLower();
    QStringList md;
    md << QStringLiteral("# ") + title << QString();
    md << QStringLiteral("## ") + headingFor(options.language, "Overview") << QString();
    md << (parts.mid(0, 3).join(u' ').isEmpty() ? title : parts.mid(0, 3).join(u' ')) << QString();
    md << QStringLiteral("## ") + headingFor(options.language, "Key points") << QString();
    for (const QString &s : parts.mid(0, 2 + 2 * depth))
        md << QStringLiteral("- ") + s;
    md << QString();
    for (int section = 1; section < depth; ++section) {
        md << QStringLiteral("## ") + headingFor(options.language, "In detail")
                  + QStringLiteral(" (%1)").arg(section)
           << QString();
        md << QStringLiteral("Looking closer at %1, the source makes a further point: %2")
                  .arg(topic, parts.value(section + 2, title))
           << QString();
    }
    if (!options.competitionInsights.isEmpty()) {
        md << QStringLiteral("## What others miss") << QString();
        for (const QString &insight : options.competitionInsights)
            md << QStringLiteral("- %1 compared with %2")
                      .arg(insight, options.targetDomain.isEmpty() ? QStringLiteral("the top results")
                                                                   : options.targetDomain);
        md << QString();
    }
    if (options.seoMode != u"auto") {
        md << QStringLiteral("## Frequently asked questions") << QString();
        md << QStringLiteral("**What is this about?** ") + title + u'.' << QString();
    }
    if (!options.linksPresetID.isEmpty()) {
        md << QStringLiteral("## Related reading") << QString();
        md << QStringLiteral("- [More from the archive](/blog?preset=%1)").arg(options.linksPresetID)
           << QString();
    }
    md << QStringLiteral("## ") + headingFor(options.language, "Takeaways") << QString();
    md << QStringLiteral("In short: %1.").arg(title);

    const QString source = sourceLine(text);
    QJsonArray citations;
    if (!source.isEmpty())
        citations.append(QJsonObject{{L("url"), source}, {L("title"), title}});
    const qsizetype words = text::wordCount(text);
    const double quality = std::min(98.0, 60.0 + double(words % 30) + 4.0 * depth);
    return QJsonObject{
        {L("transformedContent"), md.join(u'\n')},
        {L("citations"), citations},
        {L("talentIntegrations"), QJsonArray()},
        {L("qualityScore"), quality},
        {L("seoScore"), std::min(100, 70 + depth * 5 + (options.seoMode == u"auto" ? 0 : 5))},
        {L("seoMeta"), QJsonObject{{L("title"), title},
                                   {L("description"), parts.value(0, title).left(155)},
                                   {L("keywords"), categories.join(QStringLiteral(", "))}}},
    };
}

QString humanize(const QString &content)
{
    static const QList<QPair<QString, QString>> swaps{
        {QStringLiteral("In short:"), QStringLiteral("All in all,")},
        {QStringLiteral("utilize"), QStringLiteral("use")},
        {QStringLiteral("Looking closer at"), QStringLiteral("If you look more closely at")},
        {QStringLiteral("the source makes a further point:"),
         QStringLiteral("there is one more thing worth saying:")},
    };
    QString out = content;
    for (const auto &[from, to] : swaps)
        out.replace(from, to);
    return out;
}

QString withImages(const QString &content, int count, const std::function<QString(int)> &imageURL)
{
    QStringList lines = content.split(u'\n');
    int placed = 0;
    for (qsizetype i = 0; i < lines.size() && placed < count; ++i) {
        if (lines[i].startsWith(QStringLiteral("## "))) {
            lines.insert(i + 1, QString());
            lines.insert(i + 2,
                         QStringLiteral("![Illustration %1](%2)").arg(placed + 1).arg(imageURL(placed + 1)));
            ++placed;
            i += 2;
        }
    }
    for (; placed < count; ++placed)
        lines << QString()
              << QStringLiteral("![Illustration %1](%2)").arg(placed + 1).arg(imageURL(placed + 1));
    return lines.join(u'\n');
}

QByteArray illustrationSVG(const QString &generationID, int n)
{
    const QByteArray hash =
        QCryptographicHash::hash((generationID + QString::number(n)).toUtf8(), QCryptographicHash::Sha256);
    const auto colour = [&](int at) {
        return QStringLiteral("#%1%2%3")
            .arg(quint8(hash[at]), 2, 16, QLatin1Char('0'))
            .arg(quint8(hash[at + 1]), 2, 16, QLatin1Char('0'))
            .arg(quint8(hash[at + 2]), 2, 16, QLatin1Char('0'));
    };
    QString svg = QStringLiteral("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"960\" height=\"540\" "
                                 "viewBox=\"0 0 960 540\"><rect width=\"960\" height=\"540\" fill=\"%1\"/>")
                      .arg(colour(0));
    for (int i = 0; i < 5; ++i) {
        svg += QStringLiteral("<circle cx=\"%1\" cy=\"%2\" r=\"%3\" fill=\"%4\" fill-opacity=\"0.7\"/>")
                   .arg(quint8(hash[3 + i]) * 960 / 255)
                   .arg(quint8(hash[8 + i]) * 540 / 255)
                   .arg(40 + quint8(hash[13 + i]) % 160)
                   .arg(colour(18 + i));
    }
    svg += QStringLiteral(
               "<text x=\"40\" y=\"500\" font-family=\"sans-serif\" font-size=\"28\" fill=\"#ffffff\">"
               "Illustration %1</text></svg>")
               .arg(n);
    return svg.toUtf8();
}

QString escape(const QString &text)
{
    return text.toHtmlEscaped();
}

QString articlePage(const QString &title, const QString &markdown)
{
    static const QRegularExpression image(QStringLiteral("^!\\[([^\\]]*)\\]\\(([^)]+)\\)$"));
    static const QRegularExpression link(QStringLiteral("\\[([^\\]]+)\\]\\(([^)]+)\\)"));
    QString body;
    bool inList = false;
    for (const QString &line : wellFormed(markdown).split(u'\n')) {
        const bool item = line.startsWith(QStringLiteral("- "));
        if (inList && !item) {
            body += QStringLiteral("</ul>\n");
            inList = false;
        }
        QString html = escape(line);
        html.replace(link, QStringLiteral("<a href=\"\\2\">\\1</a>"));
        if (const auto m = image.match(line); m.hasMatch()) {
            body += QStringLiteral("<p><img src=\"%1\" alt=\"%2\" width=\"480\"></p>\n")
                        .arg(escape(m.captured(2)), escape(m.captured(1)));
        } else if (line.startsWith(QStringLiteral("# "))) {
            body += QStringLiteral("<h1>%1</h1>\n").arg(html.mid(2));
        } else if (line.startsWith(QStringLiteral("## "))) {
            body += QStringLiteral("<h2>%1</h2>\n").arg(html.mid(3));
        } else if (item) {
            if (!inList)
                body += QStringLiteral("<ul>\n");
            inList = true;
            body += QStringLiteral("<li>%1</li>\n").arg(html.mid(2));
        } else if (!line.trimmed().isEmpty()) {
            body += QStringLiteral("<p>%1</p>\n").arg(html);
        }
    }
    if (inList)
        body += QStringLiteral("</ul>\n");
    return QStringLiteral("<!doctype html><html><head><meta charset=\"utf-8\"><title>%1</title>"
                          "<style>body{font-family:sans-serif;max-width:44em;margin:2em auto;line-height:1.5;"
                          "padding:0 1em}</style></head><body>%2</body></html>")
        .arg(escape(title), body);
}

QStringList sampleNames()
{
    return {QStringLiteral("fast-builds"), QStringLiteral("city-trains")};
}

QString samplePage(const QString &name)
{
    if (name == u"fast-builds")
        return QStringLiteral(
            "<!doctype html><html><head><title>Why fast builds matter</title><script>var x=1;</script></head>"
            "<body><article><h1>Why fast builds matter</h1>"
            "<p>Teams that wait for slow builds lose focus many times a day. Every minute spent waiting is a "
            "minute of lost time that compounds across a team.</p>"
            "<p>Caching compiled code, splitting large modules and running tests in parallel are the three "
            "changes "
            "that pay back fastest. A build that finishes in under a minute keeps developers in flow.</p>"
            "<p>Measure first: record how long each step of the build takes, then fix the slowest step. "
            "Software "
            "teams that do this every quarter keep their builds fast as the code grows.</p>"
            "</article></body></html>");
    if (name == u"city-trains")
        return QStringLiteral("<!doctype html><html><head><title>Travelling by train</title></head><body>"
                              "<h1>Seeing a city by train</h1><p>Travel by train lets you arrive in the "
                              "middle of a city, rested and "
                              "on time. Night trains save the cost of a hotel.</p><p>Book early for the best "
                              "price, and pick a seat "
                              "on the side with the view.</p></body></html>");
    return {};
}

} // namespace pendrel::dev::content
