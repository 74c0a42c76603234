#include "hidrecorder.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDebug>
#include <QFile>

#include <sys/utsname.h>

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

QString kernelText()
{
    utsname name{};
    if (::uname(&name) != 0)
        return QStringLiteral("unknown");
    return QStringLiteral("%1 %2 %3 %4")
        .arg(QString::fromLocal8Bit(name.sysname), QString::fromLocal8Bit(name.release),
             QString::fromLocal8Bit(name.version), QString::fromLocal8Bit(name.machine));
}

} // namespace

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
    , m_start(std::chrono::steady_clock::now())
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
    }
    m_wake.notify_all();
    m_writer.join();
    if (m_file && std::fclose(m_file) != 0 && !m_failed)
        reportFailure(QString::fromLocal8Bit(std::strerror(errno)));
    m_file = nullptr;
}

namespace {

enum class Kind : std::uint8_t { Enumerate, Open, Close, Write, Read };

// An event as the calling thread stores it: the writer formats it. Followed by dataBytes
// of report data and textBytes of a JSON fragment made by the caller (rare events only).
struct RawEvent {
    std::int64_t micros;
    const hid_device* handle;
    std::int32_t result;
    std::int32_t timeout;
    std::uint32_t length;
    std::uint32_t dataBytes;
    std::uint32_t textBytes;
    Kind kind;
};

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
    RawEvent event{};
    event.micros = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - m_start).count();
    event.handle = handle;
    event.result = result;
    event.timeout = timeoutMs;
    event.length = static_cast<std::uint32_t>(length);
    event.dataBytes = data ? static_cast<std::uint32_t>(dataBytes) : 0;
    event.textBytes = static_cast<std::uint32_t>(text.size());
    event.kind = static_cast<Kind>(kind);
    std::lock_guard<std::mutex> guard(m_mutex);
    if (m_failed || m_stopping)
        return;
    m_pending.append(reinterpret_cast<const char*>(&event), sizeof event);
    if (event.dataBytes)
        m_pending.append(reinterpret_cast<const char*>(data), event.dataBytes);
    m_pending += text;
    ++m_queued;
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

std::string HidRecorder::format(const std::string& raw)
{
    std::string out;
    out.reserve(raw.size() * 2);
    std::size_t at = 0;
    while (at + sizeof(RawEvent) <= raw.size()) {
        RawEvent event;
        std::memcpy(&event, raw.data() + at, sizeof event);
        const auto* data = reinterpret_cast<const unsigned char*>(raw.data() + at + sizeof event);
        const char* text = raw.data() + at + sizeof event + event.dataBytes;
        at += sizeof event + event.dataBytes + event.textBytes;
        out += "{\"t\":";
        appendNumber(out, event.micros);
        out += ",\"event\":\"";
        out += kindName(event.kind);
        out += '"';
        if (event.kind != Kind::Enumerate) {
            out += ",\"handle\":";
            if (event.kind == Kind::Open) {
                if (event.handle)
                    m_handles[event.handle] = ++m_lastHandle;
                appendNumber(out, event.handle ? m_lastHandle : 0);
            } else {
                appendNumber(out, handleId(event.handle));
            }
            if (event.kind == Kind::Close)
                m_handles.erase(event.handle);
        }
        if (event.kind == Kind::Read) {
            out += ",\"length\":";
            appendNumber(out, event.length);
            out += ",\"timeout\":";
            appendNumber(out, event.timeout);
        }
        if (event.kind == Kind::Write || event.kind == Kind::Read) {
            out += ",\"result\":";
            appendNumber(out, event.result);
            out += ",\"data\":";
            appendHex(out, data, event.dataBytes);
        }
        if (event.kind == Kind::Read && event.result == 0 && event.timeout != 0)
            out += ",\"timedOut\":true";
        out.append(text, event.textBytes);
        out += "}\n";
    }
    return out;
}

void HidRecorder::flush()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    const unsigned long long target = m_queued;
    m_flushWanted = m_flushWanted || m_written < target;
    m_wake.notify_all();
    m_caughtUp.wait(lock, [&] { return m_written >= target; });
}

void HidRecorder::runWriter()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        // A round every FlushPeriod, not at every event: the writer must not compete with
        // the program for the processor.
        m_wake.wait_for(lock, FlushPeriod, [&] { return m_stopping || m_flushWanted; });
        m_flushWanted = false;
        if (m_written < m_queued) {
            // Events that come while this is written wait for the next round.
            std::string chunk;
            chunk.swap(m_pending);
            const unsigned long long events = m_queued;
            lock.unlock();
            const bool ok = m_failed || writeOut(format(chunk));
            lock.lock();
            if (!ok) {
                m_failed = true;
                m_pending.clear();
                m_written = m_queued;
            } else {
                m_written = events;
            }
            m_caughtUp.notify_all();
        }
        if (m_stopping && m_written >= m_queued)
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
