#pragma once

#include <array>
#include <chrono>
#include <optional>
#include <string>

namespace sim {

// What the sensor reports of the pen's position: coordinates in sensor units, the size
// of the light spot and the number of pens seen. All zero when there is no pen.
struct PenPoint {
    int x = 0;
    int y = 0;
    int size = 0;
    int number = 0;
    bool operator==(const PenPoint& other) const
    {
        return x == other.x && y == other.y && size == other.size && number == other.number;
    }
    bool operator!=(const PenPoint& other) const { return !(*this == other); }
};

// The four calibration corners in the order the sensor visits them: top left, top right,
// bottom right, bottom left.
struct Corners {
    std::array<int, 4> x{};
    std::array<int, 4> y{};
    bool operator==(const Corners& other) const { return x == other.x && y == other.y; }
    bool operator!=(const Corners& other) const { return !(*this == other); }
};

// The pen and what the sensor makes of it over time: a point that wanders over the
// screen, a battery that drains, a running-time counter, the pairing progress after
// the link starts, and a four-point calibration that waits for the pen at each corner.
// Time only passes through advance(), so the model is deterministic; its owner feeds it
// from a clock and guards it (not thread-safe by itself).
class PenModel
{
public:
    using Duration = std::chrono::nanoseconds;

    static constexpr int MaxX = 1023;
    static constexpr int MaxY = 767;
    static constexpr int PairedAbove = 49;      // the tool shows the pen as ready above this
    static constexpr int PairingComplete = 100;  // where the pairing number stops
    static constexpr int EmptyBatteryReading = 160;  // about 1.9 V: the drain stops here
    static constexpr int DefaultBatteryReading = 100;  // 307.2 / 100 = 3.07 V
    static constexpr int DefaultRunningSeconds = 9000;
    static constexpr int DefaultPenVersion = 0x0105;
    static constexpr std::chrono::milliseconds DefaultBatteryDrainTime{20000};
    static constexpr std::chrono::milliseconds DefaultPairingStepTime{50};
    static constexpr std::chrono::milliseconds DefaultCalibrationStepTime{2000};

    static Corners defaultCorners();
    // The rectangle that the n-th finished calibration stores (n from 1): a little
    // different each time, as a real mount never lands on the same spot twice.
    static Corners measuredCorners(int n);
    // The wandering path at a point in time.
    static PenPoint pathPoint(Duration t);

    void advance(Duration elapsed);
    // The sensor has started again (plugged back in): the pen pairs anew and a
    // calibration in progress is lost; the pen itself keeps its battery and counters.
    void restartLink();

    // With no pen the point, state and identity read as zeros.
    void setPresent(bool present);
    bool present() const { return m_present; }

    // The pen held still at a point, until followPath().
    void holdPoint(const PenPoint& point);
    void followPath();
    bool pointHeld() const { return m_held.has_value(); }
    PenPoint point() const;

    // Reading r of the battery (voltage = 307.2 / r); it climbs by one per drain time
    // while the pen is on, up to EmptyBatteryReading. 0 or less means no reading.
    void setBatteryReading(int reading);
    int batteryReading() const { return m_battery; }
    void setBatteryDrainTime(std::chrono::milliseconds perStep);

    void setRunningSeconds(int seconds);
    int runningSeconds() const { return m_runningSeconds; }

    // Pairing progress, climbing by one per step time while the pen is there.
    void setPairing(int progress);
    int pairing() const { return m_pairing; }
    void setPairingStepTime(std::chrono::milliseconds perStep);

    void setPenId(const std::string& id) { m_penId = id; }
    const std::string& penId() const { return m_penId; }
    void setPenVersion(int version) { m_penVersion = version; }
    int penVersion() const { return m_penVersion; }

    // Calibration: points 1 to 4, one per step time of pen presence, then done.
    void startCalibration();
    void abortCalibration();
    void setCalibrationStepTime(std::chrono::milliseconds perPoint);
    bool calibrationRunning() const { return m_calibrationPoint != 0; }
    int calibrationPoint() const { return m_calibrationPoint; }
    int calibrationsFinished() const { return m_calibrationsFinished; }

    void setCorners(const Corners& corners) { m_corners = corners; }
    const Corners& corners() const { return m_corners; }
    // Coordinate of corner n (1 to 4) on axis 'x' or 'y'; nothing for any other.
    std::optional<int> corner(char axis, int n) const;

private:
    bool m_present = true;
    std::optional<PenPoint> m_held;
    Duration m_pathTime{0};

    int m_battery = DefaultBatteryReading;
    Duration m_batteryDrainTime = DefaultBatteryDrainTime;
    Duration m_batteryPending{0};

    int m_runningSeconds = DefaultRunningSeconds;
    Duration m_runningPending{0};

    int m_pairing = 0;
    Duration m_pairingStepTime = DefaultPairingStepTime;
    Duration m_pairingPending{0};

    std::string m_penId = "P-4711";
    int m_penVersion = DefaultPenVersion;

    int m_calibrationPoint = 0;  // 0: no calibration running
    Duration m_calibrationStepTime = DefaultCalibrationStepTime;
    Duration m_calibrationPending{0};
    int m_calibrationsFinished = 0;
    Corners m_corners = defaultCorners();
};

} // namespace sim
