#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <string>
#include <vector>

// One device of a recorded enumeration.
struct TraceDevice {
    unsigned short vendor = 0;
    unsigned short product = 0;
    int interfaceNumber = 0;
    QByteArray path;
    std::wstring serial;
};

// One recorded call at the hidapi boundary.
struct TraceEvent {
    enum class Kind { Enumerate, Open, Close, Write, Read };
    Kind kind = Kind::Enumerate;
    int line = 0;       // in the trace file, from 1
    int handle = 0;     // open: 0 when the open failed
    int result = 0;     // write and read: what the call returned
    int timeoutMs = 0;  // read
    qint64 timeUs = 0;  // since the recording began; the event before's when not recorded
    QByteArray data;    // write: the bytes given; read: the bytes returned
    QByteArray path;    // open
    std::vector<TraceDevice> devices;  // enumerate

    // A short plain-text account for messages: "write "app:id;"", "open /dev/hidraw3".
    QString describe() const;
};

// Reads a trace that HidRecorder wrote. The file is untrusted: every line is checked, and
// the first that is not a well-formed event ends the reading with a message naming it.
class TraceReader
{
public:
    static constexpr qint64 MaxFileBytes = 64 * 1024 * 1024;
    static constexpr int MaxLineBytes = 1024 * 1024;

    bool readFile(const QString& path);
    bool parse(const QByteArray& content);

    // "line 7: write without "data"" and the like; empty after a successful read.
    QString errorText() const { return m_error; }
    const QJsonObject& header() const { return m_header; }
    const std::vector<TraceEvent>& events() const { return m_events; }

    // The bytes of data as text if they are a command (printable up to the first zero),
    // else as hexadecimal; for messages.
    static QString reportText(const QByteArray& data);

private:
    bool fail(int line, const QString& what);
    bool parseLine(int line, const QByteArray& text);
    bool parseDevices(int line, const QJsonObject& object, TraceEvent* event);

    QJsonObject m_header;
    std::vector<TraceEvent> m_events;
    QString m_error;
};
