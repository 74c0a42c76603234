#pragma once

#include "simdevice.h"
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
//   "app:bootloader;"     -> "app:bootloader:ok;"         (only recorded)
//   anything it refuses   -> the command without its ";" followed by ":err;"
// A refused read thus has 4 fields ("sens:read:bogus:err;"), so the tool, which takes the
// value only from replies of more than 4 fields, leaves its editor unchanged.
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

    int commitCount() const;
    int resetCount() const;
    int bootloaderRequests() const;

protected:
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

    std::string m_versionReply = "app:version:HW 1.1:SW 2.4:2026:11:20;";
    std::string m_idReply = "app:id:TS-000123;";
    std::map<std::string, std::string> m_fixedReplies;
    std::deque<std::string> m_nextReplies;
    SensorRegisters m_registers;
    int m_commits = 0;
    int m_resets = 0;
    int m_bootloaderRequests = 0;
};

} // namespace sim
