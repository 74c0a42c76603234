#include "simsensor.h"

#include <algorithm>

namespace sim {

namespace {

std::vector<std::string> splitFields(const std::string& text)
{
    std::vector<std::string> fields;
    std::string::size_type start = 0;
    for (;;) {
        const auto colon = text.find(':', start);
        fields.push_back(text.substr(start, colon == std::string::npos ? std::string::npos : colon - start));
        if (colon == std::string::npos)
            return fields;
        start = colon + 1;
    }
}

} // namespace

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

void SimSensor::setRegister(const std::string& module, const std::string& name, const std::string& value)
{
    std::lock_guard<std::mutex> guard(lock());
    m_registers.set(module, name, value);
}

void SimSensor::setRegister(const std::string& module, const std::string& name, int value)
{
    setRegister(module, name, std::to_string(value));
}

void SimSensor::removeRegister(const std::string& module, const std::string& name)
{
    std::lock_guard<std::mutex> guard(lock());
    m_registers.remove(module, name);
}

void SimSensor::restoreDefaultRegisters()
{
    std::lock_guard<std::mutex> guard(lock());
    m_registers.restoreDefaults();
}

std::optional<std::string> SimSensor::registerValue(const std::string& module, const std::string& name) const
{
    std::lock_guard<std::mutex> guard(lock());
    return m_registers.value(module, name);
}

std::optional<std::string> SimSensor::savedRegisterValue(const std::string& module, const std::string& name) const
{
    std::lock_guard<std::mutex> guard(lock());
    return m_registers.savedValue(module, name);
}

int SimSensor::commitCount() const
{
    std::lock_guard<std::mutex> guard(lock());
    return m_commits;
}

int SimSensor::resetCount() const
{
    std::lock_guard<std::mutex> guard(lock());
    return m_resets;
}

int SimSensor::bootloaderRequests() const
{
    std::lock_guard<std::mutex> guard(lock());
    return m_bootloaderRequests;
}

std::vector<Report> SimSensor::handleReport(const Report& report)
{
    const auto end = std::find(report.begin(), report.end(), 0);
    const std::string command(report.begin(), end);
    // The model acts first, so a replaced reply does not hide a write or a commit.
    const std::string own = answer(command);
    if (!m_nextReplies.empty()) {
        const std::string reply = m_nextReplies.front();
        m_nextReplies.pop_front();
        return {textReport(reply)};
    }
    const auto fixed = m_fixedReplies.find(command);
    if (fixed != m_fixedReplies.end())
        return {textReport(fixed->second)};
    return {textReport(own)};
}

const std::map<std::string, SimSensor::Handler>& SimSensor::commandTable()
{
    static const std::map<std::string, Handler> table = {
        {"app:version", &SimSensor::version},
        {"app:id", &SimSensor::id},
        {"app:bootloader", &SimSensor::bootloader},
        {"sens:commit", &SimSensor::commit},
        {"sens:reset", &SimSensor::reset},
        {"*:read", &SimSensor::readRegister},
        {"*:write", &SimSensor::writeRegister},
    };
    return table;
}

std::string SimSensor::refuse(const std::string& command)
{
    // Unknown or malformed commands are echoed with an error field, as the firmware does.
    std::string echoed = command;
    if (!echoed.empty() && echoed.back() == ';')
        echoed.pop_back();
    return echoed + ":err;";
}

std::string SimSensor::answer(const std::string& command)
{
    if (command.empty() || command.back() != ';')
        return refuse(command);
    const Fields fields = splitFields(command.substr(0, command.size() - 1));
    if (fields.size() < 2)
        return refuse(command);
    const auto& table = commandTable();
    auto handler = table.find(fields[0] + ':' + fields[1]);
    if (handler == table.end())
        handler = table.find("*:" + fields[1]);
    if (handler == table.end())
        return refuse(command);
    return (this->*(handler->second))(command, fields);
}

std::string SimSensor::version(const std::string& command, const Fields& fields)
{
    return fields.size() == 2 ? m_versionReply : refuse(command);
}

std::string SimSensor::id(const std::string& command, const Fields& fields)
{
    return fields.size() == 2 ? m_idReply : refuse(command);
}

std::string SimSensor::bootloader(const std::string& command, const Fields& fields)
{
    if (fields.size() != 2)
        return refuse(command);
    ++m_bootloaderRequests;
    return "app:bootloader:ok;";
}

std::string SimSensor::commit(const std::string& command, const Fields& fields)
{
    if (fields.size() != 2)
        return refuse(command);
    m_registers.commit();
    ++m_commits;
    return "sens:commit:ok;";
}

std::string SimSensor::reset(const std::string& command, const Fields& fields)
{
    if (fields.size() != 2)
        return refuse(command);
    ++m_resets;
    return "sens:reset:ok;";
}

std::string SimSensor::readRegister(const std::string& command, const Fields& fields)
{
    if (fields.size() != 3)
        return refuse(command);
    const auto value = m_registers.value(fields[0], fields[2]);
    if (!value)
        return refuse(command);
    return fields[0] + ":read:" + fields[2] + ':' + *value + ":ok;";
}

std::string SimSensor::writeRegister(const std::string& command, const Fields& fields)
{
    // Exactly one value field, not empty: a value with ":" or ";" could not be read back whole.
    if (fields.size() != 4 || fields[3].empty() || fields[3].find(';') != std::string::npos)
        return refuse(command);
    std::string reply = fields[0] + ":write:" + fields[2] + ':' + fields[3] + ":ok;";
    // A value whose reply would not fit one report is refused; the read-back reply, one
    // byte shorter, then always fits as well.
    if (reply.size() > ReportSize || !m_registers.write(fields[0], fields[2], fields[3]))
        return refuse(command);
    return reply;
}

} // namespace sim
