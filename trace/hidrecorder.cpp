#include "hidrecorder.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDebug>
#include <QFile>

#include <sys/utsname.h>
#if defined(__x86_64__) || defined(__i386__)
#include <x86intrin.h>
#endif

#include <cerrno>
#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

std::atomic<HidRecorder*> HidRecorder::current{nullptr};
std::size_t (*HidRecorder::writeBytes)(const void*, std::size_t, std::size_t, std::FILE*) = std::fwrite;

namespace {

// The recorder that start() made; active() hands it out while it records. A stopped one is
// kept until the program ends: a call on another thread may still be inside it.
std::mutex lifetimeMutex;
HidRecorder* owned = nullptr;
std::vector<std::unique_ptr<HidRecorder>>& retired()
{
    static std::vector<std::unique_ptr<HidRecorder>> list;
    return list;
}

// Untrusted strings (paths, serial numbers) are capped: a hostile device must not make one
// line of the trace larger than the trace's own limit.
constexpr std::size_t MaxTextBytes = 4096;
constexpr int FormatVersion = 1;
// More than any report (64 data bytes and the report ID): a longer buffer is cut here.
constexpr std::size_t MaxReportBytes = 4096;
// After the cap is reached the file keeps this share of it, so that it is cut seldom.
constexpr qint64 KeepNumerator = 3;
constexpr qint64 KeepDenominator = 4;
// The ring: a caller that finds it full waits for the writer (it holds a few milliseconds of
// the fastest exchanges); the writer is woken each time a quarter has filled.
constexpr std::uint64_t RingSlots = 8192;
constexpr std::uint64_t WakeEvery = RingSlots / 4;
constexpr std::uint64_t StopBit = std::uint64_t(1) << 63;
// A whole report with its ID fits in a slot; longer data and the texts of rare events go
// beside it.
constexpr std::size_t InlineBytes = 72;

const char HexDigits[] = "0123456789abcdef";

void appendNumber(std::string& out, long long value)
{
    char digits[24];
    const auto result = std::to_chars(digits, digits + sizeof digits, value);
    out.append(digits, result.ptr);
}

void appendEscape(std::string& out, unsigned code)
{
    out += "\\u00";
    out += HexDigits[(code >> 4) & 0xf];
    out += HexDigits[code & 0xf];
}

// A byte string (a path) as a JSON string: bytes above 0x7f stand for the characters of
// the same number, so that the reader gets every byte back whatever the encoding.
void appendBytes(std::string& out, const char* text)
{
    out += '"';
    std::size_t count = 0;
    for (const char* c = text ? text : ""; *c && count < MaxTextBytes; ++c, ++count) {
        const auto byte = static_cast<unsigned char>(*c);
        if (byte == '"' || byte == '\\') {
            out += '\\';
            out += static_cast<char>(byte);
        } else if (byte < 0x20 || byte >= 0x7f) {
            appendEscape(out, byte);
        } else {
            out += static_cast<char>(byte);
        }
    }
    out += '"';
}

void appendUtf8(std::string& out, char32_t code)
{
    if (code < 0x800) {
        out += static_cast<char>(0xc0 | (code >> 6));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xe0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3f));
    } else {
        out += static_cast<char>(0xf0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3f));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3f));
    }
    out += static_cast<char>(0x80 | (code & 0x3f));
}

// A wide string (a serial number, an error text) as a JSON string in UTF-8; what is no
// character becomes U+FFFD.
void appendWide(std::string& out, const wchar_t* text)
{
    out += '"';
    std::size_t count = 0;
    for (const wchar_t* c = text ? text : L""; *c && count < MaxTextBytes; ++c, ++count) {
        const auto code = static_cast<char32_t>(*c);
        if (code == U'"' || code == U'\\') {
            out += '\\';
            out += static_cast<char>(code);
        } else if (code < 0x20 || (code >= 0x7f && code < 0xa0)) {
            appendEscape(out, static_cast<unsigned>(code));
        } else if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code > 0x10ffff || (code >= 0xd800 && code < 0xe000)) {
            appendUtf8(out, 0xfffd);
        } else {
            appendUtf8(out, code);
        }
    }
    out += '"';
}

