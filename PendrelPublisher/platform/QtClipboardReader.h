#pragma once

#include "platform/ClipboardReader.h"

namespace pendrel {

// The desktop clipboard (the Ctrl+C one, not the X11 primary selection).
// Needs a QGuiApplication.
class QtClipboardReader final : public ClipboardReader {
public:
    [[nodiscard]] std::optional<QString> plainText() const override;
};

} // namespace pendrel
