#include "batterypicture.h"

namespace BatteryPicture {

Level forVoltage(double volts)
{
    if (volts > 2.8)
        return Full;
    if (volts > 2.6)
        return ThreeQuarters;
    if (volts > 2.4)
        return Half;
    if (volts > 2.1)
        return Quarter;
    return Empty;
}

const char* file(Level level)
{
    static const char* const files[LevelCount] = {"rc/batt_unknown.png", "rc/batt_100.png", "rc/batt_75.png",
                                                  "rc/batt_50.png",      "rc/batt_25.png",  "rc/batt_0.png"};
    return level >= 0 && level < LevelCount ? files[level] : files[Unknown];
}

} // namespace BatteryPicture
