#include "tracereader.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>

#include <limits>

namespace {

constexpr int FormatVersion = 1;
// More than any report: 64 data bytes and a report ID.
constexpr int MaxReportBytes = 4096;
// Time stamps up to here are whole numbers exactly in a JSON double (over 285 years in µs).
constexpr double MaxTimeUs = 9007199254740992.0;
constexpr int MaxShownBytes = 64;

// A whole number within [low, high], or false.
bool integer(const QJsonValue& value, double low, double high, int* out)
{
    if (!value.isDouble())
        return false;
    const double number = value.toDouble();
    if (number < low || number > high || number != static_cast<double>(static_cast<long long>(number)))
        return false;
    *out = static_cast<int>(number);
    return true;
}

bool hexBytes(const QJsonValue& value, QByteArray* out)
{
    if (!value.isString())
        return false;
    const QString text = value.toString();
    if (text.size() % 2 != 0 || text.size() > 2 * MaxReportBytes)
        return false;
    for (const QChar c : text) {
        if (!c.isDigit() && !(c >= QLatin1Char('a') && c <= QLatin1Char('f'))
            && !(c >= QLatin1Char('A') && c <= QLatin1Char('F')))
            return false;
    }
    *out = QByteArray::fromHex(text.toLatin1());
    return true;
}

// The recorder writes path bytes above 0x7f as the characters of the same number.
bool pathBytes(const QJsonValue& value, QByteArray* out)
{
    if (!value.isString())
        return false;
    const QString text = value.toString();
    for (const QChar c : text) {
        if (c.unicode() > 0xff || c.unicode() == 0)
            return false;
    }
    *out = text.toLatin1();
    return true;
}

QString plain(const QString& text)
{
    QString shown;
    for (const QChar c : text.left(MaxShownBytes))
        shown += c.isPrint() ? c : QChar(0xfffd);
    return text.size() > MaxShownBytes ? shown + QStringLiteral("...") : shown;
}

} // namespace

QString TraceReader::reportText(const QByteArray& data)
{
    // Report ID 0 first, as the program writes it.
    const QByteArray body = data.startsWith('\0') ? data.mid(1) : data;
    const int end = body.indexOf('\0');
    const QByteArray text = body.left(end < 0 ? body.size() : end);
    bool printable = !text.isEmpty();
    for (const char c : text)
        printable = printable && c >= 0x20 && c < 0x7f;
    if (printable && body.mid(text.size()).count('\0') == body.size() - text.size())
        return QLatin1Char('"') + QString::fromLatin1(text.left(MaxShownBytes)) + QLatin1Char('"');
    return QString::fromLatin1(data.left(MaxShownBytes / 2).toHex()) + (data.size() > MaxShownBytes / 2 ? QStringLiteral("...") : QString());
}

QString TraceEvent::describe() const
{
    switch (kind) {
    case Kind::Enumerate:
        return QStringLiteral("enumerate (%1 devices)").arg(devices.size());
    case Kind::Open:
        return QStringLiteral("open %1").arg(plain(QString::fromLatin1(path)));
    case Kind::Close:
        return QStringLiteral("close");
    case Kind::Write:
        return QStringLiteral("write %1").arg(TraceReader::reportText(data));
    case Kind::Read:
        return result > 0 ? QStringLiteral("read %1").arg(TraceReader::reportText(data))
                          : QStringLiteral("read returning %1").arg(result);
    }
    return QString();
}

bool TraceReader::readFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        m_events.clear();
        m_error = QStringLiteral("cannot open %1: %2").arg(path, file.errorString());
        return false;
    }
    const QByteArray content = file.read(MaxFileBytes + 1);
    if (content.size() > MaxFileBytes) {
        m_events.clear();
        m_error = QStringLiteral("%1 is larger than %2 MiB, not a trace").arg(path).arg(MaxFileBytes >> 20);
        return false;
    }
    return parse(content);
}

bool TraceReader::fail(int line, const QString& what)
{
    m_events.clear();
    m_header = QJsonObject();
    m_error = QStringLiteral("line %1: %2").arg(line).arg(what);
    return false;
}

bool TraceReader::parse(const QByteArray& content)
{
    m_events.clear();
    m_header = QJsonObject();
    m_error.clear();
    int line = 0;
    int start = 0;
    while (start < content.size()) {
        int end = content.indexOf('\n', start);
        if (end < 0)
            end = content.size();
        ++line;
        if (end - start > MaxLineBytes)
            return fail(line, QStringLiteral("longer than %1 bytes").arg(MaxLineBytes));
        if (!parseLine(line, content.mid(start, end - start)))
            return false;
        start = end + 1;
    }
    if (m_header.isEmpty())
        return fail(1, QStringLiteral("empty file, not a trace"));
    return true;
}

