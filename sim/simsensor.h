#pragma once

#include "simbootloader.h"
#include "simdevice.h"
#include "simpen.h"
#include "simregisters.h"

#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace sim {

// Vendor and product IDs of the simulated family (the pid.codes test vendor).
constexpr std::uint16_t TestVendorId = 0x1209;
constexpr std::uint16_t SensorProductId = 0x0001;

// A sensor running its application firmware: one ASCII command per report, answered
// by one text reply. It holds the configuration registers of the sample model.
//
// Replies of the model:
//   "<m>:read:<r>;"       -> "<m>:read:<r>:<value>:ok;"   (5 fields: the value is field 3)
//   "<m>:write:<r>:<v>;"  -> "<m>:write:<r>:<v>:ok;"      (v stored as text, unchanged)
//   "sens:commit;"        -> "sens:commit:ok;"            (working values become the saved set)
//   "sens:reset;"         -> "sens:reset:ok;"             (processing restarts, values stay)
//   "app:bootloader;"     -> "app:bootloader:ok;"         (recorded; see setReenumerates)
//   "sens:point;"         -> "sens:point:<x>:<y>:<size>:<number>;"  (all 0 with no pen)
//   "pen:state;"          -> "pen:2:<battery r>:<running s>;" (state in field 1; "pen:0:0:0;"
//                            with no pen)
//   "pen:id;"             -> "pen:id:<pairing>:<pen id>:<version, 4 hex digits>;"
//                            ("pen:id:0::0000;" with no pen)
//   "cal:state;"          -> "cal:state:1:<point 1..4>;" while calibrating, else "cal:state:0:0;"
//   "cal:start;"          -> "cal:start:ok;"              (calibration begins at point 1)
//   "cal:abort;"          -> "cal:abort:ok;"              (calibration stops, corners stay)
//   "cal:read:x<n>;"      -> "cal:read:x<n>:<value>:ok;"  (n 1..4, likewise y; else refused)
//   anything it refuses   -> the command without its ";" followed by ":err;"
// A refused read thus has 4 fields ("sens:read:bogus:err;"), so the tool, which takes the
// value only from replies of more than 4 fields, leaves its editor unchanged; a refused
// corner read carries "err" in field 3, which the tool reads as 0 (no corner).
//
// The live data (pen point, battery, running time, pairing, calibration) follows the
// steady clock, brought up to date whenever a command or a control call arrives; time
// spent off the bus does not count, and plugging back in restarts pairing and drops a
// calibration in progress. See PenModel for the details.
class SimSensor : public SimDevice
{
public:
    static DeviceInfo defaultInfo();
    explicit SimSensor(DeviceInfo info = defaultInfo());

    // Replies of the identity commands.
    void setVersionReply(const std::string& reply);
    void setIdReply(const std::string& reply);
    // A fixed reply for one command, in place of what the model would answer. The model
    // still acts on the command (a write is stored, a commit counted).
    void setReply(const std::string& command, const std::string& reply);
    void clearReply(const std::string& command);
    // Replies used for the next commands, whatever they are, one each; the model still acts.
    void queueReply(const std::string& reply);
    // On: a queued reply to a register read or "app:version;" comes after the command's own
    // fields, as the sensor's own replies to them do, so that the queued text is the part
    // the program parses as the value (off by default).
    void setQueuedRepliesEcho(bool on);
    void clearQueuedReplies();

    // Registers: a register not yet known is added by setRegister, a removed one is
    // refused like any unknown register.
    void setRegister(const std::string& module, const std::string& name, const std::string& value);
    void setRegister(const std::string& module, const std::string& name, int value);
    void removeRegister(const std::string& module, const std::string& name);
    // Every register back to the sample model's defaults, saved set included.
    void restoreDefaultRegisters();
    std::optional<std::string> registerValue(const std::string& module, const std::string& name) const;
    // The value as of the last commit (the defaults before any).
    std::optional<std::string> savedRegisterValue(const std::string& module, const std::string& name) const;
    // Every value a write command stored, oldest first, as "<m>:<r>:<value>" (as many as
    // the report log keeps).
    std::vector<std::string> registerWrites() const;
    void clearRegisterWrites();

