// The fuzzer input as a sensor model's parameter file: read with ParameterFile, and every
// value taken the way the sensor view takes it for its system and advanced rows, presets
// and easy tables; then the easy refresh of a sensor view on the simulated sensor reads
// its register names and tables (any int) from the file. The view is built once and
// reused, so an input costs no widget tree; the editors of the rows are not built.
#include "fuzzcommon.h"

#include "sensor/parameterfile.h"
#include "sensor/view_tessaro.h"

#include <QTimer>

namespace {

const QString FileName = QStringLiteral("fuzz.json");

// Made once and kept to the end of the process (no destructor runs at exit before the
// leak check: the handle must stay reachable).
std::shared_ptr<sim::SimSensor>* sensor = nullptr;
tessaro* connection = nullptr;
view_tessaro* view = nullptr;

// What a row of the system or advanced tab reads of its parameter.
void takeParameter(const QJsonObject& parameter)
{
    for (const char* key : {"name", "regname", "module", "type"})
        ParameterFile::text(parameter.value(QLatin1String(key)));
    ParameterFile::integer(parameter.value(QLatin1String("min")));
    ParameterFile::integer(parameter.value(QLatin1String("max")));
    ParameterFile::choices(ParameterFile::array(parameter, "values"), "fuzz");
}

void takeTabs(const QJsonObject& file)
{
    const QJsonArray groups = ParameterFile::array(file, "parameters_system");
    for (const QJsonValue& group : groups) {
        ParameterFile::text(group.toObject().value(QLatin1String("name")));
        const QJsonArray parameters = ParameterFile::array(group.toObject(), "parameters");
        for (const QJsonValue& parameter : parameters)
            takeParameter(parameter.toObject());
    }
    const QJsonArray advanced = ParameterFile::array(file, "parameters_advanced");
    for (const QJsonValue& parameter : advanced)
        takeParameter(parameter.toObject());
    const QJsonArray presets = ParameterFile::array(file, "parameters_simple");
    for (const QJsonValue& preset : presets) {
        const QJsonArray writes = ParameterFile::array(preset.toObject(), "parameters");
        for (const QJsonValue& write : writes) {
            for (const char* key : {"module", "regname", "value"})
                ParameterFile::text(write.toObject().value(QLatin1String(key)));
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzzsupport::init();
    fuzzsupport::writeCatalogue(QJsonArray{fuzzsupport::sensorEntry(FileName)});
    fuzzsupport::writeFile(QLatin1String(ParameterFile::Folder) + FileName, fuzzsupport::smallParameterFile());
    sensor = new std::shared_ptr<sim::SimSensor>(fuzzsupport::plugSensor());
    connection = fuzzsupport::newConnection().release();
    connection->hotplugWorker();
    view = new view_tessaro(nullptr, connection);
    view->pollTimer->stop();
    view->reloadUi();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzzsupport::writeFile(QLatin1String(ParameterFile::Folder) + FileName, fuzzsupport::bytes(data, size));
    const QJsonDocument document = ParameterFile::read(FileName);
    if (!document.isNull()) {
        const QJsonObject object = document.object();
        for (const QString& key : object.keys()) {
            const QJsonArray list = ParameterFile::array(object, key.toUtf8().constData());
            for (const QJsonValue& value : list) {
                ParameterFile::text(value);
                ParameterFile::integer(value);
            }
        }
        takeTabs(object);
    }
    view->updateEasy();
    return 0;
}
