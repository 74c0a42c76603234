#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

// Where a top-level window goes: whole within its screen's available area (no part under
// a panel or past an edge), never larger than that area, moved in rather than cut off.
class WindowFit
{
public:
    // The window's position (its frame's top-left) and its client size, for a window that
    // asks for `size` at `pos` and whose frame adds `frame` to its size, within `available`.
    static QRect within(const QRect& available, const QPoint& pos, const QSize& size, const QSize& frame);
};
