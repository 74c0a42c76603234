#pragma once

#include "batterypicture.h"

#include <QList>
#include <QPixmap>
#include <QString>
#include <QWidget>

class QGraphicsPixmapItem;
class QGraphicsScene;
class QGraphicsView;
class QLabel;

// Live data beside the sensor view's tabs: the pen point, the calibration state, the pen
// battery and a drawing of the calibrated area inside the sensor's field of view. It only
// shows what the data poll passes on and sends nothing to the sensor.
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

signals:
    void CalibrationState(int state, int point);

public slots:
    void updatePoints(QString data);
    void updateCalibration(QString data);
    void updateCalPoints(QList<int> x, QList<int> y);

private:
    void drawArea(const int* x, const int* y);

    BatteryPicture::Level shownBattery = BatteryPicture::Unknown;
    // Corners of the current drawing; the poll repeats them every 1.1 s unchanged.
    bool areaDrawn = false;
    int drawnX[CornerCount] = {};
    int drawnY[CornerCount] = {};
};
