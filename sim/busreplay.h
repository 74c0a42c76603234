#pragma once

#include "simdevice.h"
#include "trace/tracecursor.h"

#include <QString>

#include <chrono>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

namespace sim {

// A recorded session played by devices on the simulated bus, for a transport that sees the
// output reports each device receives but not the program's handles: the kernel's, through
// UhidTransport (tessaro-uhid --replay). Devices come and go as the trace's enumerations
// changed (the sensor leaving, its bootloader appearing), soon after the request before
// the change; each output report a device receives is answered with the input reports the
// trace read on that device after the same request, in order. A report the trace does not
// have next ends the replay (TraceCursor's rule and message), and every device leaves.
//
// When a change comes matters. A device that leaves must stay until the program has read
// its last replies, and be gone when the program next looks: in the recording it had left
// by the time the program looked again after closing it. And the kernel numbers hidraw
// nodes, keeping a node taken while a program holds it: a device that came under another
// path than the one that left came while the program still held the old node. So a change
// comes, in the trace's order, as soon as the program has closed every device it takes
// away (at the latest as long after the request before it as in the recording); a change
// that brings a device under a new path while one leaves comes 50 ms after the request.
class BusReplay : public std::enable_shared_from_this<BusReplay>
{
public:
    // Loads the trace and plugs in the devices present at its first request; null with the
    // reason for a trace that cannot be read.
    static std::shared_ptr<BusReplay> start(const QString& path, QString* error);
    // Unplugs the devices of the replay.
    void stop();

    struct State {
        bool finished = false;  // every request of the trace has been played
        QString divergence;     // empty until the program leaves the trace
        QString unplayed;       // empty once finished or ended; else the request not made yet
    };
    State state() const;

    // A program opened a device's node (true) or closed its last handle (false).
    void hostOpened(const SimDevice& device, bool opened);

private:
    class Device;
    struct Change {
        std::vector<TraceDevice> devices;
        bool waitsForClose;   // until the program has closed every device that leaves
        Clock::time_point at; // when it comes, at the latest when it waits
    };

    explicit BusReplay(std::unique_ptr<TraceCursor> cursor);
    std::vector<Report> answer(const TraceDevice& device, const QByteArray& data);
    // Takes the events before the next request: the replies read on path; the changes of the
    // devices present go to the pending ones, timed from now for a request recorded at since.
    std::vector<Report> passToRequestLocked(const QByteArray& path, qint64 since, Clock::time_point now);
    // On the bus's thread: makes the pending changes that are due, in the trace's order.
    void advance();
    void advanceAt(Clock::time_point at);
    bool leavingClosedLocked(const std::vector<TraceDevice>& devices) const;
    // Plugs and unplugs devices until the bus has these.
    void show(const std::vector<TraceDevice>& devices);

    std::mutex m_advancing;  // taken before m_mutex
    mutable std::mutex m_mutex;
    const std::unique_ptr<TraceCursor> m_cursor;
    std::vector<TraceDevice> m_shown;  // as of the last change taken from the trace
    std::deque<Change> m_pending;
    std::vector<std::shared_ptr<Device>> m_plugged;
};

} // namespace sim
