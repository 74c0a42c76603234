// Linked only into the demo program: plugs in a sensor that matches the sample catalogue
// before the program starts looking for one. It goes into its bootloader when asked and
// comes back after the application starts, so the demo can show a whole firmware update
// (with the image that the build puts into demo/).
#include "simbus.h"
#include "simreplay.h"
#include "device/hidrecording.h"
#include "simsensor.h"

#include <memory>

namespace {

struct DemoSensor {
    DemoSensor()
    {
        auto sensor = std::make_shared<sim::SimSensor>();
        sensor->setReenumerates(true);
        sim::SimBus::instance().plug(sensor);
        // --replay FILE: a recorded trace takes the bus's place.
        HidRecording::setReplayStarter([](const QString& path, QString* error) {
            return sim::SimReplay::start(path, error);
        });
    }
};

const DemoSensor demoSensor;

} // namespace
