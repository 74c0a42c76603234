#pragma once

#include <QString>
#include <QWidget>

class QSlider;
class QSpinBox;
class QTimer;
class tessaro;

// Slider and spin box bound to one integer register of the connected sensor: reads it on
// every connectedLoad()/updateAdv(), writes it when the user lets go of the slider or
// finishes typing into the spin box (Enter or focus loss), and a change by arrow key or
// wheel once it has settled.
class view_tessaroParameter_int : public QWidget
{
    Q_OBJECT
public:
    // A keyboard or wheel change is written when no further change has come for this long.
    static constexpr int SettleMs = 400;

    view_tessaroParameter_int(QWidget* parent, tessaro* device, const QString& moduleName,
                              const QString& registerName, int minimum, int maximum);

    QString module;
    QString regname;
    tessaro* connection = nullptr;
    QSlider* slider = nullptr;
    QSpinBox* spinBox = nullptr;

signals:
    // A value went to the sensor's register: in use, but not yet stored in the sensor.
    void written();

public slots:
    void connected();
    void disconnected();
    void updateValue();

private:
    void connectCommit();
    void scheduleWrite();

    bool commitConnected = false;
    // Set while a value read from the sensor is shown: that is no change to write.
    bool showingRead = false;
    QTimer* settleTimer = nullptr;
};