void appendHex(std::string& out, const unsigned char* data, std::size_t length)
{
    out += '"';
    const std::size_t at = out.size();
    out.resize(at + 2 * length);
    for (std::size_t i = 0; i < length; ++i) {
        out[at + 2 * i] = HexDigits[data[i] >> 4];
        out[at + 2 * i + 1] = HexDigits[data[i] & 0xf];
    }
    out += '"';
}

std::string jsonText(const QString& text)
{
    const std::wstring wide = text.toStdWString();
    std::string out;
    appendWide(out, wide.c_str());
    return out;
}

// The processor's time-stamp counter is used only where the kernel keeps time with it
// (it then runs at a constant rate, the same on every core).
bool tscIsTheClock()
{
#if defined(__x86_64__) || defined(__i386__)
    QFile source(QStringLiteral("/sys/devices/system/clocksource/clocksource0/current_clocksource"));
    return source.open(QIODevice::ReadOnly) && source.readAll().trimmed() == "tsc";
#else
    return false;
#endif
}

std::uint64_t ticksNow(bool tsc)
{
#if defined(__x86_64__) || defined(__i386__)
    if (tsc)
        return __rdtsc();
#else
    static_cast<void>(tsc);
#endif
    return static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
}

QString kernelText()
{
    utsname name{};
    if (::uname(&name) != 0)
        return QStringLiteral("unknown");
    return QStringLiteral("%1 %2 %3 %4")
        .arg(QString::fromLocal8Bit(name.sysname), QString::fromLocal8Bit(name.release),
             QString::fromLocal8Bit(name.version), QString::fromLocal8Bit(name.machine));
}

enum class Kind : std::uint8_t { Enumerate, Open, Close, Write, Read };

const char* kindName(Kind kind)
{
    switch (kind) {
    case Kind::Enumerate: return "enumerate";
    case Kind::Open: return "open";
    case Kind::Close: return "close";
    case Kind::Write: return "write";
    case Kind::Read: return "read";
    }
    return "";
}

std::string errorFragment(const wchar_t* error)
{
    std::string text;
    if (error) {
        text = ",\"error\":";
        appendWide(text, error);
    }
    return text;
}

} // namespace

// One event as the calling thread leaves it for the writer.
struct alignas(64) HidRecorder::Slot {
    std::atomic<std::uint64_t> filled{0};  // the event's position + 1 once it is all there
    std::uint64_t ticks = 0;
    const hid_device* handle = nullptr;
    std::unique_ptr<std::string> spill;  // data beyond InlineBytes, then textBytes of a JSON fragment
    std::int32_t result = 0;
    std::int32_t timeout = 0;
    std::uint32_t length = 0;
    std::uint32_t dataBytes = 0;
    std::uint32_t textBytes = 0;
    Kind kind = Kind::Write;
    unsigned char data[InlineBytes];
};