bool TraceReader::parseLine(int line, const QByteArray& text)
{
    if (line > 1 && text.trimmed().isEmpty())
        return true;
    const QJsonDocument document = QJsonDocument::fromJson(text);
    if (!document.isObject())
        return fail(line, QStringLiteral("not a JSON object"));
    const QJsonObject object = document.object();
    const QString name = object.value(QLatin1String("event")).toString();
    if (line == 1) {
        if (name != QLatin1String("start"))
            return fail(line, QStringLiteral("not a trace: it does not begin with a \"start\" event"));
        int format = 0;
        if (!integer(object.value(QLatin1String("format")), 0, std::numeric_limits<int>::max(), &format)
            || format != FormatVersion)
            return fail(line, QStringLiteral("trace format not known (this program reads format %1)").arg(FormatVersion));
        m_header = object;
        return true;
    }

    TraceEvent event;
    event.line = line;
    event.timeUs = m_events.empty() ? 0 : m_events.back().timeUs;
    const QJsonValue time = object.value(QLatin1String("t"));
    if (!time.isUndefined()) {
        if (!time.isDouble() || time.toDouble() < 0 || time.toDouble() > MaxTimeUs
            || time.toDouble() != static_cast<double>(static_cast<qint64>(time.toDouble())))
            return fail(line, QStringLiteral("%1 without a valid \"t\"").arg(plain(name)));
        event.timeUs = static_cast<qint64>(time.toDouble());
    }
    const auto missing = [&](const char* field) {
        return fail(line, QStringLiteral("%1 without a valid \"%2\"").arg(plain(name), QLatin1String(field)));
    };
    const auto number = [&](const char* field, double low, double high, int* out) {
        return integer(object.value(QLatin1String(field)), low, high, out);
    };
    const double maxInt = std::numeric_limits<int>::max();
    if (name == QLatin1String("enumerate")) {
        event.kind = TraceEvent::Kind::Enumerate;
        if (!parseDevices(line, object, &event))
            return false;
    } else if (name == QLatin1String("open")) {
        event.kind = TraceEvent::Kind::Open;
        if (!pathBytes(object.value(QLatin1String("path")), &event.path))
            return missing("path");
        if (!number("handle", 0, maxInt, &event.handle))
            return missing("handle");
    } else if (name == QLatin1String("close")) {
        event.kind = TraceEvent::Kind::Close;
        if (!number("handle", 1, maxInt, &event.handle))
            return missing("handle");
    } else if (name == QLatin1String("write") || name == QLatin1String("read")) {
        event.kind = name == QLatin1String("write") ? TraceEvent::Kind::Write : TraceEvent::Kind::Read;
        if (!number("handle", 1, maxInt, &event.handle))
            return missing("handle");
        if (!number("result", -1, MaxReportBytes, &event.result))
            return missing("result");
        if (!hexBytes(object.value(QLatin1String("data")), &event.data))
            return missing("data");
        if (event.kind == TraceEvent::Kind::Read) {
            if (!number("timeout", -1, maxInt, &event.timeoutMs))
                return missing("timeout");
            if (event.data.size() != qMax(event.result, 0))
                return fail(line, QStringLiteral("read whose \"data\" is not \"result\" bytes long"));
        }
    } else {
        return fail(line, QStringLiteral("unknown event \"%1\"").arg(plain(name)));
    }
    m_events.push_back(std::move(event));
    return true;
}

bool TraceReader::parseDevices(int line, const QJsonObject& object, TraceEvent* event)
{
    const QJsonValue list = object.value(QLatin1String("devices"));
    if (!list.isArray())
        return fail(line, QStringLiteral("enumerate without a valid \"devices\""));
    const QJsonArray array = list.toArray();
    for (const QJsonValue& value : array) {
        const QJsonObject entry = value.toObject();
        TraceDevice device;
        int vendor = 0;
        int product = 0;
        const QJsonValue serial = entry.value(QLatin1String("serial"));
        if (!integer(entry.value(QLatin1String("vendor")), 0, 0xffff, &vendor)
            || !integer(entry.value(QLatin1String("product")), 0, 0xffff, &product)
            || !integer(entry.value(QLatin1String("interface")), -1, 0xff, &device.interfaceNumber)
            || !pathBytes(entry.value(QLatin1String("path")), &device.path) || !serial.isString())
            return fail(line, QStringLiteral("enumerate with a device that lacks a valid vendor, product, interface, path or serial"));
        device.vendor = static_cast<unsigned short>(vendor);
        device.product = static_cast<unsigned short>(product);
        device.serial = serial.toString().toStdWString();
        event->devices.push_back(std::move(device));
    }
    return true;
}
