#include "simbootloader.h"

#include "simbus.h"
#include "simsensor.h"

#include <algorithm>
#include <climits>
#include <cstring>

namespace sim {

namespace {

// The sensor answers "app:bootloader;" before it resets; leave it the time to be read.
constexpr std::chrono::milliseconds SensorResetTime{50};
constexpr char VersionPrefix[] = "SW ";
constexpr std::uint8_t BootloaderFill = 0xB0;

std::uint32_t address24(const Report& report)
{
    return (std::uint32_t{report[1]} << 16) | (std::uint32_t{report[2]} << 8) | report[3];
}

void put24(Report& report, std::size_t at, std::uint32_t value)
{
    report[at] = static_cast<std::uint8_t>(value >> 16);
    report[at + 1] = static_cast<std::uint8_t>(value >> 8);
    report[at + 2] = static_cast<std::uint8_t>(value);
}

void put16(Report& report, std::size_t at, std::uint32_t value)
{
    report[at] = static_cast<std::uint8_t>(value >> 8);
    report[at + 1] = static_cast<std::uint8_t>(value);
}

// Field k of a text reply split at ":" (without its ";"), or "" when absent.
std::string replyField(const std::string& reply, std::size_t k)
{
    const std::string text = reply.substr(0, reply.find(';'));
    std::size_t start = 0;
    for (std::size_t i = 0; i < k; ++i) {
        start = text.find(':', start);
        if (start == std::string::npos)
            return {};
        ++start;
    }
    return text.substr(start, text.find(':', start) - start);
}

} // namespace

std::vector<std::uint8_t> makeFirmwareImage(std::size_t size, const std::string& version, std::uint8_t seed)
{
    std::vector<std::uint8_t> image(size);
    for (std::size_t i = 0; i < size; ++i)
        image[i] = static_cast<std::uint8_t>((i * 31 + (i >> 8) * 7 + seed) & 0xFF);
    const std::size_t length = std::min(version.size(), ImageVersionLength - 1);
    if (!version.empty() && size >= ImageVersionOffset + length + 1) {
        std::memcpy(image.data() + ImageVersionOffset, version.data(), length);
        image[ImageVersionOffset + length] = 0;
    }
    return image;
}

DeviceInfo SimBootloader::defaultInfo()
{
    DeviceInfo info;
    info.vendorId = TestVendorId;
    info.productId = BootloaderProductId;
    info.interfaceNumber = 0;
    info.path = "sim/1209:0002:00";
    info.product = L"Tessaro bootloader";
    return info;
}

SimBootloader::SimBootloader(FlashGeometry geometry, DeviceInfo info)
    : SimDevice(std::move(info))
    , m_geometry(geometry)
    , m_flash(geometry.flashSize, Erased)
{
    const std::uint32_t application = m_geometry.applicationSize();
    std::fill(m_flash.begin() + application, m_flash.end(), BootloaderFill);
    const auto image = makeFirmwareImage(application, "SW 2.4");
    std::copy(image.begin(), image.end(), m_flash.begin());
}

FlashGeometry SimBootloader::geometry() const
{
    std::lock_guard<std::mutex> guard(lock());
    return m_geometry;
}

std::vector<std::uint8_t> SimBootloader::flash() const
{
    std::lock_guard<std::mutex> guard(lock());
    return m_flash;
}

std::vector<std::uint8_t> SimBootloader::flash(std::uint32_t address, std::size_t length) const
{
    std::lock_guard<std::mutex> guard(lock());
    if (address >= m_flash.size())
        return {};
    const std::size_t n = std::min(length, m_flash.size() - address);
    return std::vector<std::uint8_t>(m_flash.begin() + address, m_flash.begin() + address + n);
}

void SimBootloader::loadApplication(const std::vector<std::uint8_t>& image)
{
    std::lock_guard<std::mutex> guard(lock());
    const std::size_t application = m_geometry.applicationSize();
    std::fill(m_flash.begin(), m_flash.begin() + application, Erased);
    std::copy(image.begin(), image.begin() + std::min(image.size(), application), m_flash.begin());
}

std::string SimBootloader::applicationVersion() const
{
    std::lock_guard<std::mutex> guard(lock());
    return versionLocked();
}

std::string SimBootloader::versionLocked() const
{
    if (m_geometry.applicationSize() < ImageVersionOffset + ImageVersionLength)
        return {};
    std::string text;
    for (std::size_t i = 0; i < ImageVersionLength; ++i) {
        const std::uint8_t byte = m_flash[ImageVersionOffset + i];
        if (byte == 0 || byte == Erased)
            break;
        text.push_back(static_cast<char>(byte));
    }
    return text.rfind(VersionPrefix, 0) == 0 ? text : std::string();
}

void SimBootloader::setApplication(std::shared_ptr<SimSensor> sensor)
{
    std::lock_guard<std::mutex> guard(lock());
    m_application = std::move(sensor);
}

std::shared_ptr<SimSensor> SimBootloader::application() const
{
    std::lock_guard<std::mutex> guard(lock());
    return m_application;
}

void SimBootloader::setHardwareVersion(const std::string& hw)
{
    std::lock_guard<std::mutex> guard(lock());
    m_hardware = hw;
}

void SimBootloader::setRestartDelay(std::chrono::milliseconds delay)
{
    std::lock_guard<std::mutex> guard(lock());
    m_restartDelay = delay;
}

void SimBootloader::setReadCorruption(std::optional<std::uint32_t> address)
{
    std::lock_guard<std::mutex> guard(lock());
    m_corruptAddress = address;
}

void SimBootloader::injectRefusal(int requestFromNow)
{
    std::lock_guard<std::mutex> guard(lock());
    m_refusals.insert(m_requests + requestFromNow);
}

int SimBootloader::requestCount(Command command) const
{
    std::lock_guard<std::mutex> guard(lock());
    const auto it = m_counts.find(command);
    return it == m_counts.end() ? 0 : static_cast<int>(std::min<std::int64_t>(it->second, INT_MAX));
}

std::vector<std::uint32_t> SimBootloader::requestAddresses(Command command) const
{
    std::lock_guard<std::mutex> guard(lock());
    const auto it = m_handled.find(command);
    return it == m_handled.end() ? std::vector<std::uint32_t>()
                                 : std::vector<std::uint32_t>(it->second.begin(), it->second.end());
}

int SimBootloader::applicationStarts() const
{
    std::lock_guard<std::mutex> guard(lock());
    return m_starts;
}

Report SimBootloader::statusReply(bool ok, std::uint8_t command, std::uint32_t address) const
{
    Report reply{};
    reply[0] = ok ? 0x01 : 0x00;
    reply[1] = command;
    put24(reply, 2, address);
    return reply;
}

Report SimBootloader::infoReply() const
{
    Report reply{};
    reply[0] = 0x01;
    reply[1] = static_cast<std::uint8_t>(m_geometry.pageCount);
    put16(reply, 2, m_geometry.pageSize);
    put24(reply, 4, m_geometry.flashSize);
    put16(reply, 7, m_geometry.bootloaderSize);
    return reply;
}

bool SimBootloader::erasePage(std::uint32_t address)
{
    const std::uint32_t application = m_geometry.applicationSize();
    if (m_geometry.pageSize == 0 || address % m_geometry.pageSize != 0 || address >= application)
        return false;
    const std::uint32_t end = std::min(address + m_geometry.pageSize, application);
    std::fill(m_flash.begin() + address, m_flash.begin() + end, Erased);
    return true;
}

bool SimBootloader::writeBlock(std::uint32_t address, const std::uint8_t* data)
{
    if (address % BlockSize != 0 || std::uint64_t{address} + BlockSize > m_geometry.applicationSize())
        return false;
    for (std::size_t i = 0; i < BlockSize; ++i)
        m_flash[address + i] &= data[i];
    return true;
}

std::optional<Report> SimBootloader::readBlock(std::uint32_t address) const
{
    if (std::uint64_t{address} + BlockSize > m_flash.size())
        return std::nullopt;
    Report reply{};
    reply[0] = 0x01;
    put24(reply, 1, address);
    std::copy(m_flash.begin() + address, m_flash.begin() + address + BlockSize, reply.begin() + 4);
    if (m_corruptAddress && *m_corruptAddress >= address && *m_corruptAddress < address + BlockSize)
        reply[4 + (*m_corruptAddress - address)] ^= 0x5A;
    return reply;
}

std::vector<Report> SimBootloader::handleReport(const Report& report)
{
    const std::uint8_t command = report[0];
    const std::uint32_t address = address24(report);
    ++m_requests;
    ++m_counts[command];
    std::deque<std::uint32_t>& addresses = m_handled[command];
    addresses.push_back(address);
    if (addresses.size() > MaxLoggedReports)
        addresses.pop_front();
    const bool refused = m_refusals.erase(m_requests) > 0;

    switch (command) {
    case GetInfo:
        return {infoReply()};
    case ErasePage:
        return {statusReply(!refused && erasePage(address), command, address)};
    case WriteBlock:
        return {statusReply(!refused && writeBlock(address, report.data() + 4), command, address)};
    case ReadBlock: {
        const auto reply = readBlock(address);
        if (refused || !reply)
            return {statusReply(false, command, address)};
        return {*reply};
    }
    case RunApplication:
        startApplicationLocked();
        return {};
    default:
        return {statusReply(false, command, address)};
    }
}

void SimBootloader::startApplicationLocked()
{
    ++m_starts;
    const std::string version = versionLocked();
    std::shared_ptr<SimSensor> sensor;
    if (!version.empty()) {
        if (!m_application) {
            m_application = std::make_shared<SimSensor>();
            m_application->setReenumerates(true);
        }
        sensor = m_application;
    }
    const std::string path = info().path;
    const std::string reply = "app:version:" + m_hardware + ':' + version + ":2026:11:20;";
    const auto delay = m_restartDelay;
    // The bus, not this device's lock, is where devices come and go.
    SimBus::instance().schedule(std::chrono::milliseconds(0), [path, sensor, reply, delay] {
        SimBus& bus = SimBus::instance();
        const std::shared_ptr<SimDevice> self = bus.findByPath(path);
        if (!self)
            return;
        bus.unplug(self.get());
        if (sensor) {
            sensor->setVersionReply(reply);
            bus.schedule(delay, [sensor] { SimBus::instance().plug(sensor); });
        } else {
            // No valid application: the device resets into its bootloader again.
            bus.schedule(delay, [self] { SimBus::instance().plug(self); });
        }
    });
}

void SimBootloader::enterFromSensor(const std::string& sensorPath, std::chrono::milliseconds delay,
                                    const FlashGeometry& geometry)
{
    SimBus::instance().schedule(SensorResetTime, [sensorPath, delay, geometry] {
        SimBus& bus = SimBus::instance();
        const auto sensor = std::dynamic_pointer_cast<SimSensor>(bus.findByPath(sensorPath));
        if (!sensor)
            return;
        bus.unplug(sensor.get());
        const std::string reply = sensor->versionReply();
        auto loader = std::make_shared<SimBootloader>(geometry);
        loader->loadApplication(makeFirmwareImage(loader->geometry().applicationSize(), replyField(reply, 3)));
        loader->setHardwareVersion(replyField(reply, 2));
        loader->setApplication(sensor);
        bus.schedule(delay, [loader] { SimBus::instance().plug(loader); });
    });
}

} // namespace sim
