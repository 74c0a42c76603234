#include "busreplay.h"

#include "simbus.h"
#include "simreplay.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <optional>

namespace sim {

namespace {

// A change that waits for the program to close a device comes at the latest as long after
// the request before it as in the recording, and never later than this.
constexpr qint64 MaxChangeDelayUs = 10 * 1000 * 1000;
// A change that does not wait comes this long after the request, time for the program to
// read the replies of a device that leaves; none comes sooner.
constexpr qint64 LeaveGraceUs = 50 * 1000;
// Devices of one enumeration that are played, the first ones: a desktop has a few dozen HID
// devices, and a hostile trace must not make the matching below quadratic in its size.
constexpr std::size_t MaxDevices = 64;

bool sameDevice(const TraceDevice& a, const TraceDevice& b)
{
    return a.vendor == b.vendor && a.product == b.product && a.interfaceNumber == b.interfaceNumber
        && a.path == b.path && a.serial == b.serial;
}

bool sameDevices(const std::vector<TraceDevice>& a, const std::vector<TraceDevice>& b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), sameDevice);
}

bool isListed(const std::vector<TraceDevice>& list, const TraceDevice& device)
{
    return std::any_of(list.begin(), list.end(), [&](const TraceDevice& d) { return sameDevice(d, device); });
}

} // namespace

class BusReplay::Device : public SimDevice
{
public:
    Device(const TraceDevice& asRecorded, std::weak_ptr<BusReplay> replay)
        : SimDevice(SimReplay::deviceInfo(asRecorded))
        , recorded(asRecorded)
        , m_replay(std::move(replay))
    {
        // The trace has the reports as the program wrote them, short ones included.
        setAcceptsShortReports(true);
    }

    const TraceDevice recorded;
    bool hostOpen = false;  // guarded by the replay's lock

protected:
    std::vector<Report> handleReport(const Report& report) override
    {
        const std::shared_ptr<BusReplay> replay = m_replay.lock();
        if (!replay)
            return {};
        // Report ID 0 first, as the program hands it to hid_write.
        QByteArray data(1, '\0');
        data.append(reinterpret_cast<const char*>(report.data()), static_cast<int>(handledLength()));
        return replay->answer(recorded, data);
    }

private:
    const std::weak_ptr<BusReplay> m_replay;
};

std::shared_ptr<BusReplay> BusReplay::start(const QString& path, QString* error)
{
    std::unique_ptr<TraceCursor> cursor = TraceCursor::load(path, TraceCursor::Sees::Writes, error);
    if (!cursor)
        return nullptr;
    std::shared_ptr<BusReplay> replay(new BusReplay(std::move(cursor)));
    std::vector<TraceDevice> devices;
    {
        // What the program finds when it starts: the last devices before the first request.
        std::lock_guard<std::mutex> guard(replay->m_mutex);
        replay->passToRequestLocked(QByteArray(), std::numeric_limits<qint64>::max(), Clock::now());
        if (!replay->m_pending.empty())
            devices = replay->m_pending.back().devices;
        replay->m_pending.clear();
    }
    replay->show(devices);
    return replay;
}

BusReplay::BusReplay(std::unique_ptr<TraceCursor> cursor)
    : m_cursor(std::move(cursor))
{
}

void BusReplay::stop()
{
    std::vector<std::shared_ptr<Device>> plugged;
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_pending.clear();
        plugged.swap(m_plugged);
    }
    for (const auto& device : plugged)
        SimBus::instance().unplug(device.get());
}

std::vector<Report> BusReplay::passToRequestLocked(const QByteArray& path, qint64 since, Clock::time_point now)
{
    std::vector<Report> replies;
    const std::vector<TraceEvent>& events = m_cursor->events();
    for (;;) {
        const std::size_t request = m_cursor->nextRequest();
        for (std::size_t at = m_cursor->position(); at < request; ++at) {
            if (events[at].kind != TraceEvent::Kind::Enumerate)
                continue;
            const std::vector<TraceDevice>& listed = events[at].devices;
            const std::vector<TraceDevice> devices(listed.begin(), listed.begin() + std::min(listed.size(), MaxDevices));
            if (sameDevices(devices, m_shown))
                continue;
            // A device that came under a path none of the leaving ones had: the program
            // still held the old node then.
            std::vector<QByteArray> leftPaths;
            for (const TraceDevice& left : m_shown) {
                if (!isListed(devices, left))
                    leftPaths.push_back(left.path);
            }
            const bool held = !leftPaths.empty() && std::any_of(devices.begin(), devices.end(), [&](const TraceDevice& came) {
                return !isListed(m_shown, came) && std::find(leftPaths.begin(), leftPaths.end(), came.path) == leftPaths.end();
            });
            m_shown = devices;
            const qint64 delayUs = held ? LeaveGraceUs : std::clamp<qint64>(events[at].timeUs - since, LeaveGraceUs, MaxChangeDelayUs);
            m_pending.push_back(Change{m_shown, !held, now + std::chrono::microseconds(delayUs)});
        }
        m_cursor->takeBefore(request);
        // What the trace read after the request is its answer; the next write is a request.
        if (request >= events.size() || events[request].kind != TraceEvent::Kind::Read)
            return replies;
        m_cursor->takeBefore(request + 1);
        const TraceEvent& read = events[request];
        if (m_cursor->pathOf(read.handle) == path) {
            Report reply{};
            std::memcpy(reply.data(), read.data.constData(), std::min<std::size_t>(reply.size(), read.data.size()));
            replies.push_back(reply);
        }
    }
}

