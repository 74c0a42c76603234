#pragma once

#include "sim/simbus.h"
#include "sim/simsensor.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QString>
#include <QTemporaryDir>

#include <memory>

class tessaro;
#include <string>
#include <vector>

// A clean simulated bus and a private working folder with its own data files, for one
// test function. Create it in init(), destroy it in cleanup().
class SimFixture
{
public:
    SimFixture();
    ~SimFixture();
    SimFixture(const SimFixture&) = delete;
    SimFixture& operator=(const SimFixture&) = delete;

    QString dir() const { return m_dir.path(); }

    // Writes a file below the working folder (creating its folder).
    void writeFile(const QString& relativePath, const QByteArray& content);
    void writeCatalogue(const QJsonArray& devlist);
    void removeFile(const QString& relativePath);

    // A catalogue entry for the simulated sensor.
    static QJsonObject sensorEntry(const QStringList& sw = {QStringLiteral("SW 2.4")},
                                   const QStringList& hw = {QStringLiteral("HW 1.1")},
                                   const QString& configfile = QStringLiteral("tessaro.json"));
    static QJsonObject entry(const QString& type, std::uint16_t productId, const QString& interface = QStringLiteral("0"));

    // The catalogue shipped in data/, copied into the working folder.
    void useShippedCatalogue();

    std::shared_ptr<sim::SimSensor> plugSensor(sim::DeviceInfo info = sim::SimSensor::defaultInfo());

    // A connection opened to the plugged sensor, with its polling stopped so that tests
    // decide when ticks happen, and the sensor's log cleared. Null when nothing opened.
    static tessaro* openConnection();
    // Closes the link (the connection itself closes nothing when destroyed) and deletes it.
    static void closeConnection(tessaro* connection);

    // Commands the device received, as Qt strings for QCOMPARE.
    static QStringList commands(const sim::SimDevice& device);

private:
    QTemporaryDir m_dir;
    QString m_previousDir;
};
