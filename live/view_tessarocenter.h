#pragma once

#include <QIcon>
#include <QPixmap>
#include <QString>
#include <QWidget>

class QGraphicsPixmapItem;
class QGraphicsScene;
class QGraphicsView;
class QKeyEvent;
class QLabel;
class QPushButton;
class tessaro;

// Full-screen aid for positioning the sensor before calibration: the user picks the mount
// (ceiling or tripod) and holds the pen on the centre mark; four rows of three arrows show
// how far the reported point lies from the middle of the sensor's range. It only listens
// to the pen point of the poll and sends nothing itself.
class view_tessarocenter : public QWidget
{
    Q_OBJECT
public:
    static constexpr int SensorMaxX = 1023;
    static constexpr int SensorMaxY = 767;
    static constexpr int CentreX = 512;
    static constexpr int CentreY = 384;
    static constexpr int ArrowCount = 3; // per row; index 0 is nearest the centre mark

    enum Arrow { Off, Okay, Bad };

    // The connection is accepted for symmetry with the calibration screen; this screen
    // sends nothing.
    explicit view_tessarocenter(tessaro* connection, QWidget* parent = nullptr);

    // Which picture an arrow shows (for tests and for skipping unchanged arrows).
    Arrow leftArrow(int i) const { return m_left[i]; }
    Arrow lowerArrow(int i) const { return m_lower[i]; }
    Arrow rightArrow(int i) const { return m_right[i]; }
    Arrow upperArrow(int i) const { return m_upper[i]; }

    QPushButton* ceilingButton = nullptr;
    QPushButton* tripodButton = nullptr;
    QGraphicsScene* centerScene = nullptr;
    QGraphicsView* centerView = nullptr;
    QGraphicsPixmapItem* centerItem = nullptr;
    QGraphicsScene* leftScene = nullptr;
    QGraphicsView* leftView = nullptr;
    QGraphicsPixmapItem* leftItems[ArrowCount] = {};  // L1, L2, L3
    QGraphicsScene* lowerScene = nullptr;
    QGraphicsView* lowerView = nullptr;
    QGraphicsPixmapItem* lowerItems[ArrowCount] = {}; // D1, D2, D3
    QGraphicsScene* rightScene = nullptr;
    QGraphicsView* rightView = nullptr;
    QGraphicsPixmapItem* rightItems[ArrowCount] = {}; // R1, R2, R3
    QGraphicsScene* upperScene = nullptr;
    QGraphicsView* upperView = nullptr;
    QGraphicsPixmapItem* upperItems[ArrowCount] = {}; // U1, U2, U3
    QPixmap offPixmap;
    QPixmap okayPixmap;
    QPixmap badPixmap;
    QLabel* xValueLabel = nullptr;
    QLabel* yValueLabel = nullptr;
    QLabel* sizeValueLabel = nullptr;
    // What to do now, from the arrows shown: hold the pen on the mark, aim, or calibrate.
    QLabel* hintLabel = nullptr;
    bool ceilingMount = false;
    // Hardware version text of the connected sensor, set by the sensor view.
    QString hardwareVersion;

signals:
    void startCal();

public slots:
    void setTripot();
    void setCeiling();
    void pointData(QString data);
    void startCalAndClose();

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    QGraphicsView* arrowRow(QGraphicsScene** scene, QGraphicsPixmapItem** items, const QPointF* positions,
                            qreal rotation, Qt::Alignment alignment);
    void setArrow(QGraphicsPixmapItem* item, Arrow* shown, Arrow arrow);
    void showHint();
    // Lights one pair of opposite rows for a value off the centre by offset: the row
    // on the side of a positive offset, or of a negative one, gets the bad arrows.
    void showAxis(int offset, QGraphicsPixmapItem** positiveItems, Arrow* positiveShown,
                  QGraphicsPixmapItem** negativeItems, Arrow* negativeShown);
    void axisOff(QGraphicsPixmapItem** first, Arrow* firstShown, QGraphicsPixmapItem** second, Arrow* secondShown);

    QIcon ceilingIcon;
    QIcon ceilingGrayIcon;
    QIcon tripodIcon;
    QIcon tripodGrayIcon;
    Arrow m_left[ArrowCount] = {Off, Off, Off};
    Arrow m_lower[ArrowCount] = {Off, Off, Off};
    Arrow m_right[ArrowCount] = {Off, Off, Off};
    Arrow m_upper[ArrowCount] = {Off, Off, Off};
};
