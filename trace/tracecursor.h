#pragma once

#include "tracereader.h"

#include <QString>

#include <map>
#include <memory>
#include <vector>

// Where a replay stands in a recorded trace, and the one rule by which the program's
// requests are held against it. Enumerations and reads that found nothing are not
// requests (their number depends on timing), so the program may make more or fewer of
// them; a request that the trace does not have next ends the replay, with a message naming
// the trace line where the program left it. Not thread-safe: its replay locks.
class TraceCursor
{
public:
    // What the replay sees of the program.
    enum class Sees {
        Calls,   // every hidapi call with its handle: opens, writes and reads are requests
        Writes,  // only output reports, by device (a kernel device): opens, closes and failed
                 // reads are passed over, and a read that returned data is an answer
    };

    // The trace, or null with the reason.
    static std::unique_ptr<TraceCursor> load(const QString& path, Sees sees, QString* error);
    TraceCursor(QString path, std::vector<TraceEvent> events, Sees sees);

    const std::vector<TraceEvent>& events() const { return m_events; }
    // The first event not taken yet.
    std::size_t position() const { return m_next; }
    // The first event from position() on that is not to be passed over: events().size() when
    // there is none.
    std::size_t nextRequest() const;
    // Takes the events before end.
    void takeBefore(std::size_t end);
    // The next request if it is the one asked (an open of the same path; a write of the same
    // bytes on the same handle, or with handle 0 on a handle opened on asked.path), taken;
    // else the replay ends there and null.
    const TraceEvent* take(const TraceEvent& asked);
    // Ends the replay at the event at, which is not what the program did.
    void diverge(std::size_t at, const QString& what);

    // The devices of the last enumeration taken; none once the replay has ended.
    const std::vector<TraceDevice>& devices() const { return m_devices; }
    // The path the trace opened this handle on.
    QByteArray pathOf(int handle) const;
    // Every request of the trace has been played.
    bool finished() const;
    // Empty until the program leaves the trace.
    QString divergence() const { return m_divergence; }
    // For a replay stopped before the end: the request not made.
    QString unplayed() const;

private:
    bool passedOver(const TraceEvent& event) const;

    const QString m_path;
    const std::vector<TraceEvent> m_events;
    const Sees m_sees;
    std::map<int, QByteArray> m_openedPaths;
    std::size_t m_next = 0;
    std::vector<TraceDevice> m_devices;
    QString m_divergence;
};