    int commitCount() const;
    int resetCount() const;
    int bootloaderRequests() const;
    // On: "app:bootloader;" also makes the sensor leave the bus and come back after delay
    // as the bootloader device (SimBootloader). Off by default: the request is only recorded.
    void setReenumerates(bool on, std::chrono::milliseconds delay = std::chrono::milliseconds(50));
    // Flash geometry of the bootloader device it comes back as (FlashGeometry's default).
    void setBootloaderGeometry(const FlashGeometry& geometry);
    std::string versionReply() const;

    // --- live data; every call first brings the model up to the present ---
    // false freezes everything that time drives, so replies stay put; true lets it run
    // again from now on.
    void setLiveMotion(bool live);
    bool liveMotion() const;
    // Moves the model on by the given time at once, frozen or not.
    void advanceTime(std::chrono::milliseconds elapsed);

    void setPenPresent(bool present);
    bool penPresent() const;
    // Holds the pen still at a point (the path no longer moves it) until followPenPath().
    void setPenPoint(int x, int y, int size, int number);
    void followPenPath();
    // What "sens:point;" reports now.
    PenPoint penPoint() const;
    void setBatteryReading(int reading);
    int batteryReading() const;
    // Time for the battery reading to climb by one (default 20 s).
    void setBatteryDrainTime(std::chrono::milliseconds perStep);
    void setRunningSeconds(int seconds);
    int runningSeconds() const;
    void setPairing(int progress);
    int pairing() const;
    // Time for the pairing number to climb by one (default 50 ms: ready after 2.5 s).
    void setPairingStepTime(std::chrono::milliseconds perStep);
    void setPenId(const std::string& id);
    // Shown as 4 hexadecimal digits, high byte major, low byte minor.
    void setPenVersion(int version);

    // Time the sensor stays at each calibration point while the pen is there (default 2 s).
    void setCalibrationStepTime(std::chrono::milliseconds perPoint);
    bool calibrationRunning() const;
    // 1 to 4 while running, 0 otherwise.
    int calibrationPoint() const;
    int calibrationsFinished() const;
    void setCorners(const Corners& corners);
    Corners corners() const;

protected:
    void onUnplugged() override;

    std::vector<Report> handleReport(const Report& report) override;
    // The model's own answer; called with the device's lock held.
    virtual std::string answer(const std::string& command);

private:
    using Fields = std::vector<std::string>;
    // fields: the command without its final ";", split at ":".
    using Handler = std::string (SimSensor::*)(const std::string& command, const Fields& fields);
    // Handlers by "<module>:<action>"; a "*" module serves every module.
    static const std::map<std::string, Handler>& commandTable();
    static std::string refuse(const std::string& command);

    std::string version(const std::string& command, const Fields& fields);
    std::string id(const std::string& command, const Fields& fields);
    std::string bootloader(const std::string& command, const Fields& fields);
    std::string commit(const std::string& command, const Fields& fields);
    std::string reset(const std::string& command, const Fields& fields);
    std::string readRegister(const std::string& command, const Fields& fields);
    std::string writeRegister(const std::string& command, const Fields& fields);
    std::string point(const std::string& command, const Fields& fields);
    std::string penState(const std::string& command, const Fields& fields);
    std::string penId(const std::string& command, const Fields& fields);
    std::string calibrationState(const std::string& command, const Fields& fields);
    std::string calibrationStart(const std::string& command, const Fields& fields);
    std::string calibrationAbort(const std::string& command, const Fields& fields);
    std::string calibrationRead(const std::string& command, const Fields& fields);

    // Brings the live data up to the present; called with the lock held.
    void catchUpLocked() const;

    std::string m_versionReply = "app:version:HW 1.1:SW 2.4:2026:11:20;";
    std::string m_idReply = "app:id:TS-000123;";
    std::map<std::string, std::string> m_fixedReplies;
    std::deque<std::string> m_nextReplies;
    bool m_echoQueued = false;
    SensorRegisters m_registers;
    std::deque<std::string> m_registerWrites;
    int m_commits = 0;
    int m_resets = 0;
    int m_bootloaderRequests = 0;
    bool m_reenumerates = false;
    std::chrono::milliseconds m_reenumerateDelay{50};
    FlashGeometry m_bootloaderGeometry;
    // Lazily brought up to date, also by const readers.
    mutable PenModel m_pen;
    mutable Clock::time_point m_lastCatchUp = Clock::now();
    bool m_liveMotion = true;
    bool m_offBus = false;  // unplugged since the last report
};

} // namespace sim
