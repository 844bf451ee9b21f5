#pragma once

#include "platform/UrlOpener.h"

namespace pendrel {

// The desktop's default browser (xdg-open and friends, through Qt).
class DesktopUrlOpener final : public UrlOpener {
public:
    void open(const QUrl &url) override;
};

} // namespace pendrel
