#pragma once

#include "sim/simbus.h"
#include "sim/simsensor.h"

#include <QByteArray>
#include <QPointer>
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
    // The shipped parameter file of the sensor, copied into sensors/ as `name`.
    bool useShippedModel(const QString& name = QStringLiteral("tessaro_t1.json"));

    std::shared_ptr<sim::SimSensor> plugSensor(sim::DeviceInfo info = sim::SimSensor::defaultInfo());
    // The sensor listed in the catalogue, plugged into `sensor`, and a connection opened to
    // it as openConnection() does; this fixture closes that connection when it goes.
    tessaro* connectSensor(std::shared_ptr<sim::SimSensor>& sensor);
    // A firmware image written below the working folder; returns its full path.
    QString writeImage(const QString& name, const std::vector<std::uint8_t>& image);

    // A connection opened to the plugged sensor, with its polling stopped so that tests
    // decide when ticks happen, and the sensor's log cleared. Null when nothing opened.
    static tessaro* openConnection();
    // Closes the link (the connection itself closes nothing when destroyed) and deletes it.
    static void closeConnection(tessaro* connection);

    // Commands the device received, as Qt strings for QCOMPARE.
    static QStringList commands(const sim::SimDevice& device);
    // The text of the reply to a command, or "(failed)" when the exchange failed.
    static QString reply(tessaro* connection, const QByteArray& command);

private:
    QTemporaryDir m_dir;
    QString m_previousDir;
    QPointer<tessaro> m_connection;
};
