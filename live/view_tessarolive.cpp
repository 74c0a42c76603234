#include "view_tessarolive.h"

#include "largetext.h"
#include "pentrailitem.h"
#include "app/plainlabel.h"
#include "device/untrustedtext.h"

#include <QBrush>
#include <QColor>
#include <QFontMetrics>
#include <QGraphicsPixmapItem>
#include <QGraphicsScene>
#include <QGraphicsView>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPen>
#include <QPolygonF>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdlib>
#include <utility>

namespace {

const char* const PictureStyle = "border-style: none; background: transparent";
constexpr int SceneWidth = 420;
constexpr int SceneHeight = 320;
constexpr int GroupStretch = 100;

QLabel* valueLabel()
{
    auto* label = new PlainLabel;
    LargeText::enlarge(label, LargeText::ValueScale);
    return label;
}

QPen outline(const QColor& colour)
{
    return QPen(QBrush(colour), 1, Qt::SolidLine, Qt::RoundCap, Qt::BevelJoin);
}

} // namespace

view_tessarolive::view_tessarolive(QWidget* parent)
    : QWidget(parent)
{
    xLabel = valueLabel();
    yLabel = valueLabel();
    sizeLabel = valueLabel();
    numberLabel = valueLabel();
    calStateLabel = new QLabel;
    calPointLabel = new PlainLabel;

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);

    areaScene = new QGraphicsScene(0, 0, SceneWidth, SceneHeight, this);
    areaView = new QGraphicsView(areaScene);
    areaView->setMinimumSize(SceneWidth, SceneHeight);
    areaView->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    areaView->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    layout->addWidget(areaView, 0);

    auto* pointGroup = new QGroupBox(tr("[live:sens]"));
    auto* pointGrid = new QGridLayout(pointGroup);
    pointGrid->addWidget(new QLabel(tr("[live:sens:x]") + QLatin1Char(':')), 0, 0);
    pointGrid->addWidget(xLabel, 0, 1);
    pointGrid->addWidget(new QLabel(tr("[live:sens:y]") + QLatin1Char(':')), 0, 2);
    pointGrid->addWidget(yLabel, 0, 3);
    pointGrid->addWidget(new QLabel(tr("[live:sens:size]") + QLatin1Char(':')), 1, 0);
    pointGrid->addWidget(sizeLabel, 1, 1);
    pointGrid->addWidget(new QLabel(tr("[live:sens:num]") + QLatin1Char(':')), 1, 2);
    pointGrid->addWidget(numberLabel, 1, 3);
    layout->addWidget(pointGroup);

    auto* calGroup = new QGroupBox(tr("[live:cal]"));
    auto* calGrid = new QGridLayout(calGroup);
    calGrid->addWidget(new QLabel(tr("[live:cal:state]") + QLatin1Char(':')), 0, 0);
    calGrid->addWidget(calStateLabel, 0, 1);
    calGrid->addWidget(new QLabel(tr("[live:cal:point]") + QLatin1Char(':')), 0, 2);
    calGrid->addWidget(calPointLabel, 0, 3);
    // Room for the longer state and a gap of one line height: a long word ("Abgeschlossen")
    // does not run into the point's caption, and a change of state does not move it.
    const QFontMetrics metrics(calStateLabel->font());
    calStateLabel->setMinimumWidth(qMax(metrics.horizontalAdvance(tr("[live:cal:running]")),
                                        metrics.horizontalAdvance(tr("[live:cal:done]")))
                                   + metrics.height());

    for (int i = 0; i < BatteryPicture::LevelCount; ++i)
        batteryPixmaps[i] = QPixmap(QLatin1String(BatteryPicture::file(static_cast<BatteryPicture::Level>(i))));
    batteryScene = new QGraphicsScene(0, 0, BatteryPicture::Width, BatteryPicture::Height, this);
    batteryItem = batteryScene->addPixmap(batteryPixmaps[BatteryPicture::Unknown]);
    batteryItem->setPos(0, 0);
    batteryItem->setRotation(0);
    batteryView = new QGraphicsView(batteryScene);
    batteryView->setMaximumSize(BatteryPicture::Width, BatteryPicture::Height);
    batteryView->setStyleSheet(QLatin1String(PictureStyle));
    auto* batteryGroup = new QGroupBox(tr("[live:penbattery]"));
    auto* batteryGrid = new QGridLayout(batteryGroup);
    batteryGrid->addWidget(batteryView, 0, 0);

    auto* stateRow = new QHBoxLayout;
    stateRow->addWidget(calGroup, GroupStretch);
    stateRow->addWidget(batteryGroup, 0);
    layout->addLayout(stateRow);
    layout->addStretch(GroupStretch);
}

void view_tessarolive::updatePoints(QString text)
{
    // A short text empties the labels of the fields it lacks.
    const QStringList fields = text.split(QLatin1Char(':'));
    xLabel->setText(UntrustedText::shown(fields.value(2)));
    yLabel->setText(UntrustedText::shown(fields.value(3)));
    sizeLabel->setText(UntrustedText::shown(fields.value(4)));
    numberLabel->setText(UntrustedText::shown(fields.value(5)));
    addPenPoint(fields);
}