bool HidRecorder::start(const QString& path, const Header& header, QString* error, qint64 cap)
{
    stop();
    std::FILE* file = std::fopen(QFile::encodeName(path).constData(), "wb");
    if (!file) {
        *error = QStringLiteral("cannot create %1: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    auto* recorder = new HidRecorder(file, path, cap);
    if (!recorder->writeHeader(header)) {
        *error = QStringLiteral("cannot write %1: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno)));
        recorder->m_failed = true;
        delete recorder;
        return false;
    }
    std::lock_guard<std::mutex> guard(lifetimeMutex);
    owned = recorder;
    current.store(recorder, std::memory_order_release);
    return true;
}

void HidRecorder::stop()
{
    std::lock_guard<std::mutex> guard(lifetimeMutex);
    // Calls already inside the recorder finish under its mutex before it goes.
    current.store(nullptr, std::memory_order_release);
    if (!owned)
        return;
    owned->finish();
    retired().emplace_back(owned);
    owned = nullptr;
}

HidRecorder::HidRecorder(std::FILE* file, QString path, qint64 cap)
    : m_file(file)
    , m_path(std::move(path))
    , m_cap(cap)
    , m_countTicks(tscIsTheClock())
    , m_startTicks(ticksNow(m_countTicks))
    , m_start(std::chrono::steady_clock::now())
    , m_ring(new Slot[RingSlots])
{
    m_writer = std::thread([this] { runWriter(); });
}

HidRecorder::~HidRecorder()
{
    finish();
}

void HidRecorder::finish()
{
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        if (m_stopping)
            return;
        m_stopping = true;
        // The calls that took a position before this fill their slots and are written.
        m_end = m_head.fetch_or(StopBit, std::memory_order_acq_rel);
    }
    m_wake.notify_all();
    m_writer.join();
    // Every slot taken before the stop has been written: a call that comes now takes none.
    m_ring.reset();
    if (m_file && std::fclose(m_file) != 0 && !m_failed.load(std::memory_order_relaxed))
        reportFailure(QString::fromLocal8Bit(std::strerror(errno)));
    m_file = nullptr;
}

bool HidRecorder::writeHeader(const Header& header)
{
    std::string line = "{\"event\":\"start\",\"format\":";
    appendNumber(line, FormatVersion);
    line += ",\"program\":" + jsonText(header.program);
    line += ",\"version\":" + jsonText(header.version);
    line += ",\"kernel\":" + jsonText(kernelText());
    line += ",\"catalogue\":\"sha256:";
    line += QCryptographicHash::hash(header.catalogue, QCryptographicHash::Sha256).toHex().toStdString();
    line += "\",\"started\":" + jsonText(QDateTime::currentDateTimeUtc().toString(Qt::ISODate));
    line += "}\n";
    m_headerLine = line;
    m_fileSize = static_cast<qint64>(line.size());
    return std::fwrite(line.data(), 1, line.size(), m_file) == line.size() && std::fflush(m_file) == 0;
}

void HidRecorder::store(int kind, const hid_device* handle, int result, int timeoutMs, size_t length,
                        const unsigned char* data, size_t dataBytes, const std::string& text)
{
    static_assert(sizeof(Slot) == 128, "two cache lines a slot");
    // Stamped before the position is taken: after the locked add the counter's read would
    // wait for it (5 % more on the fastest round trip). Threads that record at once may
    // therefore be a microsecond out of order in the file, as they were under a lock.
    const std::uint64_t ticks = ticksNow(m_countTicks);
    if (m_failed.load(std::memory_order_relaxed))
        return;
    const std::uint64_t position = m_head.fetch_add(1, std::memory_order_relaxed);
    if (position & StopBit)
        return;
    if (position - m_tail.load(std::memory_order_acquire) >= RingSlots)
        waitForRoom(position);
    Slot& slot = m_ring[position % RingSlots];
    slot.ticks = ticks;
    slot.handle = handle;
    slot.result = result;
    slot.timeout = timeoutMs;
    slot.length = static_cast<std::uint32_t>(length);
    slot.dataBytes = data ? static_cast<std::uint32_t>(dataBytes) : 0;
    slot.textBytes = static_cast<std::uint32_t>(text.size());
    slot.kind = static_cast<Kind>(kind);
    if (slot.dataBytes <= InlineBytes && text.empty()) {
        if (slot.dataBytes)
            std::memcpy(slot.data, data, slot.dataBytes);
    } else {
        slot.spill = std::make_unique<std::string>(reinterpret_cast<const char*>(data), slot.dataBytes);
        *slot.spill += text;
    }
    slot.filled.store(position + 1, std::memory_order_release);
    if (position % WakeEvery == WakeEvery - 1)
        m_wake.notify_one();
}

void HidRecorder::waitForRoom(std::uint64_t position)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    while (position - m_tail.load(std::memory_order_acquire) >= RingSlots) {
        m_roomWanted = true;
        m_wake.notify_one();
        m_caughtUp.wait(lock);
    }
}

void HidRecorder::enumerated(const hid_device_info* list)
{
    // Formatted here: most scans find what the last one found and are not written again.
    std::string devices = ",\"devices\":[";
    for (const hid_device_info* device = list; device; device = device->next) {
        if (device != list)
            devices += ',';
        devices += "{\"vendor\":";
        appendNumber(devices, device->vendor_id);
        devices += ",\"product\":";
        appendNumber(devices, device->product_id);
        devices += ",\"interface\":";
        appendNumber(devices, device->interface_number);
        devices += ",\"path\":";
        appendBytes(devices, device->path);
        devices += ",\"serial\":";
        appendWide(devices, device->serial_number);
        devices += '}';
    }
    devices += ']';
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        if (devices == m_lastEnumeration)
            return;
        m_lastEnumeration = devices;
    }
    store(int(Kind::Enumerate), nullptr, 0, 0, 0, nullptr, 0, devices);
}

