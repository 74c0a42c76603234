#pragma once

#include "simdevice.h"
#include "trace/tracecursor.h"

#include <QString>

#include <memory>
#include <mutex>
#include <vector>

namespace sim {

// A recorded session played back at the hidapi boundary in place of the simulated bus:
// devices appear and leave as the trace's enumerations did, and each report the program
// writes is answered with what the trace read after the same report. Opens, writes and
// reads that returned something are requests, held against the trace by TraceCursor.
// After a request the trace does not have, every call fails, as with a device that is gone.
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

    // The device that a recorded one stands for.
    static DeviceInfo deviceInfo(const TraceDevice& recorded);

    // Every open, write and answered read of the trace has been played.
    bool finished() const;
    // Empty until the program leaves the trace.
    QString divergence() const;

private:
    explicit SimReplay(std::unique_ptr<TraceCursor> cursor);

    mutable std::mutex m_mutex;
    const std::unique_ptr<TraceCursor> m_cursor;
};

} // namespace sim
