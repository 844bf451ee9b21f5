#include "shell/PanelPlacement.h"

#include <algorithm>

namespace pendrel {

namespace {

constexpr int kGap = 4; // between the icon and the panel

int clamp(int value, int low, int high)
{
    return high < low ? low : std::clamp(value, low, high);
}

bool isKnown(const std::optional<QRect> &icon)
{
    return icon && icon->isValid() && !icon->isEmpty();
}

QPoint anchorOf(const std::optional<QRect> &icon, QPoint cursor)
{
    // QRect::center() rounds down by one pixel for even sizes.
    return isKnown(icon) ? QPoint(icon->x() + icon->width() / 2, icon->y() + icon->height() / 2) : cursor;
}

} // namespace

int roomForPanel(std::optional<QRect> iconGeometry, QPoint cursor, QRect available)
{
    if (!isKnown(iconGeometry))
        return available.height();
    const bool upperHalf = anchorOf(iconGeometry, cursor).y() < available.center().y();
    const int room = upperHalf ? available.bottom() - iconGeometry->bottom() - kGap
                               : iconGeometry->top() - kGap - available.top();
    return std::clamp(room, 1, available.height());
}

QRect placePanel(QSize panel, std::optional<QRect> iconGeometry, QPoint cursor, QRect available)
{
    const bool knownIcon = isKnown(iconGeometry);
    const QPoint anchor = anchorOf(iconGeometry, cursor);
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
