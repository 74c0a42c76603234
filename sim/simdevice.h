#pragma once

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace sim {

// One HID report as it crosses the bus, without the report ID.
constexpr std::size_t ReportSize = 64;
using Report = std::array<std::uint8_t, ReportSize>;
using Clock = std::chrono::steady_clock;
// Reports a device keeps in its log: a whole flashing run of the largest image the tests
// use; older entries go, so that a long demo run does not grow without end.
constexpr std::size_t MaxLoggedReports = 16384;

// What a device does wrong at one exchange (one output report it receives).
enum class Fault {
    None,
    WriteFails,  // hid_write returns -1
    ReadFails,   // the write succeeds, the next read returns -1
    NoReply,     // the device swallows the report: the read times out
    LateReply,   // the reply arrives lateReplyDelay() after the request, or as the device
                 // receives its next report if that is sooner (so it lands in the next
                 // exchange's wait, whatever the machine's load); later replies queue
                 // behind it, as the device answers in order
    Garbage,     // the reply is 64 non-zero bytes
    Unplug,      // the device leaves the bus as the report arrives
};

struct DeviceInfo {
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    int interfaceNumber = 0;
    std::string path;
    std::wstring manufacturer = L"Corvanel";
    std::wstring product = L"Tessaro";
    std::wstring serial = L"SIM0001";
};

// A device on the simulated bus. Thread-safe: tests drive it from the GUI thread while
// the program may use it from pool threads. Subclasses answer the output reports.
class SimDevice
{
public:
    explicit SimDevice(DeviceInfo info);
    virtual ~SimDevice();
    SimDevice(const SimDevice&) = delete;
    SimDevice& operator=(const SimDevice&) = delete;

    const DeviceInfo& info() const { return m_info; }

    // Whether hid_open_path succeeds (false: held by another program, no access rights).
    void setOpenable(bool openable);
    bool openable() const;

    // USB frame timing (0: none). Frames start at whole multiples of latency on a clock
    // shared by every device: a request goes out at the start of the next frame (the write
    // returns then) and its reply is readable one frame later. An exchange thus takes two
    // frames when the program writes again within the frame its reply came in.
    void setLatency(std::chrono::microseconds latency);

    // Fault at the exchange with the given number (1 = the next output report received).
    void injectFault(int exchangeFromNow, Fault fault);
    // Fault at every exchange from now on (Fault::None clears it).
    void setPersistentFault(Fault fault);
    void clearFaults();
    void setLateReplyDelay(std::chrono::milliseconds delay);

    // Log of the output reports received (the newest MaxLoggedReports), zero-filled to 64
    // bytes, and the number of data bytes each one really had.
    std::vector<Report> receivedReports() const;
    std::vector<std::size_t> receivedReportLengths() const;
    // The same reports as text up to their first zero byte.
    std::vector<std::string> receivedCommands() const;
    // The time limits of the reads that ran out with nothing to return, oldest first (as
    // long as the log): which wait a silent exchange took, without timing it.
    std::vector<int> emptyReadLimits() const;
    void clearLog();
    int exchangeCount() const;

    // Off by default: like a device made for full reports, a report of fewer than 64 data
    // bytes is logged but not acted on (hidraw does not pad what the program writes).
    void setAcceptsShortReports(bool accepts);

    // Puts a report into the input queue as if the device had sent it unasked.
    void pushInputReport(const Report& report, std::chrono::milliseconds delay = {});

    // --- used by the hidapi layer and the bus ---
    // Like hidraw, every open handle (reader) gets its own copy of every input report that
    // arrives while it is open. openReader returns 0 when the device is not plugged in;
    // *generation is the plug-in the reader belongs to.
    unsigned openReader(unsigned* generation);
    void closeReader(unsigned reader);
    int write(unsigned generation, const std::uint8_t* data, std::size_t length);
    int read(unsigned generation, unsigned reader, std::uint8_t* data, std::size_t length, int timeoutMs);
    bool isAlive(unsigned generation) const;
    unsigned attach();  // plugged in: a new generation, no readers, nothing in flight
    void detach();      // unplugged: every handle of the old generation fails
    bool plugged() const;
    unsigned generation() const;

protected:
    // Called with the device's lock held for each report received; return the reply
    // reports to queue (none for a device that stays silent).
    virtual std::vector<Report> handleReport(const Report& report) = 0;

    // Called for state changes that subclasses want to see under their own terms.
    virtual void onUnplugged() {}

    // Lock for subclass state: the same one that guards the queues.
    std::mutex& lock() const { return m_mutex; }

    static Report textReport(const std::string& text);

    // From handleReport: how many data bytes the report being handled really had.
    std::size_t handledLength() const { return m_log.back().length; }

private:
    struct Pending {
        Clock::time_point availableAt;
        Report report;
        bool late = false;  // comes with the next report received, if that is sooner
    };
    struct Logged {
        Report report;
        std::size_t length;
    };
    Fault takeFault();
    void queueLocked(const Report& report, Clock::time_point at, bool late = false);
    void releaseLateLocked(Clock::time_point now);
    // Hands every report in flight whose time has come to each reader open now.
    void deliverLocked(Clock::time_point now);

    const DeviceInfo m_info;
    mutable std::mutex m_mutex;
    std::condition_variable m_arrived;
    // Reports sent by the device, in order, not yet arrived at the host.
    std::deque<Pending> m_inFlight;
    // What each open handle has received and not read yet, by reader.
    std::map<unsigned, std::deque<Report>> m_readers;
    unsigned m_lastReader = 0;
    std::deque<Logged> m_log;
    std::deque<int> m_emptyReads;
    std::map<int, Fault> m_faults;  // by absolute exchange number
    Fault m_persistentFault = Fault::None;
    std::chrono::microseconds m_latency{0};
    std::chrono::milliseconds m_lateDelay{120};
    int m_exchanges = 0;
    unsigned m_generation = 0;
    bool m_plugged = false;
    bool m_openable = true;
    bool m_failNextRead = false;
    bool m_acceptsShortReports = false;
};

} // namespace sim
