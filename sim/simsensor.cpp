#include "simsensor.h"

#include <algorithm>

namespace sim {

DeviceInfo SimSensor::defaultInfo()
{
    DeviceInfo info;
    info.vendorId = TestVendorId;
    info.productId = SensorProductId;
    info.interfaceNumber = 0;
    info.path = "sim/1209:0001:00";
    info.product = L"Tessaro sensor";
    return info;
}

SimSensor::SimSensor(DeviceInfo info)
    : SimDevice(std::move(info))
{
}

void SimSensor::setVersionReply(const std::string& reply)
{
    std::lock_guard<std::mutex> guard(lock());
    m_versionReply = reply;
}

void SimSensor::setIdReply(const std::string& reply)
{
    std::lock_guard<std::mutex> guard(lock());
    m_idReply = reply;
}

void SimSensor::setReply(const std::string& command, const std::string& reply)
{
    std::lock_guard<std::mutex> guard(lock());
    m_fixedReplies[command] = reply;
}

void SimSensor::clearReply(const std::string& command)
{
    std::lock_guard<std::mutex> guard(lock());
    m_fixedReplies.erase(command);
}

void SimSensor::queueReply(const std::string& reply)
{
    std::lock_guard<std::mutex> guard(lock());
    m_nextReplies.push_back(reply);
}

std::vector<Report> SimSensor::handleReport(const Report& report)
{
    const auto end = std::find(report.begin(), report.end(), 0);
    const std::string command(report.begin(), end);
    if (!m_nextReplies.empty()) {
        const std::string reply = m_nextReplies.front();
        m_nextReplies.pop_front();
        return {textReport(reply)};
    }
    const auto fixed = m_fixedReplies.find(command);
    if (fixed != m_fixedReplies.end())
        return {textReport(fixed->second)};
    return {textReport(answer(command))};
}

std::string SimSensor::answer(const std::string& command)
{
    if (command == "app:version;")
        return m_versionReply;
    if (command == "app:id;")
        return m_idReply;
    // Unknown commands are echoed with an error field, as the firmware does.
    std::string echoed = command;
    if (!echoed.empty() && echoed.back() == ';')
        echoed.pop_back();
    return echoed + ":err;";
}

} // namespace sim
