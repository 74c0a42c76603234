#pragma once

#include "simdevice.h"

#include <deque>
#include <map>
#include <string>

namespace sim {

// Vendor and product IDs of the simulated family (the pid.codes test vendor).
constexpr std::uint16_t TestVendorId = 0x1209;
constexpr std::uint16_t SensorProductId = 0x0001;

// A sensor running its application firmware: one ASCII command per report, answered
// by one text reply.
class SimSensor : public SimDevice
{
public:
    static DeviceInfo defaultInfo();
    explicit SimSensor(DeviceInfo info = defaultInfo());

    // Replies of the identity commands.
    void setVersionReply(const std::string& reply);
    void setIdReply(const std::string& reply);
    // A fixed reply for one command, in place of what the model would answer.
    void setReply(const std::string& command, const std::string& reply);
    void clearReply(const std::string& command);
    // Replies used for the next commands, whatever they are, one each.
    void queueReply(const std::string& reply);

protected:
    std::vector<Report> handleReport(const Report& report) override;
    // The model's own answer; called with the device's lock held.
    virtual std::string answer(const std::string& command);

private:
    std::string m_versionReply = "app:version:HW 1.1:SW 2.4:2026:11:20;";
    std::string m_idReply = "app:id:TS-000123;";
    std::map<std::string, std::string> m_fixedReplies;
    std::deque<std::string> m_nextReplies;
};

} // namespace sim
