#include "simfixture.h"

#include "device/tessaro.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>

#include <cstring>

namespace {
const char* const ShippedCatalogue = "sensors/supported.json";
}

SimFixture::SimFixture()
    : m_previousDir(QDir::currentPath())
{
    sim::SimBus::instance().reset();
    QDir::setCurrent(m_dir.path());
}

SimFixture::~SimFixture()
{
    closeConnection(m_connection);
    sim::SimBus::instance().reset();
    QDir::setCurrent(m_previousDir);
}

void SimFixture::writeFile(const QString& relativePath, const QByteArray& content)
{
    const QString path = m_dir.filePath(relativePath);
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(content);
}

void SimFixture::writeCatalogue(const QJsonArray& devlist)
{
    writeFile(QString::fromLatin1(ShippedCatalogue),
              QJsonDocument(QJsonObject{{QStringLiteral("devlist"), devlist}}).toJson());
}

void SimFixture::removeFile(const QString& relativePath)
{
    QFile::remove(m_dir.filePath(relativePath));
}

QJsonObject SimFixture::sensorEntry(const QStringList& sw, const QStringList& hw, const QString& configfile)
{
    QJsonObject e = entry(QStringLiteral("tessaro"), sim::SensorProductId);
    e.insert(QStringLiteral("default"), false);
    e.insert(QStringLiteral("configfile"), configfile);
    e.insert(QStringLiteral("sw"), QJsonArray::fromStringList(sw));
    e.insert(QStringLiteral("hw"), QJsonArray::fromStringList(hw));
    return e;
}

QJsonObject SimFixture::entry(const QString& type, std::uint16_t productId, const QString& interface)
{
    return QJsonObject{
        {QStringLiteral("vendorId"), QString::number(sim::TestVendorId, 16)},
        {QStringLiteral("productId"), QString::asprintf("%04x", productId)},
        {QStringLiteral("interface"), interface},
        {QStringLiteral("type"), type},
    };
}

void SimFixture::useShippedCatalogue()
{
    QFile shipped(QDir(m_previousDir).filePath(QString::fromLatin1(ShippedCatalogue)));
    if (shipped.open(QIODevice::ReadOnly))
        writeFile(QString::fromLatin1(ShippedCatalogue), shipped.readAll());
}

bool SimFixture::useShippedModel(const QString& name)
{
    QFile model(QStringLiteral(TESSARO_SOURCE_DIR "/data/sensors/tessaro_t1.json"));
    if (!model.open(QIODevice::ReadOnly))
        return false;
    writeFile(QStringLiteral("sensors/") + name, model.readAll());
    return true;
}

std::shared_ptr<sim::SimSensor> SimFixture::plugSensor(sim::DeviceInfo info)
{
    auto sensor = std::make_shared<sim::SimSensor>(std::move(info));
    sim::SimBus::instance().plug(sensor);
    return sensor;
}

QStringList SimFixture::commands(const sim::SimDevice& device)
{
    QStringList list;
    for (const std::string& command : device.receivedCommands())
        list << QString::fromStdString(command);
    return list;
}

tessaro* SimFixture::openConnection()
{
    auto* connection = new tessaro;
    connection->SetHotPlugTimerState(false);
    connection->hotplugWorker();
    if (!connection->isConnected) {
        delete connection;
        return nullptr;
    }
    for (const auto& device : sim::SimBus::instance().devices())
        device->clearLog();
    return connection;
}

void SimFixture::closeConnection(tessaro* connection)
{
    if (!connection)
        return;
    connection->disconnectDevice();
    delete connection;
}

tessaro* SimFixture::connectSensor(std::shared_ptr<sim::SimSensor>& sensor)
{
    writeCatalogue({sensorEntry()});
    sensor = plugSensor();
    m_connection = openConnection();
    return m_connection;
}

QString SimFixture::writeImage(const QString& name, const std::vector<std::uint8_t>& image)
{
    writeFile(name, QByteArray(reinterpret_cast<const char*>(image.data()), static_cast<int>(image.size())));
    return m_dir.filePath(name);
}

QString SimFixture::reply(tessaro* connection, const QByteArray& command)
{
    unsigned char reply[TessaroLink::ReportBufferSize];
    std::memset(reply, 0xAA, sizeof reply);
    if (!connection->sendCommand(command.constData(), reply))
        return QStringLiteral("(failed)");
    return QString::fromLocal8Bit(reinterpret_cast<const char*>(reply));
}