void HidRecorder::opened(const char* path, const hid_device* handle, const wchar_t* error)
{
    std::string text = ",\"path\":";
    appendBytes(text, path);
    store(int(Kind::Open), handle, 0, 0, 0, nullptr, 0, text + errorFragment(error));
}

void HidRecorder::closed(const hid_device* handle)
{
    if (handle)
        store(int(Kind::Close), handle, 0, 0, 0, nullptr, 0, std::string());
}

void HidRecorder::wrote(const hid_device* handle, const unsigned char* data, size_t length, int result,
                        const wchar_t* error)
{
    store(int(Kind::Write), handle, result, 0, length, data, std::min<size_t>(length, MaxReportBytes),
          error ? errorFragment(error) : std::string());
}

void HidRecorder::read(const hid_device* handle, const unsigned char* data, size_t length, int timeoutMs,
                       int result, const wchar_t* error)
{
    const size_t got = result > 0 ? std::min<size_t>({static_cast<size_t>(result), length, MaxReportBytes}) : 0;
    store(int(Kind::Read), handle, result, timeoutMs, length, data, got, error ? errorFragment(error) : std::string());
}

int HidRecorder::handleId(const void* handle)
{
    const auto known = m_handles.find(handle);
    if (known != m_handles.end())
        return known->second;
    // Opened before the recording began.
    return m_handles[handle] = ++m_lastHandle;
}

void HidRecorder::format(const Slot& slot, long long micros, std::string& out)
{
    const unsigned char* data = slot.spill ? reinterpret_cast<const unsigned char*>(slot.spill->data()) : slot.data;
    const char* text = slot.spill ? slot.spill->data() + slot.dataBytes : "";
    out += "{\"t\":";
    appendNumber(out, micros);
    out += ",\"event\":\"";
    out += kindName(slot.kind);
    out += '"';
    if (slot.kind != Kind::Enumerate) {
        out += ",\"handle\":";
        if (slot.kind == Kind::Open) {
            if (slot.handle)
                m_handles[slot.handle] = ++m_lastHandle;
            appendNumber(out, slot.handle ? m_lastHandle : 0);
        } else {
            appendNumber(out, handleId(slot.handle));
        }
        if (slot.kind == Kind::Close)
            m_handles.erase(slot.handle);
    }
    if (slot.kind == Kind::Read) {
        out += ",\"length\":";
        appendNumber(out, slot.length);
        out += ",\"timeout\":";
        appendNumber(out, slot.timeout);
    }
    if (slot.kind == Kind::Write || slot.kind == Kind::Read) {
        out += ",\"result\":";
        appendNumber(out, slot.result);
        out += ",\"data\":";
        appendHex(out, data, slot.dataBytes);
    }
    if (slot.kind == Kind::Read && slot.result == 0 && slot.timeout != 0)
        out += ",\"timedOut\":true";
    out.append(text, slot.textBytes);
    out += "}\n";
}

std::uint64_t HidRecorder::drain(std::uint64_t limit, std::string* out)
{
    // The ticks against the monotonic clock now and at the start: the counter runs at a
    // constant rate, so the whole recording's span gives its rate.
    const std::uint64_t nowTicks = ticksNow(m_countTicks);
    const double elapsedNs = std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - m_start).count();
    const double nsPerTick = nowTicks > m_startTicks ? elapsedNs / static_cast<double>(nowTicks - m_startTicks) : 0.0;
    const bool keep = !m_failed.load(std::memory_order_relaxed);
    std::uint64_t position = m_tail.load(std::memory_order_relaxed);
    for (; position < limit; ++position) {
        Slot& slot = m_ring[position % RingSlots];
        if (slot.filled.load(std::memory_order_acquire) != position + 1)
            break;  // still being filled
        if (keep) {
            const double before = static_cast<double>(static_cast<std::int64_t>(nowTicks - slot.ticks)) * nsPerTick;
            format(slot, std::max(0LL, static_cast<long long>((elapsedNs - before) / 1000.0)), *out);
        }
        slot.spill.reset();
    }
    return position;
}

