#pragma once

#include <QGraphicsItem>
#include <QPointF>
#include <QRectF>
#include <QVector>

// The pen point in the live view's area drawing: a marker at the newest point and a
// short trail of the points before it that fades with age, so that a moving pen reads
// at a glance. Draws nothing without points.
class PenTrailItem : public QGraphicsItem
{
public:
    enum { Type = UserType + 1 };
    // Points kept: the newest and the ones before it, one per poll tick.
    static constexpr int MaxPoints = 8;
    static constexpr qreal MarkerRadius = 5;

    PenTrailItem();

    // Oldest first, newest last; only the last MaxPoints are kept.
    void setPoints(const QVector<QPointF>& points);
    const QVector<QPointF>& points() const { return m_points; }

    int type() const override { return Type; }
    QRectF boundingRect() const override;
    void paint(QPainter* painter, const QStyleOptionGraphicsItem* option, QWidget* widget) override;

private:
    QVector<QPointF> m_points;
    QRectF m_bounds;
};
