#pragma once

#include "simdevice.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace sim {

// The second transport of the simulated devices: every device plugged into SimBus becomes
// a kernel HID device through /dev/uhid (bus USB, its vendor and product ID, one 64-byte
// vendor-defined input and output report without report IDs), so that hidraw, and any
// program using hidapi's hidraw backend, sees it like a USB device. The models stay as
// they are: output reports go to SimDevice::write, whatever SimDevice::read yields goes
// back as input reports, with the model's own timing and faults. When the bus changes (the
// sensor leaves for its bootloader, the bootloader starts the application, a fault unplugs
// the device, a test plugs one in) the kernel device is destroyed and created anew.
//
// Threads: one event thread reads the kernel's events of every device and mirrors the bus;
// one reader thread per kernel device forwards the model's input reports.
class UhidTransport
{
public:
    // One output report as the kernel handed it over: report ID 0 first, then the report.
    struct Output {
        std::uint16_t productId = 0;
        std::vector<std::uint8_t> data;
        Clock::time_point at;  // when the transport took it from the kernel
    };

    UhidTransport();
    ~UhidTransport();
    UhidTransport(const UhidTransport&) = delete;
    UhidTransport& operator=(const UhidTransport&) = delete;

    // Runs before a device that has appeared on the bus is created in the kernel (frame
    // timing, faults). Set it before start().
    void setDeviceSetup(std::function<void(SimDevice&)> setup);
    // Called on the event thread for every output report (logging). Set it before start().
    void setOutputObserver(std::function<void(const Output&)> observer);
    // Called on the event thread when a program opens a device's node first (true) and
    // closes its last handle (false). Set it before start().
    void setOpenObserver(std::function<void(SimDevice&, bool opened)> observer);
    // Keeps the output reports for outputs(), the newest MaxLoggedReports; off by default.
    void setRecordOutputs(bool on);

    // Opens /dev/uhid count times ahead, for the kernel devices to come: a process that
    // gives up its privileges after start() can still create them (a descriptor is used
    // again after its device is destroyed).
    bool reserveDescriptors(int count, std::string* error);

    // Opens the wake-up channel, mirrors the bus as it is now and follows its changes.
    bool start(std::string* error);
    // Destroys every kernel device and stops the threads.
    void stop();

    // Kernel HID devices that no catalogue lists (another vendor), for measuring what
    // other devices on a desktop cost. They never answer.
    bool addUnrelatedDevices(int count, std::string* error);

    std::vector<Output> outputs() const;
    void clearOutputs();
    // Kernel devices now existing for bus devices with this product ID.
    int kernelDevices(std::uint16_t productId) const;
    // Number of times a program opened one of the model's kernel devices.
    int opens() const;

    // The report descriptor every device is created with.
    static std::vector<std::uint8_t> reportDescriptor();

private:
    struct Node;

    void run();
    void mirrorBus();
    std::unique_ptr<Node> createNode(const std::shared_ptr<SimDevice>& device, std::string* error);
    void destroyNode(Node& node);
    void handleEvent(Node& node);
    void forwardInput(Node* node);
    void wake();
    // A reserved /dev/uhid descriptor, or a newly opened one; -1 with the reason.
    int takeDescriptor(std::string* error);
    // A kernel device on a taken descriptor; -1 with the reason.
    int createDevice(const std::string& name, const std::string& serial, std::uint16_t vendor,
                     std::uint16_t product, std::string* error);
    // Destroys the kernel device and keeps its descriptor for the next one.
    void destroyDevice(int fd);

    std::function<void(SimDevice&)> m_setup;
    std::function<void(const Output&)> m_observer;
    std::function<void(SimDevice&, bool)> m_openObserver;
    std::atomic<bool> m_record{false};
    std::atomic<bool> m_stopping{false};
    int m_wakeFd = -1;
    std::thread m_events;
    mutable std::mutex m_mutex;  // guards m_nodes, m_unrelated, m_outputs, m_opens
    std::vector<std::unique_ptr<Node>> m_nodes;
    std::vector<int> m_unrelated;
    std::mutex m_spareMutex;  // guards m_spare alone: devices are destroyed with m_mutex held
    std::vector<int> m_spare;
    std::deque<Output> m_outputs;
    int m_opens = 0;
};

} // namespace sim
