#include "fittingscrollarea.h"

FittingScrollArea::FittingScrollArea(QWidget* page, QWidget* parent)
    : QScrollArea(parent)
{
    setFrameShape(QFrame::NoFrame);
    setWidgetResizable(true);
    setWidget(page);
}

QSize FittingScrollArea::sizeHint() const
{
    const int frame = 2 * frameWidth();
    QSize page = widget() ? widget()->sizeHint().expandedTo(widget()->minimumSizeHint()) : QSize();
    return page.expandedTo(QSize(0, 0)) + QSize(frame, frame);
}
