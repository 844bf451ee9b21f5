#pragma once

#include "support/Error.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QUrl>

#include <optional>

namespace pendrel {

// The download of one release.
struct AppcastEnclosure {
    QUrl url;
    qint64 length = 0;
    QString type;
    std::optional<QString> os; // "sparkle:os"; absent means any system
};

// One release in the update feed.
struct AppcastItem {
    QString title;
    QString versionString;        // "sparkle:version", trimmed; what releases are ordered by
    QString displayVersionString; // "sparkle:shortVersionString" as written, else the version
    std::optional<QUrl> releaseNotesURL;
    std::optional<QUrl> infoURL; // the item's <link>
    std::optional<AppcastEnclosure> enclosure;

    // The version to show: the display version without surrounding white
    // space, or the plain version when that leaves nothing.
    [[nodiscard]] QString offeredVersion() const;
    // What "Download" opens: the enclosure, else the item's page.
    [[nodiscard]] std::optional<QUrl> downloadURL() const;
};

// A feed that cannot be used; the description says why, for the user.
class AppcastError : public MessageError {
public:
    using MessageError::MessageError;
};

// The RSS update feed, read by namespace (any prefix bound to the feed
// vocabulary's namespace works; a "sparkle:" prefix bound elsewhere does
// not). Addresses are resolved against the feed's own address and kept only
// when they are web addresses.
namespace Appcast {

inline constexpr QStringView sparkleNamespace = u"http://www.andymatuschak.org/xml-namespaces/sparkle";
// The value of "sparkle:os" that names this system.
inline constexpr QStringView thisSystem = u"linux";

// The releases offered to this system: items for another system or for a
// named channel (beta testers), and items without a version, are left out.
// Throws AppcastError when the document is not an RSS feed or offers no
// release this system can use.
QList<AppcastItem> parse(const QByteArray &document, const QUrl &feedURL);

// The newest item, or nothing when the list is empty.
std::optional<AppcastItem> newest(const QList<AppcastItem> &items);

} // namespace Appcast

} // namespace pendrel