std::vector<Report> BusReplay::answer(const TraceDevice& device, const QByteArray& data)
{
    std::vector<Report> replies;
    const Clock::time_point now = Clock::now();
    bool changes = false;
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        // A device the trace has taken away answers nothing, as a unit that has left the
        // bus: a program that looks again before the change has come is no divergence.
        if (!m_cursor->divergence().isEmpty() || !isListed(m_shown, device))
            return {};
        TraceEvent asked;
        asked.kind = TraceEvent::Kind::Write;
        asked.path = device.path;
        asked.data = data;
        if (const TraceEvent* request = m_cursor->take(asked)) {
            replies = passToRequestLocked(device.path, request->timeUs, now);
        } else {
            m_pending.clear();
            m_pending.push_back(Change{{}, false, now});
        }
        changes = !m_pending.empty();
    }
    // On the bus's thread, never here: a report is answered with its device's lock held,
    // and plugging takes device locks.
    if (changes)
        advanceAt(now);
    return replies;
}

void BusReplay::hostOpened(const SimDevice& device, bool opened)
{
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        for (const auto& plugged : m_plugged) {
            if (plugged.get() == &device)
                plugged->hostOpen = opened;
        }
    }
    // At once, on the transport's thread: the program looks for the next device soon after
    // it has closed the last, and must not find the one that left.
    if (!opened)
        advance();
}

void BusReplay::advanceAt(Clock::time_point at)
{
    const auto delay = std::chrono::ceil<std::chrono::milliseconds>(std::max(at - Clock::now(), Clock::duration::zero()));
    SimBus::instance().schedule(delay, [self = weak_from_this()] {
        if (const std::shared_ptr<BusReplay> replay = self.lock())
            replay->advance();
    });
}

void BusReplay::advance()
{
    // One change at a time, whichever thread the program's close came on.
    std::lock_guard<std::mutex> order(m_advancing);
    for (;;) {
        std::vector<TraceDevice> devices;
        std::optional<Clock::time_point> later;
        {
            std::lock_guard<std::mutex> guard(m_mutex);
            if (m_pending.empty())
                return;
            const Change& next = m_pending.front();
            if (Clock::now() < next.at && !(next.waitsForClose && leavingClosedLocked(next.devices))) {
                later = next.at;
            } else {
                if (m_cursor->divergence().isEmpty())
                    devices = next.devices;
                m_pending.pop_front();
            }
        }
        if (later) {
            advanceAt(*later);
            return;
        }
        show(devices);
    }
}

bool BusReplay::leavingClosedLocked(const std::vector<TraceDevice>& devices) const
{
    return std::none_of(m_plugged.begin(), m_plugged.end(), [&devices](const auto& device) {
        return device->hostOpen && !isListed(devices, device->recorded);
    });
}

void BusReplay::show(const std::vector<TraceDevice>& devices)
{
    std::vector<std::shared_ptr<Device>> gone;
    std::vector<std::shared_ptr<Device>> added;
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        std::vector<std::shared_ptr<Device>> kept;
        for (const auto& device : m_plugged) {
            (isListed(devices, device->recorded) ? kept : gone).push_back(device);
        }
        for (const TraceDevice& recorded : devices) {
            const bool present = std::any_of(kept.begin(), kept.end(),
                                             [&](const auto& device) { return sameDevice(recorded, device->recorded); });
            if (!present)
                added.push_back(std::make_shared<Device>(recorded, weak_from_this()));
        }
        kept.insert(kept.end(), added.begin(), added.end());
        m_plugged.swap(kept);
    }
    // The sensor leaves before its bootloader comes, as on a real bus.
    for (const auto& device : gone)
        SimBus::instance().unplug(device.get());
    for (const auto& device : added)
        SimBus::instance().plug(device);
}

BusReplay::State BusReplay::state() const
{
    std::lock_guard<std::mutex> guard(m_mutex);
    return State{m_cursor->finished(), m_cursor->divergence(), m_cursor->unplayed()};
}

} // namespace sim
