#include "shell/Appcast.h"

#include "shell/VersionComparison.h"
#include "support/Text.h"

#include <QXmlStreamReader>

namespace pendrel {

QString AppcastItem::offeredVersion() const
{
    const QString display = text::trimmed(displayVersionString);
    return display.isEmpty() ? versionString : display;
}

std::optional<QUrl> AppcastItem::downloadURL() const
{
    if (enclosure)
        return enclosure->url;
    return infoURL;
}

namespace Appcast {

namespace {

// An absolute web address, resolved against the feed's; anything else
// (javascript:, file:, a bare word) is dropped rather than opened later.
std::optional<QUrl> webAddress(const QString &text, const QUrl &base)
{
    const QString trimmed = text::trimmed(text);
    if (trimmed.isEmpty())
        return std::nullopt;
    const QUrl url = base.resolved(QUrl(trimmed));
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || url.host().isEmpty() || (scheme != u"http" && scheme != u"https"))
        return std::nullopt;
    return url;
}

bool isSparkle(const QXmlStreamReader &xml, QStringView name)
{
    return xml.namespaceUri() == sparkleNamespace && xml.name() == name;
}

bool isPlain(const QXmlStreamReader &xml, QStringView name)
{
    return xml.namespaceUri().isEmpty() && xml.name() == name;
}

QString elementText(QXmlStreamReader &xml)
{
    return xml.readElementText(QXmlStreamReader::SkipChildElements);
}

struct EnclosureCandidate {
    AppcastEnclosure enclosure;
    QString version;
    QString shortVersion;
};

// Why an item was left out, for the message when nothing is left.
struct Skipped {
    int otherSystem = 0;
    int withoutVersion = 0;
};

// Reads the <item> the reader stands on; nothing when it is not for us.
std::optional<AppcastItem> readItem(QXmlStreamReader &xml, const QUrl &feedURL, Skipped &skipped)
{
    AppcastItem item;
    std::optional<QString> version;
    std::optional<QString> shortVersion;
    std::optional<EnclosureCandidate> chosen;
    bool hadEnclosure = false;
    bool inChannel = false;
    while (xml.readNextStartElement()) {
        if (isPlain(xml, u"title")) {
            item.title = text::trimmed(elementText(xml));
        } else if (isPlain(xml, u"link")) {
            item.infoURL = webAddress(elementText(xml), feedURL);
        } else if (isSparkle(xml, u"version")) {
            version = elementText(xml);
        } else if (isSparkle(xml, u"shortVersionString")) {
            shortVersion = elementText(xml);
        } else if (isSparkle(xml, u"releaseNotesLink")) {
            item.releaseNotesURL = webAddress(elementText(xml), feedURL);
        } else if (isSparkle(xml, u"channel")) {
            inChannel = !text::trimmed(elementText(xml)).isEmpty();
        } else if (isPlain(xml, u"enclosure")) {
            hadEnclosure = true;
            const QXmlStreamAttributes attributes = xml.attributes();
            const QString sparkle = sparkleNamespace.toString();
            EnclosureCandidate candidate;
            const QString os = text::trimmed(attributes.value(sparkle, QStringLiteral("os")).toString());
            if (!os.isEmpty())
                candidate.enclosure.os = os;
            candidate.enclosure.type = attributes.value(QLatin1String("type")).toString();
            candidate.enclosure.length = attributes.value(QLatin1String("length")).toLongLong();
            candidate.version = attributes.value(sparkle, QStringLiteral("version")).toString();
            candidate.shortVersion = attributes.value(sparkle, QStringLiteral("shortVersionString")).toString();
            const auto url = webAddress(attributes.value(QLatin1String("url")).toString(), feedURL);
            xml.skipCurrentElement();
            const bool forUs = !candidate.enclosure.os || candidate.enclosure.os->toLower() == thisSystem;
            if (!url || !forUs)
                continue;
            candidate.enclosure.url = *url;
            // One that names this system wins over one for any system.
            if (!chosen || (candidate.enclosure.os && !chosen->enclosure.os))
                chosen = candidate;
        } else {
            // Including the macOS system-version bounds, which mean nothing here.
            xml.skipCurrentElement();
        }
    }
    if (xml.hasError() || inChannel)
        return std::nullopt;
    if (hadEnclosure && !chosen) {
        ++skipped.otherSystem;
        return std::nullopt;
    }
    if (!version && chosen && !chosen->version.isEmpty())
        version = chosen->version;
    if (!shortVersion && chosen && !chosen->shortVersion.isEmpty())
        shortVersion = chosen->shortVersion;
    item.versionString = text::trimmed(version.value_or(QString()));
    if (item.versionString.isEmpty()) {
        ++skipped.withoutVersion;
        return std::nullopt;
    }
    item.displayVersionString = shortVersion.value_or(item.versionString);
    if (chosen)
        item.enclosure = chosen->enclosure;
    return item;
}

} // namespace

QList<AppcastItem> parse(const QByteArray &document, const QUrl &feedURL)
{
    if (document.trimmed().isEmpty())
        throw AppcastError(QStringLiteral("The update feed is empty."));
    QXmlStreamReader xml(document);
    QList<AppcastItem> items;
    Skipped skipped;
    int seen = 0;
    if (xml.readNextStartElement()) {
        if (!isPlain(xml, u"rss"))
            throw AppcastError(QStringLiteral("The update feed is not an RSS feed."));
        while (xml.readNextStartElement()) {
            if (!isPlain(xml, u"channel")) {
                xml.skipCurrentElement();
                continue;
            }
            while (xml.readNextStartElement()) {
                if (!isPlain(xml, u"item")) {
                    xml.skipCurrentElement();
                    continue;
                }
                ++seen;
                if (auto item = readItem(xml, feedURL, skipped))
                    items.append(std::move(*item));
            }
        }
    }
    if (xml.hasError())
        throw AppcastError(QStringLiteral("The update feed is not valid XML: %1 (line %2).")
                               .arg(xml.errorString())
                               .arg(xml.lineNumber()));
    if (!items.isEmpty())
        return items;
    if (seen == 0)
        throw AppcastError(QStringLiteral("The update feed lists no releases."));
    if (skipped.withoutVersion > 0)
        throw AppcastError(QStringLiteral("The update feed lists releases without a version number."));
    throw AppcastError(QStringLiteral("The update feed lists no release for Linux."));
}

std::optional<AppcastItem> newest(const QList<AppcastItem> &items)
{
    const AppcastItem *best = nullptr;
    for (const AppcastItem &item : items)
        if (!best || VersionComparison::compare(item.versionString, best->versionString) > 0)
            best = &item;
    if (!best)
        return std::nullopt;
    return *best;
}

} // namespace Appcast

} // namespace pendrel
