#include "tracecursor.h"

#include <cstdio>

std::unique_ptr<TraceCursor> TraceCursor::load(const QString& path, Sees sees, QString* error)
{
    TraceReader reader;
    if (!reader.readFile(path)) {
        *error = QStringLiteral("cannot replay %1: %2").arg(path, reader.errorText());
        return nullptr;
    }
    return std::make_unique<TraceCursor>(path, reader.events(), sees);
}

TraceCursor::TraceCursor(QString path, std::vector<TraceEvent> events, Sees sees)
    : m_path(std::move(path))
    , m_events(std::move(events))
    , m_sees(sees)
{
    for (const TraceEvent& event : m_events) {
        if (event.kind == TraceEvent::Kind::Open && event.handle > 0)
            m_openedPaths[event.handle] = event.path;
    }
}

QByteArray TraceCursor::pathOf(int handle) const
{
    const auto opened = m_openedPaths.find(handle);
    return opened == m_openedPaths.end() ? QByteArray() : opened->second;
}

bool TraceCursor::passedOver(const TraceEvent& event) const
{
    switch (event.kind) {
    case TraceEvent::Kind::Enumerate:
        return true;
    case TraceEvent::Kind::Read:
        return event.result == 0 || (m_sees == Sees::Writes && event.result < 0);
    case TraceEvent::Kind::Open:
    case TraceEvent::Kind::Close:
        return m_sees == Sees::Writes;
    case TraceEvent::Kind::Write:
        return false;
    }
    return false;
}

std::size_t TraceCursor::nextRequest() const
{
    std::size_t at = m_next;
    while (at < m_events.size() && passedOver(m_events[at]))
        ++at;
    return at;
}

void TraceCursor::takeBefore(std::size_t end)
{
    for (; m_next < end && m_next < m_events.size(); ++m_next) {
        if (m_events[m_next].kind == TraceEvent::Kind::Enumerate && m_divergence.isEmpty())
            m_devices = m_events[m_next].devices;
    }
}

void TraceCursor::diverge(std::size_t at, const QString& what)
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

const TraceEvent* TraceCursor::take(const TraceEvent& asked)
{
    const std::size_t at = nextRequest();
    const TraceEvent* next = at < m_events.size() ? &m_events[at] : nullptr;
    const bool sameHandle = next
        && (asked.handle ? next->handle == asked.handle : pathOf(next->handle) == asked.path);
    const bool same = next && next->kind == asked.kind
        && (asked.kind == TraceEvent::Kind::Open ? next->path == asked.path : sameHandle && next->data == asked.data);
    if (!same) {
        diverge(at, asked.describe());
        return nullptr;
    }
    takeBefore(at + 1);
    return next;
}

bool TraceCursor::finished() const
{
    return m_divergence.isEmpty() && nextRequest() == m_events.size();
}

QString TraceCursor::unplayed() const
{
    const std::size_t at = nextRequest();
    if (!m_divergence.isEmpty() || at >= m_events.size())
        return QString();
    return QStringLiteral("replay of %1 stopped at line %2: the trace has %3 there, the program made no more requests")
        .arg(m_path).arg(m_events[at].line).arg(m_events[at].describe());
}