void view_tessarolive::addPenPoint(const QStringList& fields)
{
    bool xOk = false;
    bool yOk = false;
    const int x = fields.value(2).toInt(&xOk);
    const int y = fields.value(3).toInt(&yOk);
    // 0 is the sensor's "no value"; anything that is no coordinate counts the same.
    if (!xOk || !yOk || x <= 0 || y <= 0) {
        penPoints.clear();
    } else {
        // Held to the range the corners are held to, so the mapping stays in the drawing.
        penPoints << QPoint(qMin(x, SensorWidth - 1), qMin(y, SensorWidth - 1));
        if (penPoints.size() > PenTrailItem::MaxPoints)
            penPoints.remove(0, penPoints.size() - PenTrailItem::MaxPoints);
    }
    showPenTrail();
}

QPointF view_tessarolive::areaPoint(const QPoint& sensorPoint) const
{
    int x = sensorPoint.x();
    int y = sensorPoint.y();
    if (axesSwapped)
        std::swap(x, y);
    if (xMirrored)
        x = SensorWidth - x;
    if (yMirrored)
        y = SensorHeight - y;
    // The corners' factor and truncation, so a pen on a corner sits on its drawn corner;
    // a point beyond the sensor's range stays on the frame.
    return QPointF(qBound(AreaMargin, x * AreaWidth / SensorWidth + AreaMargin, AreaMargin + AreaWidth),
                   qBound(AreaMargin, y * AreaWidth / SensorWidth + AreaMargin, AreaMargin + AreaHeight));
}

void view_tessarolive::showPenTrail()
{
    if (!penTrail) {
        if (penPoints.isEmpty())
            return;
        penTrail = new PenTrailItem;
        areaScene->addItem(penTrail);
    }
    QVector<QPointF> shown;
    shown.reserve(penPoints.size());
    for (const QPoint& point : qAsConst(penPoints))
        shown << areaPoint(point);
    penTrail->setPoints(shown);
}

void view_tessarolive::updateCalibration(QString text)
{
    const QStringList fields = text.split(QLatin1Char(':'));
    if (fields.size() < 4) {
        emit CalibrationState(0, 0);
        return;
    }
    if (fields.at(2) == QLatin1String("0")) {
        calStateLabel->setText(tr("[live:cal:done]"));
        calPointLabel->clear();
        emit CalibrationState(0, 0);
        return;
    }
    int point = 0;
    if (fields.at(3) != QLatin1String("0")) {
        calPointLabel->setText(UntrustedText::shown(fields.at(3)));
        point = fields.at(3).toInt();
    }
    calStateLabel->setText(tr("[live:cal:running]"));
    emit CalibrationState(1, point);
}

void view_tessarolive::setPenBattery(double voltage)
{
    // A negative voltage is no reading.
    const BatteryPicture::Level battery = voltage < 0 ? BatteryPicture::Unknown : BatteryPicture::forVoltage(voltage);
    // Called on every poll tick: only a change of band touches the scene.
    if (battery == shownBattery)
        return;
    shownBattery = battery;
    batteryItem->setPixmap(batteryPixmaps[battery]);
}

void view_tessarolive::updateCalPoints(QList<int> x, QList<int> y)
{
    // A missing corner reads as 0, and a 0 means the sensor has no value for it.
    int cx[CornerCount];
    int cy[CornerCount];
    for (int i = 0; i < CornerCount; ++i) {
        cx[i] = x.value(i);
        cy[i] = y.value(i);
        if (cx[i] == 0 || cy[i] == 0)
            return;
        // A corner beyond the sensor's range is drawn at its edge, so the drawing's
        // arithmetic never leaves the sensor's numbers. Either list may hold x values (a
        // turned mount is swapped below): both are held to the wider range.
        cx[i] = qBound(0, cx[i], SensorWidth - 1);
        cy[i] = qBound(0, cy[i], SensorWidth - 1);
    }
    if (areaDrawn && std::equal(cx, cx + CornerCount, drawnX) && std::equal(cy, cy + CornerCount, drawnY))
        return;
    std::copy(cx, cx + CornerCount, drawnX);
    std::copy(cy, cy + CornerCount, drawnY);
    areaDrawn = true;
    drawArea(cx, cy);
}

void view_tessarolive::drawArea(const int* x, const int* y)
{
    areaScene->clear();
    penTrail = nullptr;
    areaScene->addRect(AreaMargin, AreaMargin, AreaWidth, AreaHeight, outline(QColor::fromRgbF(0.5, 0, 0, 1)),
                       QBrush(Qt::white, Qt::SolidPattern));

    int sx[CornerCount];
    int sy[CornerCount];
    std::copy(x, x + CornerCount, sx);
    std::copy(y, y + CornerCount, sy);
    // The sensor may be mounted turned or upside down: bring corner 2 right of corner 1
    // and corner 4 below it, so the drawing looks like the screen.
    axesSwapped = std::abs(sx[0] - sx[1]) < std::abs(sy[0] - sy[1]);
    if (axesSwapped) {
        for (int i = 0; i < CornerCount; ++i)
            std::swap(sx[i], sy[i]);
    }
    xMirrored = sx[1] < sx[0];
    if (xMirrored) {
        for (int& value : sx)
            value = SensorWidth - value;
    }
    yMirrored = sy[3] < sy[0];
    if (yMirrored) {
        for (int& value : sy)
            value = SensorHeight - value;
    }

    QPolygonF polygon;
    polygon.reserve(CornerCount);
    for (int i = 0; i < CornerCount; ++i)
        polygon << QPointF(sx[i] * AreaWidth / SensorWidth + AreaMargin, sy[i] * AreaWidth / SensorWidth + AreaMargin);
    areaScene->addPolygon(polygon, outline(QColor::fromRgbF(0, 0, 0, 1)), QBrush(Qt::white, Qt::SolidPattern));
    // The pen, mapped as the new drawing is.
    showPenTrail();
}
