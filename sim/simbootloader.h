#pragma once

#include "simdevice.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace sim {

class SimSensor;

constexpr std::uint16_t BootloaderProductId = 0x0002;

// Flash geometry as the device reports it in its info reply. The reply carries the page
// count in 8 bits, the page and bootloader sizes in 16 bits and the flash size in 24 bits;
// keep the values within those widths. The memory itself is flashSize bytes.
struct FlashGeometry {
    std::uint32_t flashSize = 32768;
    std::uint32_t pageSize = 512;
    std::uint32_t pageCount = 64;
    std::uint32_t bootloaderSize = 4096;

    std::uint32_t applicationSize() const { return flashSize > bootloaderSize ? flashSize - bootloaderSize : 0; }
};

// Firmware image convention of the simulated family: a raw image of the application area,
// with the firmware version as text ("SW 2.5") at ImageVersionOffset, ended by a zero
// byte (or 0xFF, or ImageVersionLength bytes). The application is valid when that text
// begins with "SW "; the sensor then reports it as its firmware version.
constexpr std::size_t ImageVersionOffset = 0x100;
constexpr std::size_t ImageVersionLength = 16;

// A deterministic image of size bytes (a pattern varied by seed) with version written at
// ImageVersionOffset when the image is long enough to hold it and version is not empty.
std::vector<std::uint8_t> makeFirmwareImage(std::size_t size, const std::string& version, std::uint8_t seed = 0);

// The sensor in its resident HID bootloader. Binary requests, each one output report:
//   byte 0 command, bytes 1..3 address (big-endian, 24 bits), bytes 4..35 data.
//   0x01 GETINFO         -> info reply:   [0]=0x01 [1]=pageCount [2..3]=pageSize
//                                          [4..6]=flashSize [7..8]=bootloaderSize (big-endian)
//   0x02 ERASE_PAGE      -> status reply: [0]=0x01 ok / 0x00 refused, [1]=command, [2..4]=address
//   0x03 WRITE_BLOCK     -> status reply  (programs 32 bytes: bits only go from 1 to 0,
//                                          as in NOR flash, so an unerased block reads wrong)
//   0x04 READ_BLOCK      -> read reply:   [0]=0x01 ok / 0x00 refused, [1..3]=address,
//                                          [4..35]=32 flash bytes
//   0x05 RUN_APPLICATION -> no reply; the device leaves the bus and, after restartDelay,
//                           comes back as the sensor (product ID 0x0001) reporting the
//                           version found in the image; without a valid application it
//                           comes back as the bootloader again.
//   anything else        -> status reply 0x00.
// Erase and write are refused outside the application area (the bootloader protects
// itself), on a page or block that is not aligned, and with a page size of 0.
class SimBootloader : public SimDevice
{
public:
    enum Command : std::uint8_t {
        GetInfo = 0x01,
        ErasePage = 0x02,
        WriteBlock = 0x03,
        ReadBlock = 0x04,
        RunApplication = 0x05,
    };
    static constexpr std::size_t BlockSize = 32;
    static constexpr std::uint8_t Erased = 0xFF;

    static DeviceInfo defaultInfo();
    // The flash starts with a valid application (version "SW 2.4") and a bootloader area
    // filled with a pattern.
    explicit SimBootloader(FlashGeometry geometry = {}, DeviceInfo info = defaultInfo());

    FlashGeometry geometry() const;

    // Memory access for tests, bypassing the protocol.
    std::vector<std::uint8_t> flash() const;
    std::vector<std::uint8_t> flash(std::uint32_t address, std::size_t length) const;
    // Puts image at address 0 and erases the rest of the application area.
    void loadApplication(const std::vector<std::uint8_t>& image);
    // The version text of the application now in the flash ("" when there is none).
    std::string applicationVersion() const;

    // The sensor that the device becomes after RUN_APPLICATION. Without one, a new
    // SimSensor with default info is made (re-enumerating, see SimSensor::setReenumerates).
    void setApplication(std::shared_ptr<SimSensor> sensor);
    std::shared_ptr<SimSensor> application() const;
    // Hardware version that the application reports alongside the image's version.
    void setHardwareVersion(const std::string& hw);
    void setRestartDelay(std::chrono::milliseconds delay);

    // Faults of the bootloader protocol, in addition to SimDevice's:
    // every READ_BLOCK covering address returns that byte altered (verify mismatch) ...
    void setReadCorruption(std::optional<std::uint32_t> address);
    // ... and the request with this number (1 = next request handled) is refused with
    // a status/read reply byte 0 of 0x00.
    void injectRefusal(int requestFromNow);

    // Requests handled, by command code (a request lost to a SimDevice fault before
    // reaching the device, such as WriteFails, is not counted).
    int requestCount(Command command) const;
    // Addresses of the requests handled of one command, in order: the newest
    // MaxLoggedReports, so that a long run (tessaro-uhid) does not grow without end.
    std::vector<std::uint32_t> requestAddresses(Command command) const;
    int applicationStarts() const;

    // Plugs a bootloader device in place of the sensor at sensorPath, after delay: the
    // sensor leaves the bus at once. The new device starts with an application carrying
    // the sensor's current firmware version and comes back as that same sensor. Runs on
    // the bus thread, so it may be called with a device lock held.
    static void enterFromSensor(const std::string& sensorPath, std::chrono::milliseconds delay,
                                const FlashGeometry& geometry = {});

protected:
    std::vector<Report> handleReport(const Report& report) override;

private:
    Report statusReply(bool ok, std::uint8_t command, std::uint32_t address) const;
    Report infoReply() const;
    bool erasePage(std::uint32_t address);
    bool writeBlock(std::uint32_t address, const std::uint8_t* data);
    std::optional<Report> readBlock(std::uint32_t address) const;
    std::string versionLocked() const;
    void startApplicationLocked();

    FlashGeometry m_geometry;
    std::vector<std::uint8_t> m_flash;
    std::shared_ptr<SimSensor> m_application;
    std::string m_hardware = "HW 1.1";
    std::chrono::milliseconds m_restartDelay{50};
    std::optional<std::uint32_t> m_corruptAddress;
    std::set<std::int64_t> m_refusals;
    std::int64_t m_requests = 0;
    std::map<std::uint8_t, std::int64_t> m_counts;
    std::map<std::uint8_t, std::deque<std::uint32_t>> m_handled;
    int m_starts = 0;
};

} // namespace sim
