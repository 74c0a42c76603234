#include "simdevice.h"

#include "simbus.h"

#include <algorithm>
#include <cstring>
#include <thread>

namespace sim {

namespace {
// The kernel keeps at most this many unread input reports per reader.
constexpr std::size_t MaxQueuedReports = 64;

// The bus clock: frames start at whole multiples of the frame length from here.
Clock::time_point busEpoch()
{
    static const Clock::time_point epoch = Clock::now();
    return epoch;
}

// The start of the first frame after t.
Clock::time_point nextFrame(Clock::time_point t, std::chrono::microseconds frame)
{
    const auto since = std::chrono::duration_cast<std::chrono::microseconds>(t - busEpoch());
    return busEpoch() + (since / frame + 1) * frame;
}
}

SimDevice::SimDevice(DeviceInfo info)
    : m_info(std::move(info))
{
}

SimDevice::~SimDevice() = default;

void SimDevice::setOpenable(bool openable)
{
    std::lock_guard<std::mutex> guard(m_mutex);
    m_openable = openable;
}

bool SimDevice::openable() const
{
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_openable;
}

void SimDevice::setLatency(std::chrono::microseconds latency)
{
    std::lock_guard<std::mutex> guard(m_mutex);
    m_latency = latency;
}

void SimDevice::injectFault(int exchangeFromNow, Fault fault)
{
    std::lock_guard<std::mutex> guard(m_mutex);
    m_faults[m_exchanges + exchangeFromNow] = fault;
}

void SimDevice::setPersistentFault(Fault fault)
{
    std::lock_guard<std::mutex> guard(m_mutex);
    m_persistentFault = fault;
}

void SimDevice::clearFaults()
{
    std::lock_guard<std::mutex> guard(m_mutex);
    m_faults.clear();
    m_persistentFault = Fault::None;
    m_failNextRead = false;
}

void SimDevice::setLateReplyDelay(std::chrono::milliseconds delay)
{
    std::lock_guard<std::mutex> guard(m_mutex);
    m_lateDelay = delay;
}

std::vector<Report> SimDevice::receivedReports() const
{
    std::lock_guard<std::mutex> guard(m_mutex);
    std::vector<Report> reports;
    reports.reserve(m_log.size());
    for (const Logged& entry : m_log)
        reports.push_back(entry.report);
    return reports;
}

std::vector<std::size_t> SimDevice::receivedReportLengths() const
{
    std::lock_guard<std::mutex> guard(m_mutex);
    std::vector<std::size_t> lengths;
    lengths.reserve(m_log.size());
    for (const Logged& entry : m_log)
        lengths.push_back(entry.length);
    return lengths;
}

void SimDevice::setAcceptsShortReports(bool accepts)
{
    std::lock_guard<std::mutex> guard(m_mutex);
    m_acceptsShortReports = accepts;
}

std::vector<std::string> SimDevice::receivedCommands() const
{
    std::vector<std::string> commands;
    for (const Report& report : receivedReports()) {
        const auto end = std::find(report.begin(), report.end(), 0);
        commands.emplace_back(report.begin(), end);
    }
    return commands;
}

std::vector<int> SimDevice::emptyReadLimits() const
{
    std::lock_guard<std::mutex> guard(m_mutex);
    return std::vector<int>(m_emptyReads.begin(), m_emptyReads.end());
}

void SimDevice::clearLog()
{
    std::lock_guard<std::mutex> guard(m_mutex);
    m_log.clear();
    m_emptyReads.clear();
}

int SimDevice::exchangeCount() const
{
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_exchanges;
}

void SimDevice::pushInputReport(const Report& report, std::chrono::milliseconds delay)
{
    std::lock_guard<std::mutex> guard(m_mutex);
    queueLocked(report, Clock::now() + delay);
}

Report SimDevice::textReport(const std::string& text)
{
    Report report{};
    std::memcpy(report.data(), text.data(), std::min(text.size(), ReportSize));
    return report;
}

Fault SimDevice::takeFault()
{
    const auto it = m_faults.find(m_exchanges);
    if (it == m_faults.end())
        return m_persistentFault;
    const Fault fault = it->second;
    m_faults.erase(it);
    return fault;
}

void SimDevice::queueLocked(const Report& report, Clock::time_point at, bool late)
{
    if (m_inFlight.size() >= MaxQueuedReports)
        m_inFlight.pop_front();
    // The device answers in order: a reply never overtakes a late one sent before it, so a
    // late reply lands inside the wait of whatever exchange comes next.
    if (!m_inFlight.empty())
        at = std::max(at, m_inFlight.back().availableAt);
    m_inFlight.push_back(Pending{at, report, late});
    m_arrived.notify_all();
}

void SimDevice::releaseLateLocked(Clock::time_point now)
{
    // Late replies go out now; the queue keeps its order, as the device answers in order.
    bool released = false;
    for (Pending& pending : m_inFlight) {
        if (pending.late && pending.availableAt > now) {
            pending.availableAt = now;
            released = true;
        }
        pending.late = false;
    }
    if (released)
        m_arrived.notify_all();
}

void SimDevice::deliverLocked(Clock::time_point now)
{
    // A report reaches the handles open when it arrives, each its own copy (as hidraw gives
    // them); with no handle open it is lost.
    while (!m_inFlight.empty() && m_inFlight.front().availableAt <= now) {
        for (auto& reader : m_readers) {
            if (reader.second.size() >= MaxQueuedReports)
                reader.second.pop_front();
            reader.second.push_back(m_inFlight.front().report);
        }
        m_inFlight.pop_front();
    }
}

unsigned SimDevice::openReader(unsigned* generation)
{
    std::lock_guard<std::mutex> guard(m_mutex);
    if (!m_plugged)
        return 0;
    // What arrived before the handle was opened is not for it.
    deliverLocked(Clock::now());
    const unsigned reader = ++m_lastReader;
    m_readers[reader];
    *generation = m_generation;
    return reader;
}

void SimDevice::closeReader(unsigned reader)
{
    std::lock_guard<std::mutex> guard(m_mutex);
    // What arrived while it was open was its copy; what arrives later is not.
    deliverLocked(Clock::now());
    m_readers.erase(reader);
}

int SimDevice::write(unsigned generation, const std::uint8_t* data, std::size_t length)
{
    const Clock::time_point now = Clock::now();
    Clock::time_point sentAt = now;
    bool unplugNow = false;
    {
        std::unique_lock<std::mutex> guard(m_mutex);
        if (!m_plugged || generation != m_generation || length == 0 || !data)
            return -1;
        // data[0] is the report ID; the rest must fit one report.
        if (length - 1 > ReportSize)
            return -1;
        ++m_exchanges;
        const Fault fault = takeFault();
        if (fault == Fault::WriteFails)
            return -1;
        if (fault == Fault::Unplug) {
            unplugNow = true;
        } else {
            // hidraw hands the device exactly what was written: no padding. The log keeps
            // the length; the report is zero-filled only for the model's parsing.
            Report report{};
            std::memcpy(report.data(), data + 1, length - 1);
            if (m_log.size() >= MaxLoggedReports)
                m_log.pop_front();
            m_log.push_back(Logged{report, length - 1});
            releaseLateLocked(now);
            if (length - 1 < ReportSize && !m_acceptsShortReports)
                return static_cast<int>(length);
            // The request goes out in the next frame and its reply comes in the frame after,
            // however late the program came to write: lateness costs whole frames, as on USB.
            if (m_latency.count() > 0)
                sentAt = nextFrame(now, m_latency);
            std::vector<Report> replies = handleReport(report);
            if (fault == Fault::ReadFails)
                m_failNextRead = true;
            if (fault == Fault::Garbage) {
                Report garbage;
                for (std::size_t i = 0; i < ReportSize; ++i)
                    garbage[i] = static_cast<std::uint8_t>('!' + (i * 7) % 90);
                replies.assign(1, garbage);
            }
            if (fault == Fault::NoReply)
                replies.clear();
            const bool late = fault == Fault::LateReply;
            for (const Report& reply : replies)
                queueLocked(reply, late ? now + m_lateDelay : sentAt + m_latency, late);
        }
    }
    if (unplugNow) {
        SimBus::instance().unplug(this);
        return -1;
    }
    // Like an interrupt OUT transfer, the write returns once its frame has gone.
    if (sentAt > now)
        std::this_thread::sleep_until(sentAt);
    return static_cast<int>(length);
}

int SimDevice::read(unsigned generation, unsigned reader, std::uint8_t* data, std::size_t length, int timeoutMs)
{
    std::unique_lock<std::mutex> guard(m_mutex);
    bool forever = timeoutMs < 0;
    const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    for (;;) {
        if (!m_plugged || generation != m_generation)
            return -1;
        const auto queue = m_readers.find(reader);
        if (queue == m_readers.end())
            return -1;
        if (m_failNextRead) {
            m_failNextRead = false;
            return -1;
        }
        const auto now = Clock::now();
        deliverLocked(now);
        std::deque<Report>& input = queue->second;
        if (!input.empty() && length == 0) {
            // As hidraw does: a read of zero bytes takes the report off the queue, copies
            // nothing and, having nothing to return, reads on without any time limit,
            // until the device goes away.
            input.pop_front();
            forever = true;
            continue;
        }
        if (!input.empty()) {
            // Like hidraw, a read takes the whole report off the queue.
            const Report report = input.front();
            input.pop_front();
            const std::size_t n = std::min(length, ReportSize);
            if (data)
                std::memcpy(data, report.data(), n);
            return static_cast<int>(n);
        }
        if (!forever && now >= deadline) {
            if (m_emptyReads.size() >= MaxLoggedReports)
                m_emptyReads.pop_front();
            m_emptyReads.push_back(timeoutMs);
            return 0;
        }
        auto wakeAt = forever ? Clock::time_point::max() : deadline;
        if (!m_inFlight.empty())
            wakeAt = std::min(wakeAt, m_inFlight.front().availableAt);
        if (wakeAt == Clock::time_point::max())
            m_arrived.wait(guard);
        else
            m_arrived.wait_until(guard, wakeAt);
    }
}

bool SimDevice::isAlive(unsigned generation) const
{
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_plugged && generation == m_generation;
}

unsigned SimDevice::attach()
{
    std::lock_guard<std::mutex> guard(m_mutex);
    m_plugged = true;
    m_inFlight.clear();
    m_readers.clear();
    m_failNextRead = false;
    return ++m_generation;
}

void SimDevice::detach()
{
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        if (!m_plugged)
            return;
        m_plugged = false;
        m_inFlight.clear();
        m_readers.clear();
        m_arrived.notify_all();
    }
    onUnplugged();
}

unsigned SimDevice::generation() const
{
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_generation;
}

bool SimDevice::plugged() const
{
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_plugged;
}

} // namespace sim
