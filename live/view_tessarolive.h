#pragma once

#include "batterypicture.h"

#include <QList>
#include <QPixmap>
#include <QPoint>
#include <QPointF>
#include <QStringList>
#include <QString>
#include <QVector>
#include <QWidget>

class QGraphicsPixmapItem;
class QGraphicsScene;
class QGraphicsView;
class QLabel;
class PenTrailItem;

// Live data beside the sensor view's tabs: the pen point, the calibration state, the pen
// battery and a drawing of the calibrated area inside the sensor's field of view, with the
// pen point marked in it. It only shows what the data poll passes on and sends nothing to
// the sensor.
class view_tessarolive : public QWidget
{
    Q_OBJECT
public:
    // The area drawing: 1024 x 768 sensor units onto 400 x 300 scene units, 10 units in.
    static constexpr int SensorWidth = 1024;
    static constexpr int SensorHeight = 768;
    static constexpr int AreaWidth = 400;
    static constexpr int AreaHeight = 300;
    static constexpr int AreaMargin = 10;
    static constexpr int CornerCount = 4;


    explicit view_tessarolive(QWidget* parent = nullptr);

    // Pen voltage in volts; a negative value means that there is no reading.
    void setPenBattery(double voltage);

    QLabel* xLabel = nullptr;
    QLabel* yLabel = nullptr;
    QLabel* sizeLabel = nullptr;
    QLabel* numberLabel = nullptr;
    QLabel* calStateLabel = nullptr;
    QLabel* calPointLabel = nullptr;
    QGraphicsScene* areaScene = nullptr;
    QGraphicsView* areaView = nullptr;
    QGraphicsScene* batteryScene = nullptr;
    QGraphicsView* batteryView = nullptr;
    QGraphicsPixmapItem* batteryItem = nullptr;
    QPixmap batteryPixmaps[BatteryPicture::LevelCount];
    // The pen marker and its trail in the area drawing; made with the first pen point.
    PenTrailItem* penTrail = nullptr;

signals:
    void CalibrationState(int state, int point);

public slots:
    void updatePoints(QString data);
    void updateCalibration(QString data);
    void updateCalPoints(QList<int> x, QList<int> y);

private:
    void drawArea(const int* x, const int* y);
    void addPenPoint(const QStringList& fields);
    void showPenTrail();
    // A sensor point in the area drawing, turned and mirrored as the corners last drawn.
    QPointF areaPoint(const QPoint& sensorPoint) const;

    BatteryPicture::Level shownBattery = BatteryPicture::Unknown;
    // Corners of the current drawing; the poll repeats them every 1.1 s unchanged.
    bool areaDrawn = false;
    int drawnX[CornerCount] = {};
    int drawnY[CornerCount] = {};
    // How the last drawing turned the sensor's axes to look like the screen.
    bool axesSwapped = false;
    bool xMirrored = false;
    bool yMirrored = false;
    // The latest pen points in sensor units, oldest first; empty while the pen reports
    // no value.
    QVector<QPoint> penPoints;
};
