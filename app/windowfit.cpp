#include "windowfit.h"

#include <QtGlobal>

QRect WindowFit::within(const QRect& available, const QPoint& pos, const QSize& size, const QSize& frame)
{
    // At least one pixel of client, however small the area or large the frame.
    const QSize room = (available.size() - frame).expandedTo(QSize(1, 1));
    const QSize client = size.boundedTo(room).expandedTo(QSize(1, 1));
    const QSize outer = client + frame;
    // Moved in from the right and bottom edges first, so that the top-left corner (title
    // bar, menu) stays reachable when the frame alone is larger than the area.
    const int x = qMax(available.left(), qMin(pos.x(), available.left() + available.width() - outer.width()));
    const int y = qMax(available.top(), qMin(pos.y(), available.top() + available.height() - outer.height()));
    return QRect(QPoint(x, y), client);
}
