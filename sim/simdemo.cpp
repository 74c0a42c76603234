// Linked only into the demo program: plugs in a sensor that matches the sample catalogue
// before the program starts looking for one.
#include "simbus.h"
#include "simsensor.h"

#include <memory>

namespace {

struct DemoSensor {
    DemoSensor() { sim::SimBus::instance().plug(std::make_shared<sim::SimSensor>()); }
};

const DemoSensor demoSensor;

} // namespace
