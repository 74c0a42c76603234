#pragma once

#include "simdevice.h"
#include "trace/tracereader.h"

#include <QString>

#include <memory>
#include <mutex>
#include <vector>

namespace sim {

// A recorded session played back at the hidapi boundary in place of the simulated bus:
// devices appear and leave as the trace's enumerations did, and each report the program
// writes is answered with what the trace read after the same report. Enumerations and
// reads that found nothing are not requests (their number depends on timing), so the
// program may make more or fewer of them; an open or a write that the trace does not have
// next ends the replay, with a message naming the trace line where the program left it.
// After that every call fails, as with a device that is gone.
class SimReplay
{
public:
    // Loads the trace and puts it in place of the bus for the whole process.
    static bool start(const QString& path, QString* error);
    static void stop();
    static std::shared_ptr<SimReplay> active();

    std::vector<DeviceInfo> enumerate();
    // The trace's handle number for the opened device, or 0 when the open fails.
    int open(const char* path);
    void close(int handle);
    int write(int handle, const unsigned char* data, size_t length);
    int read(int handle, unsigned char* data, size_t length, int timeoutMs);

    // Every open, write and answered read of the trace has been played.
    bool finished() const;
    // Empty until the program leaves the trace.
    QString divergence() const;

private:
    SimReplay(QString path, std::vector<TraceEvent> events);
    static bool soft(const TraceEvent& event);
    std::size_t nextHardLocked() const;
    void consumeLocked(std::size_t end);
    void divergeLocked(std::size_t at, const QString& what);
    // The next request if it is the one asked (an open of the same path, a write of the same
    // bytes on the same handle), consumed; else the replay ends there and null.
    const TraceEvent* takeLocked(const TraceEvent& asked);

    const QString m_path;
    const std::vector<TraceEvent> m_events;
    mutable std::mutex m_mutex;
    std::size_t m_next = 0;
    std::vector<TraceDevice> m_devices;
    QString m_divergence;
};

} // namespace sim
