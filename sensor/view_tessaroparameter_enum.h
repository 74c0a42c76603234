#pragma once

#include <QMap>
#include <QString>
#include <QWidget>

class QComboBox;
class tessaro;

// Drop-down list bound to one register of the connected sensor: one item per choice,
// sorted by its text, carrying the register value as item data.
class view_tessaroParameter_enum : public QWidget
{
    Q_OBJECT
public:
    view_tessaroParameter_enum(QWidget* parent, tessaro* device, const QString& moduleName,
                               const QString& registerName, const QMap<QString, int>& choices);

    QString module;
    QString regname;
    tessaro* connection = nullptr;
    QMap<QString, int> values;
    QComboBox* comboBox = nullptr;

signals:
    // A value went to the sensor's register: in use, but not yet stored in the sensor.
    void written();

public slots:
    void connected();
    void disconnected();
    void updateValue(int index);

private:
    void connectCommit();

    bool commitConnected = false;
};
