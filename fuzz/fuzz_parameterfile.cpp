// The fuzzer input as a sensor model's parameter file: read on its own, then turned into
// the sensor view's tabs on a connection to the simulated sensor.
#include "fuzzcommon.h"

#include "sensor/parameterfile.h"
#include "sensor/view_tessaro.h"

#include <QTimer>

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzzsupport::init();
    fuzzsupport::writeCatalogue(QJsonArray{fuzzsupport::sensorEntry(QStringLiteral("fuzz.json"))});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    sim::SimBus::instance().reset();
    fuzzsupport::writeFile(QStringLiteral("sensors/fuzz.json"), fuzzsupport::bytes(data, size));
    const QJsonDocument document = ParameterFile::read(QStringLiteral("fuzz.json"));
    if (!document.isNull()) {
        const QJsonObject object = document.object();
        for (const QString& key : object.keys()) {
            const QJsonArray list = ParameterFile::array(object, key.toUtf8().constData());
            for (const QJsonValue& value : list) {
                ParameterFile::text(value);
                ParameterFile::integer(value);
                ParameterFile::choices(ParameterFile::array(value.toObject(), "values"), "fuzz");
            }
        }
    }

    fuzzsupport::plugSensor();
    auto connection = fuzzsupport::newConnection();
    connection->hotplugWorker();
    if (connection->isConnected) {
        auto* view = new view_tessaro(nullptr, connection.get());
        view->pollTimer->stop();
        view->reloadUi();
        view->updateEasy();
        delete view;
        fuzzsupport::flushDeletes();
    }
    fuzzsupport::closeConnection(connection);
    sim::SimBus::instance().reset();
    return 0;
}