void HidRecorder::flush()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    const std::uint64_t target = m_head.load(std::memory_order_acquire);
    if (target & StopBit)
        return;  // finish() has written everything
    m_flushTarget = std::max(m_flushTarget, target);
    m_wake.notify_all();
    m_caughtUp.wait(lock, [&] { return m_written >= target; });
}

void HidRecorder::runWriter()
{
    std::string chunk;
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        // A round every FlushPeriod, or when a quarter of the ring has filled: the writer
        // must not compete with the program for the processor.
        m_wake.wait_for(lock, FlushPeriod, [&] {
            return m_stopping || m_roomWanted || m_written < m_flushTarget
                || (m_head.load(std::memory_order_relaxed) & ~StopBit) - m_written >= WakeEvery;
        });
        m_roomWanted = false;
        const bool stopping = m_stopping;
        const std::uint64_t limit = stopping ? m_end : m_head.load(std::memory_order_acquire);
        lock.unlock();
        chunk.clear();
        const std::uint64_t done = drain(limit, &chunk);
        lock.lock();
        // The slots are free again before the disk is written.
        m_tail.store(done, std::memory_order_release);
        m_caughtUp.notify_all();
        if (done != m_written) {
            lock.unlock();
            const bool ok = m_failed.load(std::memory_order_relaxed) || writeOut(chunk);
            lock.lock();
            if (!ok)
                m_failed.store(true, std::memory_order_relaxed);
            m_written = done;
            m_caughtUp.notify_all();
        } else if (done < limit) {
            // A caller is between taking its slot and filling it.
            lock.unlock();
            std::this_thread::yield();
            lock.lock();
        }
        if (stopping && m_written >= m_end)
            return;
    }
}

bool HidRecorder::writeOut(const std::string& chunk)
{
    if (writeBytes(chunk.data(), 1, chunk.size(), m_file) != chunk.size() || std::fflush(m_file) != 0) {
        reportFailure(QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    m_fileSize += static_cast<qint64>(chunk.size());
    return m_fileSize <= m_cap || keepNewest();
}

bool HidRecorder::keepNewest()
{
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly)) {
        reportFailure(file.errorString());
        return false;
    }
    const QByteArray all = file.readAll();
    file.close();
    // The newest whole lines within the share kept, after the first line.
    const qint64 room = m_cap * KeepNumerator / KeepDenominator - static_cast<qint64>(m_headerLine.size());
    qint64 cut = qMax<qint64>(static_cast<qint64>(m_headerLine.size()), all.size() - qMax<qint64>(room, 0));
    cut = all.indexOf('\n', static_cast<int>(cut) - 1) + 1;
    if (cut <= 0)
        cut = all.size();
    const QByteArray tail = all.mid(static_cast<int>(cut));
    std::FILE* fresh = std::freopen(QFile::encodeName(m_path).constData(), "wb", m_file);
    if (!fresh) {
        // freopen closed the old stream: nothing is left to close.
        m_file = nullptr;
        reportFailure(QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    m_file = fresh;
    if (std::fwrite(m_headerLine.data(), 1, m_headerLine.size(), m_file) != m_headerLine.size()
        || std::fwrite(tail.constData(), 1, static_cast<std::size_t>(tail.size()), m_file)
               != static_cast<std::size_t>(tail.size())
        || std::fflush(m_file) != 0) {
        reportFailure(QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    m_fileSize = static_cast<qint64>(m_headerLine.size()) + tail.size();
    return true;
}

void HidRecorder::reportFailure(const QString& reason)
{
    // Once: the writer stops after the first failure.
    qWarning().noquote() << QStringLiteral("Recording stopped: could not write %1: %2").arg(m_path, reason);
}
