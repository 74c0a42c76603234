#pragma once

#include <QByteArray>
#include <QString>

#include <hidapi/hidapi.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

// Writes every call at the hidapi boundary to a file as JSON lines, one event a line, for
// replaying a session without the hardware. The calls themselves go through TracedHid,
// which asks active() at each call: with no recording that is one atomic load.
// The calling thread only copies an event into a slot of a ring made at the start (no lock,
// no allocation for a report); a thread of the recorder's own formats the slots in the
// order they were taken and writes them out within FlushPeriod, so no call waits for
// formatting or disk. Past the size cap the file keeps only its newest events (the first
// line stays). A file that cannot be written is reported once and the recording ends; the
// program goes on as before.
class HidRecorder
{
public:
    static constexpr qint64 DefaultCap = 16 * 1024 * 1024;
    static constexpr std::chrono::milliseconds FlushPeriod{100};

    struct Header {
        QString program;
        QString version;
        QByteArray catalogue;  // the catalogue file's bytes: the first line holds their hash
    };

    // Starts recording into path (created or emptied). False, with *error, when it cannot
    // be created; a recording already running is ended first.
    static bool start(const QString& path, const Header& header, QString* error, qint64 cap = DefaultCap);
    // Writes out what is buffered and ends the recording.
    static void stop();
    static HidRecorder* active() { return current.load(std::memory_order_acquire); }

    // How the writer puts bytes into the file (as std::fwrite); tests make it fail.
    static std::size_t (*writeBytes)(const void* data, std::size_t size, std::size_t count, std::FILE* file);

    void enumerated(const hid_device_info* list);
    // error: hidapi's text for a failed call (null when it did not fail).
    void opened(const char* path, const hid_device* handle, const wchar_t* error);
    void closed(const hid_device* handle);
    void wrote(const hid_device* handle, const unsigned char* data, size_t length, int result, const wchar_t* error);
    void read(const hid_device* handle, const unsigned char* data, size_t length, int timeoutMs, int result,
              const wchar_t* error);

    // Waits until everything recorded so far is in the file (tests, the support report).
    void flush();
    QString path() const { return m_path; }

    ~HidRecorder();
    HidRecorder(const HidRecorder&) = delete;
    HidRecorder& operator=(const HidRecorder&) = delete;

private:
    struct Slot;

    HidRecorder(std::FILE* file, QString path, qint64 cap);
    bool writeHeader(const Header& header);
    // Writes out what is buffered, ends the writer and closes the file.
    void finish();
    // Puts one event in the ring for the writer: the calling thread only copies it.
    void store(int kind, const hid_device* handle, int result, int timeoutMs, size_t length,
               const unsigned char* data, size_t dataBytes, const std::string& text);
    // Waits until the writer has emptied the slot the event at position is to take.
    void waitForRoom(std::uint64_t position);
    // The writer's part: the filled slots from the last one written up to limit as JSON lines.
    std::uint64_t drain(std::uint64_t limit, std::string* out);
    void format(const Slot& slot, long long micros, std::string& out);
    int handleId(const void* handle);
    void runWriter();
    bool writeOut(const std::string& chunk);
    bool keepNewest();
    void reportFailure(const QString& reason);

    static std::atomic<HidRecorder*> current;

    std::FILE* m_file;
    const QString m_path;
    const qint64 m_cap;
    // Events are stamped with the processor's time-stamp counter where it is the system's
    // clock (a fraction of the cost of a clock call); the writer turns that into
    // microseconds since the start against the monotonic clock.
    const bool m_countTicks;
    const std::uint64_t m_startTicks;
    const std::chrono::steady_clock::time_point m_start;
    std::unique_ptr<Slot[]> m_ring;
    // Positions count events from the start: a caller takes the next one (m_head), the
    // writer frees slots up to m_tail. finish() marks m_head with StopBit: a call that
    // takes a position after it records nothing.
    alignas(64) std::atomic<std::uint64_t> m_head{0};
    alignas(64) std::atomic<std::uint64_t> m_tail{0};
    alignas(64) std::atomic<bool> m_failed{false};
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_caughtUp;
    std::uint64_t m_flushTarget = 0;
    std::uint64_t m_written = 0;  // positions the writer has handed to the file (or dropped after a failure)
    std::uint64_t m_end = 0;  // the positions taken when finish() began
    std::string m_headerLine;
    std::string m_lastEnumeration;
    std::map<const void*, int> m_handles;  // the writer's own
    int m_lastHandle = 0;
    qint64 m_fileSize = 0;
    bool m_stopping = false;
    bool m_roomWanted = false;
    std::thread m_writer;
};
