#pragma once

#include "simdevice.h"
#include "trace/tracecursor.h"

#include <QString>

#include <chrono>
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
// The kernel numbers hidraw nodes, and a node stays taken while a program holds it: a
// device that came under the path of one that left did so after the program had let go
// of it, and one that came under another path while the program still held the old. So a
// change that reuses a leaving device's path waits until the program has closed it (as
// long as the recording waited at most), and any other change comes at once.
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
        std::chrono::milliseconds after;
        unsigned serial;  // in the trace's order: a change never undoes a later one
        std::vector<TraceDevice> devices;
        bool waitsForClose;  // a new device takes the path of one that leaves
    };

    explicit BusReplay(std::unique_ptr<TraceCursor> cursor);
    std::vector<Report> answer(const QByteArray& path, const QByteArray& data);
    // Takes the events before the next request: the replies read on path, and the changes of
    // the devices present, each with its time after the event at since.
    std::vector<Report> passToRequestLocked(const QByteArray& path, qint64 since, std::vector<Change>* changes);
    void schedule(const std::vector<Change>& changes);
    // Whether every device that the change removes is closed by the program.
    bool leavingClosedLocked(const Change& change) const;
    // Plugs and unplugs devices until the bus has these (none once the replay has ended).
    void show(const Change& change);

    mutable std::mutex m_mutex;
    const std::unique_ptr<TraceCursor> m_cursor;
    std::vector<TraceDevice> m_shown;  // as of the last change taken from the trace
    unsigned m_changes = 0;
    unsigned m_shownSerial = 0;
    std::vector<Change> m_waiting;  // for the program to close a device
    std::vector<std::shared_ptr<Device>> m_plugged;
};

} // namespace sim
