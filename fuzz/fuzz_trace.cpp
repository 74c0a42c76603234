// The fuzzer input as a recorded trace: read, and when it reads, replayed in place of the
// bus to one hot-plug search and two commands, so that both the reader and the replay see
// whatever a hostile file may hold.
#include "fuzzcommon.h"

#include "sim/simreplay.h"

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzzsupport::init();
    fuzzsupport::writeFile(QStringLiteral("sensors/tessaro_t1.json"), fuzzsupport::smallParameterFile());
    fuzzsupport::writeCatalogue({fuzzsupport::sensorEntry(QStringLiteral("tessaro_t1.json"))});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzzsupport::writeFile(QStringLiteral("input.trace"), fuzzsupport::bytes(data, size));
    QString error;
    if (!sim::SimReplay::start(QStringLiteral("input.trace"), &error))
        return 0;
    auto connection = fuzzsupport::newConnection();
    connection->hotplugWorker();
    unsigned char reply[TessaroLink::ReportBufferSize];
    connection->sendCommand("app:id;", reply);
    connection->sendCommand("app:version;", reply);
    fuzzsupport::closeConnection(connection);
    sim::SimReplay::stop();
    return 0;
}
