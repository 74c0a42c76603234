#include "simreplay.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
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
    TraceReader reader;
    if (!reader.readFile(path)) {
        *error = QStringLiteral("cannot replay %1: %2").arg(path, reader.errorText());
        return false;
    }
    std::lock_guard<std::mutex> guard(replayMutex);
    current.reset(new SimReplay(path, reader.events()));
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

SimReplay::SimReplay(QString path, std::vector<TraceEvent> events)
    : m_path(std::move(path))
    , m_events(std::move(events))
{
}

bool SimReplay::soft(const TraceEvent& event)
{
    return event.kind == TraceEvent::Kind::Enumerate || (event.kind == TraceEvent::Kind::Read && event.result == 0);
}

std::size_t SimReplay::nextHardLocked() const
{
    std::size_t at = m_next;
    while (at < m_events.size() && soft(m_events[at]))
        ++at;
    return at;
}

void SimReplay::consumeLocked(std::size_t end)
{
    for (; m_next < end; ++m_next) {
        if (m_events[m_next].kind == TraceEvent::Kind::Enumerate)
            m_devices = m_events[m_next].devices;
    }
}

void SimReplay::divergeLocked(std::size_t at, const QString& what)
{
    if (!m_divergence.isEmpty())
        return;
    const int lastLine = m_events.empty() ? 1 : m_events.back().line;
    m_divergence = at < m_events.size()
        ? QStringLiteral("replay of %1 ended at line %2: the trace has %3 there, the program did %4")
              .arg(m_path).arg(m_events[at].line).arg(m_events[at].describe(), what)
        : QStringLiteral("replay of %1 ended: the trace ends at line %2, the program went on with %3")
              .arg(m_path).arg(lastLine).arg(what);
    m_devices.clear();
    std::fprintf(stderr, "%s\n", m_divergence.toLocal8Bit().constData());
    std::fflush(stderr);
}

std::vector<DeviceInfo> SimReplay::enumerate()
{
    std::lock_guard<std::mutex> guard(m_mutex);
    if (m_divergence.isEmpty()) {
        const std::size_t hard = nextHardLocked();
        for (std::size_t at = m_next; at < hard; ++at) {
            if (m_events[at].kind == TraceEvent::Kind::Enumerate) {
                consumeLocked(at + 1);
                break;
            }
        }
    }
    std::vector<DeviceInfo> devices;
    for (const TraceDevice& recorded : m_devices) {
        DeviceInfo info;
        info.vendorId = recorded.vendor;
        info.productId = recorded.product;
        info.interfaceNumber = recorded.interfaceNumber;
        info.path = recorded.path.toStdString();
        info.serial = recorded.serial;
        devices.push_back(std::move(info));
    }
    return devices;
}

const TraceEvent* SimReplay::takeLocked(const TraceEvent& asked)
{
    const std::size_t at = nextHardLocked();
    const bool same = at < m_events.size() && m_events[at].kind == asked.kind
        && (asked.kind == TraceEvent::Kind::Open
                ? m_events[at].path == asked.path
                : m_events[at].handle == asked.handle && m_events[at].data == asked.data);
    if (!same) {
        divergeLocked(at, asked.describe());
        return nullptr;
    }
    consumeLocked(at + 1);
    return &m_events[at];
}

int SimReplay::open(const char* path)
{
    std::lock_guard<std::mutex> guard(m_mutex);
    if (!m_divergence.isEmpty())
        return 0;
    TraceEvent asked;
    asked.kind = TraceEvent::Kind::Open;
    asked.path = QByteArray(path ? path : "");
    const TraceEvent* recorded = takeLocked(asked);
    return recorded ? recorded->handle : 0;
}

void SimReplay::close(int handle)
{
    // Not a request to the device: a close the trace does not have next is let pass.
    std::lock_guard<std::mutex> guard(m_mutex);
    const std::size_t at = nextHardLocked();
    if (m_divergence.isEmpty() && at < m_events.size() && m_events[at].kind == TraceEvent::Kind::Close
        && m_events[at].handle == handle)
        consumeLocked(at + 1);
}

int SimReplay::write(int handle, const unsigned char* data, size_t length)
{
    std::lock_guard<std::mutex> guard(m_mutex);
    if (!m_divergence.isEmpty())
        return -1;
    TraceEvent asked;
    asked.kind = TraceEvent::Kind::Write;
    asked.handle = handle;
    asked.data = QByteArray(reinterpret_cast<const char*>(data), static_cast<int>(length));
    const TraceEvent* recorded = takeLocked(asked);
    return recorded ? recorded->result : -1;
}

int SimReplay::read(int handle, unsigned char* data, size_t length, int timeoutMs)
{
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        if (!m_divergence.isEmpty())
            return -1;
        const std::size_t hard = nextHardLocked();
        if (hard < m_events.size() && m_events[hard].kind == TraceEvent::Kind::Read && m_events[hard].handle == handle) {
            consumeLocked(hard + 1);
            const TraceEvent& event = m_events[hard];
            const std::size_t count = std::min(length, static_cast<std::size_t>(event.data.size()));
            std::memcpy(data, event.data.constData(), count);
            return event.result < 0 ? event.result : static_cast<int>(count);
        }
        // A read that found nothing in the recording, if there is one before the next request.
        for (std::size_t at = m_next; at < hard; ++at) {
            if (m_events[at].kind == TraceEvent::Kind::Read && m_events[at].handle == handle) {
                consumeLocked(at + 1);
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
    return m_divergence.isEmpty() && nextHardLocked() == m_events.size();
}

QString SimReplay::divergence() const
{
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_divergence;
}

} // namespace sim
