#include "simsensor.h"

#include "simbootloader.h"

#include <algorithm>
#include <cstdio>

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

// Register reads ("m:read:r;") and the version request, whose replies repeat their fields.
bool echoesItsFields(const std::string& command)
{
    if (command == "app:version;")
        return true;
    if (command.empty() || command.back() != ';')
        return false;
    const std::vector<std::string> fields = splitFields(command.substr(0, command.size() - 1));
    return fields.size() == 3 && fields[1] == "read";
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

void SimSensor::setQueuedRepliesEcho(bool on)
{
    std::lock_guard<std::mutex> guard(lock());
    m_echoQueued = on;
}

void SimSensor::clearQueuedReplies()
{
    std::lock_guard<std::mutex> guard(lock());
    m_nextReplies.clear();
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

std::vector<std::string> SimSensor::registerWrites() const
{
    std::lock_guard<std::mutex> guard(lock());
    return std::vector<std::string>(m_registerWrites.begin(), m_registerWrites.end());
}

void SimSensor::clearRegisterWrites()
{
    std::lock_guard<std::mutex> guard(lock());
    m_registerWrites.clear();
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

void SimSensor::setReenumerates(bool on, std::chrono::milliseconds delay)
{
    std::lock_guard<std::mutex> guard(lock());
    m_reenumerates = on;
    m_reenumerateDelay = delay;
}

void SimSensor::setBootloaderGeometry(const FlashGeometry& geometry)
{
    std::lock_guard<std::mutex> guard(lock());
    m_bootloaderGeometry = geometry;
}

std::string SimSensor::versionReply() const
{
    std::lock_guard<std::mutex> guard(lock());
    return m_versionReply;
}

void SimSensor::setLiveMotion(bool live)
{
    std::lock_guard<std::mutex> guard(lock());
    catchUpLocked();
    m_liveMotion = live;
}

bool SimSensor::liveMotion() const
{
    std::lock_guard<std::mutex> guard(lock());
    return m_liveMotion;
}

void SimSensor::advanceTime(std::chrono::milliseconds elapsed)
{
    std::lock_guard<std::mutex> guard(lock());
    catchUpLocked();
    m_pen.advance(elapsed);
}

void SimSensor::setPenPresent(bool present)
{
    std::lock_guard<std::mutex> guard(lock());
    catchUpLocked();
    m_pen.setPresent(present);
}

bool SimSensor::penPresent() const
{
    std::lock_guard<std::mutex> guard(lock());
    return m_pen.present();
}

void SimSensor::setPenPoint(int x, int y, int size, int number)
{
    std::lock_guard<std::mutex> guard(lock());
    catchUpLocked();
    m_pen.holdPoint({x, y, size, number});
}

void SimSensor::followPenPath()
{
    std::lock_guard<std::mutex> guard(lock());
    catchUpLocked();
    m_pen.followPath();
}

PenPoint SimSensor::penPoint() const
{
    std::lock_guard<std::mutex> guard(lock());
    catchUpLocked();
    return m_pen.point();
}

void SimSensor::setBatteryReading(int reading)
{
    std::lock_guard<std::mutex> guard(lock());
    catchUpLocked();
    m_pen.setBatteryReading(reading);
}

int SimSensor::batteryReading() const
{
    std::lock_guard<std::mutex> guard(lock());
    catchUpLocked();
    return m_pen.batteryReading();
}

void SimSensor::setBatteryDrainTime(std::chrono::milliseconds perStep)
{
    std::lock_guard<std::mutex> guard(lock());
    catchUpLocked();
    m_pen.setBatteryDrainTime(perStep);
}

void SimSensor::setRunningSeconds(int seconds)
{
    std::lock_guard<std::mutex> guard(lock());
    catchUpLocked();
    m_pen.setRunningSeconds(seconds);
}

int SimSensor::runningSeconds() const
{
    std::lock_guard<std::mutex> guard(lock());
    catchUpLocked();
    return m_pen.runningSeconds();
}

void SimSensor::setPairing(int progress)
{
    std::lock_guard<std::mutex> guard(lock());
    catchUpLocked();
    m_pen.setPairing(progress);
}

int SimSensor::pairing() const
{
    std::lock_guard<std::mutex> guard(lock());
    catchUpLocked();
    return m_pen.pairing();
}

void SimSensor::setPairingStepTime(std::chrono::milliseconds perStep)
{
    std::lock_guard<std::mutex> guard(lock());
    catchUpLocked();
    m_pen.setPairingStepTime(perStep);
}

void SimSensor::setPenId(const std::string& id)
{
    std::lock_guard<std::mutex> guard(lock());
    m_pen.setPenId(id);
}

void SimSensor::setPenVersion(int version)
{
    std::lock_guard<std::mutex> guard(lock());
    m_pen.setPenVersion(version);
}

void SimSensor::setCalibrationStepTime(std::chrono::milliseconds perPoint)
{
    std::lock_guard<std::mutex> guard(lock());
    catchUpLocked();
    m_pen.setCalibrationStepTime(perPoint);
}

bool SimSensor::calibrationRunning() const
{
    std::lock_guard<std::mutex> guard(lock());
    catchUpLocked();
    return m_pen.calibrationRunning();
}

int SimSensor::calibrationPoint() const
{
    std::lock_guard<std::mutex> guard(lock());
    catchUpLocked();
    return m_pen.calibrationPoint();
}

int SimSensor::calibrationsFinished() const
{
    std::lock_guard<std::mutex> guard(lock());
    catchUpLocked();
    return m_pen.calibrationsFinished();
}

void SimSensor::setCorners(const Corners& corners)
{
    std::lock_guard<std::mutex> guard(lock());
    catchUpLocked();
    m_pen.setCorners(corners);
}

Corners SimSensor::corners() const
{
    std::lock_guard<std::mutex> guard(lock());
    catchUpLocked();
    return m_pen.corners();
}

void SimSensor::onUnplugged()
{
    std::lock_guard<std::mutex> guard(lock());
    catchUpLocked();
    m_offBus = true;
}

void SimSensor::catchUpLocked() const
{
    const auto now = Clock::now();
    // A sensor off the bus has no power: its time does not count.
    if (m_liveMotion && !m_offBus)
        m_pen.advance(std::chrono::duration_cast<PenModel::Duration>(now - m_lastCatchUp));
    m_lastCatchUp = now;
}

std::vector<Report> SimSensor::handleReport(const Report& report)
{
    if (m_offBus) {
        // Back on the bus: the sensor has restarted.
        m_offBus = false;
        m_pen.restartLink();
    }
    catchUpLocked();
    const auto end = std::find(report.begin(), report.end(), 0);
    const std::string command(report.begin(), end);
    // The model acts first, so a replaced reply does not hide a write or a commit.
    const std::string own = answer(command);
    if (!m_nextReplies.empty()) {
        std::string reply = m_nextReplies.front();
        m_nextReplies.pop_front();
        if (m_echoQueued && echoesItsFields(command))
            reply = command.substr(0, command.size() - 1) + ':' + reply;
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
        {"sens:point", &SimSensor::point},
        {"pen:state", &SimSensor::penState},
        {"pen:id", &SimSensor::penId},
        {"cal:state", &SimSensor::calibrationState},
        {"cal:start", &SimSensor::calibrationStart},
        {"cal:abort", &SimSensor::calibrationAbort},
        {"cal:read", &SimSensor::calibrationRead},
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
    if (m_reenumerates)
        SimBootloader::enterFromSensor(info().path, m_reenumerateDelay, m_bootloaderGeometry);
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
    if (m_registerWrites.size() >= MaxLoggedReports)
        m_registerWrites.pop_front();
    m_registerWrites.push_back(fields[0] + ':' + fields[2] + ':' + fields[3]);
    return reply;
}

std::string SimSensor::point(const std::string& command, const Fields& fields)
{
    if (fields.size() != 2)
        return refuse(command);
    const PenPoint p = m_pen.point();
    return "sens:point:" + std::to_string(p.x) + ':' + std::to_string(p.y) + ':' + std::to_string(p.size) + ':'
           + std::to_string(p.number) + ';';
}

std::string SimSensor::penState(const std::string& command, const Fields& fields)
{
    if (fields.size() != 2)
        return refuse(command);
    // No action echo: field 1 is the state, "2" for valid pen data; without a pen there
    // is no reading at all.
    if (!m_pen.present())
        return "pen:0:0:0;";
    return "pen:2:" + std::to_string(m_pen.batteryReading()) + ':' + std::to_string(m_pen.runningSeconds()) + ';';
}

std::string SimSensor::penId(const std::string& command, const Fields& fields)
{
    if (fields.size() != 2)
        return refuse(command);
    if (!m_pen.present())
        return "pen:id:0::0000;";
    char version[16];
    std::snprintf(version, sizeof version, "%04X", static_cast<unsigned>(m_pen.penVersion()) & 0xFFFFu);
    // A pen id too long for one report is cut at the report's end like any reply.
    return "pen:id:" + std::to_string(m_pen.pairing()) + ':' + m_pen.penId() + ':' + version + ';';
}

std::string SimSensor::calibrationState(const std::string& command, const Fields& fields)
{
    if (fields.size() != 2)
        return refuse(command);
    // Field 2 is "0" for no calibration running (done), field 3 the point waited for.
    if (!m_pen.calibrationRunning())
        return "cal:state:0:0;";
    return "cal:state:1:" + std::to_string(m_pen.calibrationPoint()) + ';';
}

std::string SimSensor::calibrationStart(const std::string& command, const Fields& fields)
{
    if (fields.size() != 2)
        return refuse(command);
    m_pen.startCalibration();
    return "cal:start:ok;";
}

std::string SimSensor::calibrationAbort(const std::string& command, const Fields& fields)
{
    if (fields.size() != 2)
        return refuse(command);
    m_pen.abortCalibration();
    return "cal:abort:ok;";
}

std::string SimSensor::calibrationRead(const std::string& command, const Fields& fields)
{
    // "cal" also has configuration registers; only "x" or "y" followed by digits names a corner.
    const std::string name = fields.size() == 3 ? fields[2] : std::string();
    const bool cornerName = name.size() >= 2 && (name[0] == 'x' || name[0] == 'y')
                            && std::all_of(name.begin() + 1, name.end(), [](char c) { return c >= '0' && c <= '9'; });
    if (!cornerName)
        return readRegister(command, fields);
    // One digit: corners 1 to 4 only, written as the tool writes them.
    const auto value = name.size() == 2 ? m_pen.corner(name[0], name[1] - '0') : std::nullopt;
    if (!value)
        return refuse(command);
    return "cal:read:" + name + ':' + std::to_string(*value) + ":ok;";
}

} // namespace sim
