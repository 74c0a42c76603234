#pragma once

#include <QString>
#include <QWidget>

#include <optional>

class QCheckBox;
class tessaro;

// Check box bound to one register of the connected sensor: checked means the register
// holds 1.
class view_tessaroParameter_bool : public QWidget
{
    Q_OBJECT
public:
    view_tessaroParameter_bool(QWidget* parent, tessaro* device, const QString& moduleName,
                               const QString& registerName);

    QString module;
    QString regname;
    tessaro* connection = nullptr;
    QCheckBox* checkBox = nullptr;
    // Check state (0 unchecked, 2 checked) last read or written; none before either.
    std::optional<int> lastState;

signals:
    // A value went to the sensor's register: in use, but not yet stored in the sensor.
    void written();

public slots:
    void connected();
    void disconnected();
    void updateValue(int state);

private:
    void connectCommit();

    bool commitConnected = false;
};
