#pragma once

#include <QUrl>

namespace pendrel {

// Opens a web address in the user's default browser.
class UrlOpener {
public:
    virtual ~UrlOpener() = default;
    virtual void open(const QUrl &url) = 0;
};

} // namespace pendrel
