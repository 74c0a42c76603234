#pragma once

// Shared set-up of the fuzz targets: one offscreen QApplication per process, a private
// working folder holding the data files the program opens relative to its current
// directory, and a simulated bus made clean before every input.

#include "device/tessaro.h"
#include "sim/simbus.h"
#include "sim/simsensor.h"

#include <QApplication>
#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLoggingCategory>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace fuzzsupport {

// Called from LLVMFuzzerInitialize: environment first, then the application and the
// working folder, which stay for the whole process.
inline void init()
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // An address nothing listens on: the version check of the sensor view fails at once.
    qputenv("TESSARO_SERVICE_URL", "http://127.0.0.1:9");
    static int argc = 1;
    static char name[] = "tessaro_fuzz";
    static char* argv[] = {name, nullptr};
    static QApplication* app = new QApplication(argc, argv);
    Q_UNUSED(app)
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false\n*.info=false\n*.warning=false"));
    static QTemporaryDir* dir = new QTemporaryDir;
    // Pictures drawn at build time, beside the target in the build folder.
    const QString pictures = QCoreApplication::applicationDirPath() + QStringLiteral("/rc");
    if (QFileInfo(pictures).isDir())
        QFile::link(pictures, dir->filePath(QStringLiteral("rc")));
    QDir::setCurrent(dir->path());
}

inline void writeFile(const QString& relativePath, const QByteArray& content)
{
    QDir().mkpath(QFileInfo(relativePath).path());
    QFile file(relativePath);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(content);
}

inline QByteArray bytes(const std::uint8_t* data, std::size_t size)
{
    return QByteArray(reinterpret_cast<const char*>(data), static_cast<int>(size));
}

inline QJsonObject entry(const QString& type, std::uint16_t productId)
{
    return QJsonObject{
        {QStringLiteral("vendorId"), QString::number(sim::TestVendorId, 16)},
        {QStringLiteral("productId"), QString::asprintf("%04x", productId)},
        {QStringLiteral("interface"), QStringLiteral("0")},
        {QStringLiteral("type"), type},
    };
}

// A sensor entry whose connection needs the version reply "HW 1.1" / "SW 2.4".
inline QJsonObject sensorEntry(const QString& configfile)
{
    QJsonObject e = entry(QStringLiteral("tessaro"), sim::SensorProductId);
    e.insert(QStringLiteral("default"), false);
    e.insert(QStringLiteral("configfile"), configfile);
    e.insert(QStringLiteral("sw"), QJsonArray{QStringLiteral("SW 2.4")});
    e.insert(QStringLiteral("hw"), QJsonArray{QStringLiteral("HW 1.1")});
    return e;
}

inline void writeCatalogue(const QJsonArray& devlist)
{
    writeFile(QString::fromLatin1(TessaroLink::CataloguePath),
              QJsonDocument(QJsonObject{{QStringLiteral("devlist"), devlist}}).toJson());
}

// The shipped parameter file of the sample model; a small stand-in when it is not found.
inline QByteArray smallParameterFile()
{
    QFile shipped(QStringLiteral(TESSARO_SOURCE_DIR "/data/sensors/tessaro_t1.json"));
    if (shipped.open(QIODevice::ReadOnly))
        return shipped.readAll();
    return QByteArrayLiteral(R"({
  "parameters_system": [
    {"name": "Detection", "parameters": [
      {"name": "Minimum spot size", "type": "int", "module": "sens", "regname": "minspot", "min": "1", "max": "32"},
      {"name": "Noise filter", "type": "enum", "module": "sens", "regname": "filter", "values": [
        {"value": "0", "comment": "Off"}, {"value": "1", "comment": "Light"}]},
      {"name": "Mirror image", "type": "bool", "module": "sens", "regname": "mirror"}
    ]}
  ],
  "parameters_advanced": [
    {"name": "Gain", "type": "int", "module": "sens", "regname": "gain", "min": "0", "max": "15"}
  ]
})");
}

inline std::shared_ptr<sim::SimSensor> plugSensor()
{
    auto sensor = std::make_shared<sim::SimSensor>();
    sensor->setLiveMotion(false);
    sim::SimBus::instance().plug(sensor);
    return sensor;
}

// A connection with its hot-plug polling stopped; the caller runs hotplugWorker().
inline std::unique_ptr<tessaro> newConnection()
{
    auto connection = std::make_unique<tessaro>();
    connection->SetHotPlugTimerState(false);
    return connection;
}

inline void closeConnection(std::unique_ptr<tessaro>& connection)
{
    if (!connection)
        return;
    connection->disconnectDevice();
    connection.reset();
}

// Runs what deleteLater() left behind.
inline void flushDeletes()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

} // namespace fuzzsupport
