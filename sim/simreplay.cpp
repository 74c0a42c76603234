#include "simreplay.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

namespace sim {

namespace {

std::mutex replayMutex;
std::shared_ptr<SimReplay> current;
// A read that the trace does not answer waits at most this long: enough that a polling
// caller does not spin, short enough that a read the recording did not make costs little.
constexpr std::chrono::milliseconds UnansweredReadWait{10};

} // namespace

bool SimReplay::start(const QString& path, QString* error)
{
    std::unique_ptr<TraceCursor> cursor = TraceCursor::load(path, TraceCursor::Sees::Calls, error);
    if (!cursor)
        return false;
    std::lock_guard<std::mutex> guard(replayMutex);
    current.reset(new SimReplay(std::move(cursor)));
    return true;
}

void SimReplay::stop()
{
    std::lock_guard<std::mutex> guard(replayMutex);
    current.reset();
}

std::shared_ptr<SimReplay> SimReplay::active()
{
    std::lock_guard<std::mutex> guard(replayMutex);
    return current;
}

SimReplay::SimReplay(std::unique_ptr<TraceCursor> cursor)
    : m_cursor(std::move(cursor))
{
}

std::vector<DeviceInfo> SimReplay::enumerate()
{
    std::lock_guard<std::mutex> guard(m_mutex);
    const std::vector<TraceEvent>& events = m_cursor->events();
    if (m_cursor->divergence().isEmpty()) {
        const std::size_t request = m_cursor->nextRequest();
        for (std::size_t at = m_cursor->position(); at < request; ++at) {
            if (events[at].kind == TraceEvent::Kind::Enumerate) {
                m_cursor->takeBefore(at + 1);
                break;
            }
        }
    }
    std::vector<DeviceInfo> devices;
    for (const TraceDevice& recorded : m_cursor->devices())
        devices.push_back(deviceInfo(recorded));
    return devices;
}

DeviceInfo SimReplay::deviceInfo(const TraceDevice& recorded)
{
    DeviceInfo info;
    info.vendorId = recorded.vendor;
    info.productId = recorded.product;
    info.interfaceNumber = recorded.interfaceNumber;
    info.path = recorded.path.toStdString();
    info.serial = recorded.serial;
    return info;
}

int SimReplay::open(const char* path)
{
    std::lock_guard<std::mutex> guard(m_mutex);
    if (!m_cursor->divergence().isEmpty())
        return 0;
    TraceEvent asked;
    asked.kind = TraceEvent::Kind::Open;
    asked.path = QByteArray(path ? path : "");
    const TraceEvent* recorded = m_cursor->take(asked);
    return recorded ? recorded->handle : 0;
}

void SimReplay::close(int handle)
{
    // Not a request to the device: a close the trace does not have next is let pass.
    std::lock_guard<std::mutex> guard(m_mutex);
    const std::size_t at = m_cursor->nextRequest();
    const std::vector<TraceEvent>& events = m_cursor->events();
    if (m_cursor->divergence().isEmpty() && at < events.size() && events[at].kind == TraceEvent::Kind::Close
        && events[at].handle == handle)
        m_cursor->takeBefore(at + 1);
}

int SimReplay::write(int handle, const unsigned char* data, size_t length)
{
    std::lock_guard<std::mutex> guard(m_mutex);
    if (!m_cursor->divergence().isEmpty())
        return -1;
    TraceEvent asked;
    asked.kind = TraceEvent::Kind::Write;
    asked.handle = handle;
    asked.data = QByteArray(reinterpret_cast<const char*>(data), static_cast<int>(length));
    const TraceEvent* recorded = m_cursor->take(asked);
    return recorded ? recorded->result : -1;
}

int SimReplay::read(int handle, unsigned char* data, size_t length, int timeoutMs)
{
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        if (!m_cursor->divergence().isEmpty())
            return -1;
        const std::vector<TraceEvent>& events = m_cursor->events();
        const std::size_t hard = m_cursor->nextRequest();
        if (hard < events.size() && events[hard].kind == TraceEvent::Kind::Read && events[hard].handle == handle) {
            m_cursor->takeBefore(hard + 1);
            const TraceEvent& event = events[hard];
            const std::size_t count = std::min(length, static_cast<std::size_t>(event.data.size()));
            std::memcpy(data, event.data.constData(), count);
            return event.result < 0 ? event.result : static_cast<int>(count);
        }
        // A read that found nothing in the recording, if there is one before the next request.
        for (std::size_t at = m_cursor->position(); at < hard; ++at) {
            if (events[at].kind == TraceEvent::Kind::Read && events[at].handle == handle) {
                m_cursor->takeBefore(at + 1);
                return 0;
            }
        }
    }
    if (timeoutMs != 0)
        std::this_thread::sleep_for(timeoutMs < 0 ? UnansweredReadWait
                                                  : std::min(UnansweredReadWait, std::chrono::milliseconds(timeoutMs)));
    return 0;
}

bool SimReplay::finished() const
{
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_cursor->finished();
}

QString SimReplay::divergence() const
{
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_cursor->divergence();
}

} // namespace sim
