// Linked only into tessaroctl-sim: a sensor that matches the sample catalogue is on the
// simulated bus before the program looks, and goes into its bootloader when asked, so
// every command (flash included) can be tried without hardware.
#include "simbus.h"
#include "simreplay.h"
#include "device/hidrecording.h"
#include "simsensor.h"

namespace {

struct CtlDemoSensor {
    CtlDemoSensor()
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

const CtlDemoSensor ctlDemoSensor;

} // namespace
