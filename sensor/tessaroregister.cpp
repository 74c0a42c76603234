#include "tessaroregister.h"

#include "device/tessaro.h"

#include <QDebug>
#include <QStringList>

#include <cstring>

namespace {

// A name ends at its first NUL, as a C string handed to "%s" would.
QByteArray nameBytes(const QString& name)
{
    const QByteArray utf8 = name.toUtf8();
    return QByteArray(utf8.constData());
}

constexpr int ValuePart = 3;
constexpr int MinimumParts = 5;

const char* const NotConnected = "Tessaro not connected, ABORT!";
const char* const ExchangeFailed = "Error reading Tessaro, ABORT!";
const char* const TooLong = "Command longer than one report, not sent:";
const char* const NotOne = "Not a single command, not sent:";

} // namespace

bool TessaroRegister::exchange(tessaro* connection, const QByteArray& command, unsigned char* reply)
{
    if (!connection || !connection->isConnected) {
        qDebug() << NotConnected;
        return false;
    }
    if (!isOneCommand(command)) {
        qDebug() << NotOne << command;
        return false;
    }
    if (!fitsReport(command)) {
        qDebug() << TooLong << command;
        return false;
    }
    std::memset(reply, 0, TessaroLink::ReportBufferSize);
    if (!connection->sendCommand(command.constData(), reply)) {
        qDebug() << ExchangeFailed;
        return false;
    }
    return true;
}

QByteArray TessaroRegister::readCommand(const QString& module, const QString& regname)
{
    return nameBytes(module) + ":read:" + nameBytes(regname) + ';';
}

QByteArray TessaroRegister::writeCommand(const QString& module, const QString& regname, int value)
{
    return nameBytes(module) + ":write:" + nameBytes(regname) + ':' + QByteArray::number(value) + ';';
}

bool TessaroRegister::isOneCommand(const QByteArray& command)
{
    if (!command.endsWith(';') || command.indexOf(';') != command.size() - 1)
        return false;
    for (const char c : command) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f)
            return false;
    }
    return true;
}

bool TessaroRegister::fitsReport(const QByteArray& command)
{
    return command.size() <= TessaroLink::ReportSize;
}

std::optional<int> TessaroRegister::replyValue(const unsigned char* reply)
{
    const QStringList parts =
        QString::fromLocal8Bit(reinterpret_cast<const char*>(reply)).split(QLatin1Char(':'));
    if (parts.size() < MinimumParts)
        return std::nullopt;
    bool ok = false;
    const int value = parts.at(ValuePart).toInt(&ok, 10);
    return ok ? value : 0;
}

bool TessaroRegister::read(tessaro* connection, const QString& module, const QString& regname,
                           std::optional<int>* value)
{
    unsigned char reply[TessaroLink::ReportBufferSize] = {};
    if (!exchange(connection, readCommand(module, regname), reply))
        return false;
    *value = replyValue(reply);
    return true;
}

bool TessaroRegister::write(tessaro* connection, const QString& module, const QString& regname, int value)
{
    unsigned char reply[TessaroLink::ReportBufferSize] = {};
    return exchange(connection, writeCommand(module, regname, value), reply);
}
