#include "platform/DesktopUrlOpener.h"

#include <QDebug>
#include <QDesktopServices>

namespace pendrel {

void DesktopUrlOpener::open(const QUrl &url)
{
    if (!QDesktopServices::openUrl(url))
        qWarning().noquote() << "Could not open" << url.toString() << "in the browser";
}

} // namespace pendrel
