#include "fittingscrollarea.h"

#include <QStyle>

FittingScrollArea::FittingScrollArea(QWidget* page, QWidget* parent)
    : QScrollArea(parent)
{
    setFrameShape(QFrame::NoFrame);
    setWidgetResizable(true);
    setWidget(page);
}

QSize FittingScrollArea::sizeHint() const
{
    // Room for a scroll bar on both sides too: the layout around may hand out a few pixels
    // less than asked for, and the page must still not need to scroll then.
    const int frame = 2 * frameWidth() + style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
    QSize page = widget() ? widget()->sizeHint().expandedTo(widget()->minimumSizeHint()) : QSize();
    return page.expandedTo(QSize(0, 0)) + QSize(frame, frame);
}
