// The update feed: parsed into releases for this system or refused with
// AppcastError; the newest of what it offers is one of them.

#include "FuzzTarget.h"
#include "shell/Appcast.h"

#include <QUrl>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    using namespace pendrel;
    try {
        const QList<AppcastItem> items =
            Appcast::parse(fuzz::bytes(data, size), QUrl(QStringLiteral("https://pendrel.com/macos/appcast.xml")));
        const std::optional<AppcastItem> best = Appcast::newest(items);
        fuzz::require(best.has_value() == !items.isEmpty(), "the newest release is one of those offered");
    } catch (const Error &) {
    }
    return 0;
}
