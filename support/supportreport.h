#pragma once

#include <QJsonObject>
#include <QString>

class tessaro;

// One JSON file for the technician: the program and its version, OS and kernel, the
// catalogue, the state line, the connected unit's identity and every register of its
// parameter file, the update log, the last minutes of the debug stream, and the newest
// events of the HID trace when the program records one. Nothing else of the user's.
class SupportReport
{
public:
    // Events of a running recording put into the report: its newest, up to this much.
    static constexpr int MaxTraceBytes = 1024 * 1024;

    struct Unit {
        QString path;
        QString id;
        QString hardware;
        QString firmware;
        QString model;          // the parameter file
        QJsonObject registers;  // "module:register": value (null when the sensor gave none)
    };

    SupportReport(const QString& program, const QString& version);

    // Every register that the parameter file lets the user edit, read from the sensor:
    // "module:register" to its value, null where the sensor gave none. Stops at the first
    // failed exchange (false).
    static bool readRegisters(tessaro* connection, const QString& configFile, QJsonObject* registers);
    void setState(const QString& line) { m_state = line; }
    void setUnit(const Unit& unit);

    QJsonObject toJson() const;
    // Written whole or not at all.
    bool save(const QString& path, QString* error) const;

private:
    QString m_program;
    QString m_version;
    QString m_state;
    QJsonObject m_unit;
};
