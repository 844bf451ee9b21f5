#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

#include <optional>

namespace pendrel {

// Where the panel goes: next to the tray icon when the tray reports where it
// is, otherwise against the screen edge nearest the cursor (the top or the
// bottom, where panels live), horizontally centred on the icon or cursor;
// always inside the available area (a panel taller than the area starts at
// its top).
QRect placePanel(QSize panel, std::optional<QRect> iconGeometry, QPoint cursor, QRect available);
// The height a panel placed as above can have without covering the icon: the
// area's height on the icon's open side (all of it where the icon is unknown).
int roomForPanel(std::optional<QRect> iconGeometry, QPoint cursor, QRect available);

} // namespace pendrel
