#pragma once

// The pen battery pictures and the voltage bands that choose them; the sensor view's
// information tab and the live view show the same picture for the same voltage.
namespace BatteryPicture {

enum Level { Unknown, Full, ThreeQuarters, Half, Quarter, Empty, LevelCount };

constexpr int Width = 64;
constexpr int Height = 32;

// First band the voltage lies above, strictly: 2.8 V still shows three quarters.
Level forVoltage(double volts);

// The picture's file below "rc/".
const char* file(Level level);

} // namespace BatteryPicture
