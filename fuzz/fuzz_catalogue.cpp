// The fuzzer input as the catalogue of supported devices, read by one hot-plug search with
// the simulated sensor and bootloader on the bus.
#include "fuzzcommon.h"

#include "sim/simbootloader.h"

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzzsupport::init();
    fuzzsupport::writeFile(QStringLiteral("sensors/tessaro_t1.json"), fuzzsupport::smallParameterFile());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    sim::SimBus::instance().reset();
    fuzzsupport::writeFile(QString::fromLatin1(TessaroLink::CataloguePath), fuzzsupport::bytes(data, size));
    fuzzsupport::plugSensor();
    // A second device that sits on the bus under its own product ID.
    sim::DeviceInfo info = sim::SimBootloader::defaultInfo();
    auto loader = std::make_shared<sim::SimBootloader>(sim::FlashGeometry{}, info);
    sim::SimBus::instance().plug(loader);
    auto connection = fuzzsupport::newConnection();
    connection->hotplugWorker();
    fuzzsupport::closeConnection(connection);
    sim::SimBus::instance().reset();
    return 0;
}
