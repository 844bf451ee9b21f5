#pragma once

#include <QColor>
#include <QIcon>
#include <QImage>
#include <QString>

#include <optional>

namespace pendrel {

// A mark in the icon's corner that tells the states apart by shape, not
// only by hue: a check mark, an exclamation mark, three dots while working.
enum class IconBadge { none, working, success, error };

// What the tray icon shows: the plain symbol, or the symbol tinted, with a
// badge (`frame` says which of the working dots is large).
struct IconLook {
    std::optional<QColor> tint; // none: the plain symbol
    IconBadge badge = IconBadge::none;
    int frame = 0;

    bool operator==(const IconLook &) const = default;
};

// The user's choice of tray icon: follow the panel, or a fixed look.
enum class TrayIconStyle { automatic, light, dark, colour };

// How the icon is drawn: light strokes (for dark panels), dark strokes (for
// light panels), or the brand symbol with its state colours.
enum class TrayIconVariant { light, dark, colour };

// The tray icon's pictures, drawn from the brand symbol at 18 by 18 (and at
// twice that for dense screens).
namespace StatusIconImages {
// The plain symbol; the theme's document icon when the image is missing.
QIcon plain();
// Only the symbol's opaque pixels take the colour (source-atop).
QIcon tinted(const QColor &color);
bool hasBrandImage();

// The variant a style gives on a panel of colour `panel`: automatic takes
// whichever monochrome variant has the stronger contrast against it.
TrayIconVariant resolve(TrayIconStyle style, const QColor &panel);
// The stroke colour of a monochrome variant.
QColor strokeColor(TrayIconVariant variant);
QImage image(const IconLook &look, TrayIconVariant variant, int size);
QIcon icon(const IconLook &look, TrayIconVariant variant);

// The stored names of the styles ("automatic", "light", "dark", "colour").
QString styleName(TrayIconStyle style);
std::optional<TrayIconStyle> styleFromName(const QString &name);

// The application's own icon (the hicolor set it is installed with).
QIcon applicationIcon();
} // namespace StatusIconImages

} // namespace pendrel
