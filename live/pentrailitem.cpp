#include "pentrailitem.h"

#include <QColor>
#include <QPainter>
#include <QPen>
#include <QPolygonF>

#include <utility>

namespace {

const QColor MarkerColour(200, 30, 30);
constexpr qreal TrailWidth = 2;
constexpr qreal OutlineWidth = 1;
// The oldest trail segment keeps a trace of colour, the newest nearly all of it.
constexpr qreal OldestAlpha = 0.12;
constexpr qreal NewestAlpha = 0.8;
// Drawn over the frame and the calibrated area.
constexpr qreal AboveTheArea = 10;

} // namespace

PenTrailItem::PenTrailItem()
{
    setZValue(AboveTheArea);
}

void PenTrailItem::setPoints(const QVector<QPointF>& points)
{
    QVector<QPointF> kept = points.mid(qMax(0, points.size() - MaxPoints));
    if (kept == m_points)
        return;
    // Every point's, not a union of empty rectangles: that keeps only the last point, and
    // the trail drawn outside it is never erased.
    const QRectF bounds = QPolygonF(kept).boundingRect();
    // Room for the marker and the pens around the outermost points.
    const qreal grow = MarkerRadius + OutlineWidth + TrailWidth;
    prepareGeometryChange();
    m_points = std::move(kept);
    m_bounds = m_points.isEmpty() ? QRectF() : bounds.adjusted(-grow, -grow, grow, grow);
}

QRectF PenTrailItem::boundingRect() const
{
    return m_bounds;
}

void PenTrailItem::paint(QPainter* painter, const QStyleOptionGraphicsItem*, QWidget*)
{
    if (m_points.isEmpty())
        return;
    painter->setRenderHint(QPainter::Antialiasing);
    const int segments = m_points.size() - 1;
    for (int i = 0; i < segments; ++i) {
        QColor colour = MarkerColour;
        const qreal age = segments > 1 ? qreal(segments - 1 - i) / (segments - 1) : 0;
        colour.setAlphaF(NewestAlpha - (NewestAlpha - OldestAlpha) * age);
        painter->setPen(QPen(colour, TrailWidth, Qt::SolidLine, Qt::RoundCap));
        painter->drawLine(m_points.at(i), m_points.at(i + 1));
    }
    painter->setPen(QPen(Qt::white, OutlineWidth));
    painter->setBrush(MarkerColour);
    painter->drawEllipse(m_points.last(), MarkerRadius, MarkerRadius);
}
