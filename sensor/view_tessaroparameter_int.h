#pragma once

#include <QString>
#include <QWidget>

class QSlider;
class QSpinBox;
class tessaro;

// Slider and spin box bound to one integer register of the connected sensor: reads it on
// every connectedLoad()/updateAdv(), writes it when the user lets go of the slider or
// finishes editing the spin box.
class view_tessaroParameter_int : public QWidget
{
    Q_OBJECT
public:
    view_tessaroParameter_int(QWidget* parent, tessaro* device, const QString& moduleName,
                              const QString& registerName, int minimum, int maximum);

    QString module;
    QString regname;
    tessaro* connection = nullptr;
    QSlider* slider = nullptr;
    QSpinBox* spinBox = nullptr;

public slots:
    void connected();
    void disconnected();
    void updateValue();

private:
    void connectCommit();

    bool commitConnected = false;
};
