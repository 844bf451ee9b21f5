#include "shell/PanelPlacement.h"

#include <algorithm>

namespace pendrel {

namespace {

constexpr int kGap = 4; // between the icon and the panel

int clamp(int value, int low, int high)
{
    return high < low ? low : std::clamp(value, low, high);
}

} // namespace

QRect placePanel(QSize panel, std::optional<QRect> iconGeometry, QPoint cursor, QRect available)
{
    const bool knownIcon = iconGeometry && iconGeometry->isValid() && !iconGeometry->isEmpty();
    // QRect::center() rounds down by one pixel for even sizes.
    const QPoint anchor = knownIcon ? QPoint(iconGeometry->x() + iconGeometry->width() / 2,
                                             iconGeometry->y() + iconGeometry->height() / 2)
                                    : cursor;
    const bool upperHalf = anchor.y() < available.center().y();
    int y;
    if (knownIcon)
        y = upperHalf ? iconGeometry->bottom() + 1 + kGap : iconGeometry->top() - kGap - panel.height();
    else
        y = upperHalf ? available.top() : available.bottom() + 1 - panel.height();
    const int x = anchor.x() - panel.width() / 2;
    return QRect(QPoint(clamp(x, available.left(), available.right() + 1 - panel.width()),
                        clamp(y, available.top(), available.bottom() + 1 - panel.height())),
                 panel);
}

} // namespace pendrel
