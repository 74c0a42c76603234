#include "simpen.h"

#include <algorithm>
#include <cmath>

namespace sim {

namespace {

constexpr double Pi = 3.14159265358979323846;
constexpr PenModel::Duration MinimumStep = std::chrono::milliseconds(1);

// Whole steps that have passed in pending; the rest stays for the next advance.
long long takeSteps(PenModel::Duration& pending, PenModel::Duration step)
{
    const long long steps = pending / step;
    pending -= step * steps;
    return steps;
}

PenModel::Duration atLeastOneMillisecond(std::chrono::milliseconds step)
{
    // A zero step would make every advance run forever.
    return std::max<PenModel::Duration>(step, MinimumStep);
}

double wave(PenModel::Duration t, double periodSeconds, double phase = 0.0)
{
    const double seconds = std::chrono::duration<double>(t).count();
    return std::sin(2.0 * Pi * seconds / periodSeconds + phase);
}

} // namespace

Corners PenModel::defaultCorners()
{
    return Corners{{100, 900, 900, 100}, {100, 100, 700, 700}};
}

Corners PenModel::measuredCorners(int n)
{
    // Margins and a slight tilt that change with every calibration; consecutive ones
    // never give the same rectangle, and all stay well inside the sensor's range.
    const int mx = 80 + (n * 29) % 60;
    const int my = 60 + (n * 17) % 50;
    const int tilt = (n * 7) % 9 - 4;
    return Corners{{mx + tilt, MaxX - mx + tilt, MaxX - mx - tilt, mx - tilt},
                   {my - tilt, my + tilt, MaxY - my - tilt, MaxY - my + tilt}};
}

PenPoint PenModel::pathPoint(Duration t)
{
    // A slow Lissajous figure round the middle of the range, never touching 0 (no value).
    PenPoint p;
    p.x = static_cast<int>(std::lround(512.0 + 380.0 * wave(t, 11.0)));
    p.y = static_cast<int>(std::lround(384.0 + 280.0 * wave(t, 7.0, Pi / 3.0)));
    p.size = static_cast<int>(std::lround(11.0 + 2.0 * wave(t, 5.0)));
    p.number = 1;
    return p;
}

void PenModel::advance(Duration elapsed)
{
    // Everything here needs the pen: without it nothing moves, drains, pairs or calibrates.
    if (elapsed <= Duration::zero() || !m_present)
        return;

    if (!m_held)
        m_pathTime += elapsed;

    m_runningPending += elapsed;
    m_runningSeconds += static_cast<int>(takeSteps(m_runningPending, std::chrono::seconds(1)));

    if (m_battery > 0 && m_battery < EmptyBatteryReading) {
        m_batteryPending += elapsed;
        const long long steps = takeSteps(m_batteryPending, m_batteryDrainTime);
        m_battery = static_cast<int>(std::min<long long>(m_battery + steps, EmptyBatteryReading));
    }

    if (m_pairing < PairingComplete) {
        m_pairingPending += elapsed;
        const long long steps = takeSteps(m_pairingPending, m_pairingStepTime);
        m_pairing = static_cast<int>(std::min<long long>(m_pairing + steps, PairingComplete));
    }

    if (calibrationRunning()) {
        m_calibrationPending += elapsed;
        while (calibrationRunning() && m_calibrationPending >= m_calibrationStepTime) {
            m_calibrationPending -= m_calibrationStepTime;
            if (m_calibrationPoint < 4) {
                ++m_calibrationPoint;
            } else {
                m_calibrationPoint = 0;
                ++m_calibrationsFinished;
                m_corners = measuredCorners(m_calibrationsFinished);
            }
        }
    }
}

void PenModel::restartLink()
{
    m_pairing = 0;
    m_pairingPending = Duration::zero();
    abortCalibration();
}

void PenModel::setPresent(bool present)
{
    if (present == m_present)
        return;
    m_present = present;
    // A pen that comes back pairs again from the start.
    m_pairing = 0;
    m_pairingPending = Duration::zero();
}

void PenModel::holdPoint(const PenPoint& point)
{
    m_held = point;
}

void PenModel::followPath()
{
    m_held.reset();
}

PenPoint PenModel::point() const
{
    if (!m_present)
        return {};
    return m_held ? *m_held : pathPoint(m_pathTime);
}

void PenModel::setBatteryReading(int reading)
{
    m_battery = reading;
    m_batteryPending = Duration::zero();
}

void PenModel::setBatteryDrainTime(std::chrono::milliseconds perStep)
{
    // The new pace counts from now, so a shorter step does not jump ahead at once.
    m_batteryDrainTime = atLeastOneMillisecond(perStep);
    m_batteryPending = Duration::zero();
}

void PenModel::setRunningSeconds(int seconds)
{
    m_runningSeconds = seconds;
    m_runningPending = Duration::zero();
}

void PenModel::setPairing(int progress)
{
    m_pairing = progress;
    m_pairingPending = Duration::zero();
}

void PenModel::setPairingStepTime(std::chrono::milliseconds perStep)
{
    m_pairingStepTime = atLeastOneMillisecond(perStep);
    m_pairingPending = Duration::zero();
}

void PenModel::startCalibration()
{
    // A start while running begins again at the first corner, as a restart does.
    m_calibrationPoint = 1;
    m_calibrationPending = Duration::zero();
}

void PenModel::abortCalibration()
{
    m_calibrationPoint = 0;
    m_calibrationPending = Duration::zero();
}

void PenModel::setCalibrationStepTime(std::chrono::milliseconds perPoint)
{
    m_calibrationStepTime = atLeastOneMillisecond(perPoint);
    m_calibrationPending = Duration::zero();
}

std::optional<int> PenModel::corner(char axis, int n) const
{
    if (n < 1 || n > 4)
        return std::nullopt;
    const auto index = static_cast<std::size_t>(n - 1);
    if (axis == 'x')
        return m_corners.x[index];
    if (axis == 'y')
        return m_corners.y[index];
    return std::nullopt;
}

} // namespace sim
