#pragma once

#include <QColor>
#include <QIcon>

#include <optional>

namespace pendrel {

// The tray icon's pictures, drawn from the brand symbol at 18 by 18 (and at
// twice that for dense screens).
namespace StatusIconImages {
// The plain symbol; the theme's document icon when the image is missing.
QIcon plain();
// Only the symbol's opaque pixels take the colour (source-atop).
QIcon tinted(const QColor &color);
bool hasBrandImage();
} // namespace StatusIconImages

} // namespace pendrel
