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

} // namespace pendrel
