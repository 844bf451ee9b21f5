#pragma once

#include <QString>

#include <optional>

namespace pendrel {

// Reads the system clipboard's plain text. Rich text, images and file
// references are not looked at.
class ClipboardReader {
public:
    virtual ~ClipboardReader() = default;
    // Nothing when the clipboard offers no plain text at all.
    [[nodiscard]] virtual std::optional<QString> plainText() const = 0;
};

} // namespace pendrel
