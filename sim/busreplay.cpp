#include "busreplay.h"

#include "simbus.h"
#include "simreplay.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace sim {

namespace {

// A change that waits for the program to close a device comes at the latest as long after
// the request before it as in the recording, and never later than this.
constexpr qint64 MaxChangeDelayUs = 10 * 1000 * 1000;
// Any other change comes this long after the request, time for the program to read the
// replies of a device that leaves.
constexpr qint64 LeaveGraceUs = 50 * 1000;

bool sameDevice(const TraceDevice& a, const TraceDevice& b)
{
    return a.vendor == b.vendor && a.product == b.product && a.interfaceNumber == b.interfaceNumber
        && a.path == b.path && a.serial == b.serial;
}

bool sameDevices(const std::vector<TraceDevice>& a, const std::vector<TraceDevice>& b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), sameDevice);
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
        return replay->answer(recorded.path, data);
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
    std::vector<Change> changes;
    {
        std::lock_guard<std::mutex> guard(replay->m_mutex);
        // What the program finds when it starts: the last devices before the first request.
        replay->passToRequestLocked(QByteArray(), std::numeric_limits<qint64>::max(), &changes);
    }
    if (!changes.empty())
        replay->show(changes.back());
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
        plugged.swap(m_plugged);
    }
    for (const auto& device : plugged)
        SimBus::instance().unplug(device.get());
}

std::vector<Report> BusReplay::passToRequestLocked(const QByteArray& path, qint64 since, std::vector<Change>* changes)
{
    std::vector<Report> replies;
    const std::vector<TraceEvent>& events = m_cursor->events();
    for (;;) {
        const std::size_t request = m_cursor->nextRequest();
        for (std::size_t at = m_cursor->position(); at < request; ++at) {
            const TraceEvent& event = events[at];
            if (event.kind != TraceEvent::Kind::Enumerate || sameDevices(event.devices, m_shown))
                continue;
            const auto in = [](const std::vector<TraceDevice>& list, const TraceDevice& device) {
                return std::any_of(list.begin(), list.end(), [&](const TraceDevice& d) { return sameDevice(d, device); });
            };
            bool reusesPath = false;
            for (const TraceDevice& left : m_shown) {
                for (const TraceDevice& came : event.devices)
                    reusesPath = reusesPath || (!in(event.devices, left) && !in(m_shown, came) && came.path == left.path);
            }
            m_shown = event.devices;
            const qint64 delayUs = std::clamp<qint64>(event.timeUs - since, 0, reusesPath ? MaxChangeDelayUs : LeaveGraceUs);
            changes->push_back(Change{std::chrono::milliseconds(delayUs / 1000), ++m_changes, m_shown, reusesPath});
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

std::vector<Report> BusReplay::answer(const QByteArray& path, const QByteArray& data)
{
    std::vector<Change> changes;
    std::vector<Report> replies;
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        if (!m_cursor->divergence().isEmpty())
            return {};
        TraceEvent asked;
        asked.kind = TraceEvent::Kind::Write;
        asked.path = path;
        asked.data = data;
        if (const TraceEvent* request = m_cursor->take(asked))
            replies = passToRequestLocked(path, request->timeUs, &changes);
        else
            changes.push_back(Change{std::chrono::milliseconds(0), ++m_changes, {}, false});
        for (const Change& change : changes) {
            if (change.waitsForClose)
                m_waiting.push_back(change);
        }
    }
    schedule(changes);
    return replies;
}

void BusReplay::hostOpened(const SimDevice& device, bool opened)
{
    std::vector<Change> ready;
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        for (const auto& plugged : m_plugged) {
            if (plugged.get() == &device)
                plugged->hostOpen = opened;
        }
        const auto closed = std::stable_partition(m_waiting.begin(), m_waiting.end(), [this](const Change& change) {
            return change.serial > m_shownSerial && !leavingClosedLocked(change);
        });
        std::for_each(closed, m_waiting.end(), [&ready](Change& change) {
            change.after = std::chrono::milliseconds(0);
            ready.push_back(change);
        });
        m_waiting.erase(closed, m_waiting.end());
    }
    schedule(ready);
}

bool BusReplay::leavingClosedLocked(const Change& change) const
{
    return std::none_of(m_plugged.begin(), m_plugged.end(), [&change](const auto& device) {
        return device->hostOpen
            && std::none_of(change.devices.begin(), change.devices.end(),
                            [&device](const TraceDevice& d) { return sameDevice(d, device->recorded); });
    });
}

void BusReplay::schedule(const std::vector<Change>& changes)
{
    // On the bus's thread, never here: a report is answered with its device's lock held,
    // and plugging takes device locks.
    const std::weak_ptr<BusReplay> self = weak_from_this();
    for (const Change& change : changes) {
        SimBus::instance().schedule(change.after, [self, change] {
            if (const std::shared_ptr<BusReplay> replay = self.lock())
                replay->show(change);
        });
    }
}

void BusReplay::show(const Change& change)
{
    std::vector<std::shared_ptr<Device>> gone;
    std::vector<std::shared_ptr<Device>> added;
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        // A program quicker than the recorded one can pass a change still waiting.
        if (change.serial <= m_shownSerial)
            return;
        m_shownSerial = change.serial;
        const std::vector<TraceDevice> devices = m_cursor->divergence().isEmpty() ? change.devices : std::vector<TraceDevice>();
        std::vector<std::shared_ptr<Device>> kept;
        for (const auto& device : m_plugged) {
            const bool stays = std::any_of(devices.begin(), devices.end(),
                                           [&](const TraceDevice& d) { return sameDevice(d, device->recorded); });
            (stays ? kept : gone).push_back(device);
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
