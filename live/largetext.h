#pragma once

class QWidget;

// Live values in larger type, sized from the application font rather than in pixels, so
// that they stay larger than their captions whatever the screen's resolution or the
// desktop's font size.
namespace LargeText {

// Beside their captions in a window (live view, centering screen).
constexpr double ValueScale = 1.5;
// What to do, on a full-screen window seen from an arm's length.
constexpr double InstructionScale = 2.0;
// Read from a distance on the full-screen calibration.
constexpr double DistantScale = 3.0;

// Gives the widget its current font scaled by the factor.
void enlarge(QWidget* widget, double scale);

} // namespace LargeText
