#include "tessaropoll.h"

#include "device/tessaro.h"
#include "sensor/tessaroregister.h"

#include <QDebug>

using TessaroLink::ReportBufferSize;

namespace {

const char* const NotConnected = "Tessaro not connected, ABORT!";
constexpr int CornerCount = 4;
constexpr double SecondsPerHour = 3600.0;

// Ticks since the corners were last read, shared by every poll of the run.
int calReadCounter = 0;

} // namespace

QString tessaroPenIdentity::versionText() const
{
    return QStringLiteral("SW %1.%2")
        .arg(version / 256, 2, 10, QLatin1Char('0'))
        .arg(version & 0xff, 2, 10, QLatin1Char('0'));
}

tessaroPoll::tessaroPoll(tessaro* deviceConnection, QObject* parent)
    : QObject(parent)
    , connection(deviceConnection)
{
}

bool tessaroPoll::exchange(const QByteArray& command, unsigned char* reply)
{
    // No reply ends the tick: a mute sensor would make every remaining exchange wait out
    // its limit as well, and an empty reply holds nothing to show.
    return TessaroRegister::exchange(connection, command, reply) && reply[0] != 0;
}

QString tessaroPoll::firstField(const unsigned char* reply)
{
    return QString::fromLocal8Bit(reinterpret_cast<const char*>(reply)).split(QLatin1Char(';')).constFirst();
}

std::optional<tessaroPenState> tessaroPoll::parsePenState(const QStringList& fields)
{
    if (fields.size() < 4)
        return std::nullopt;
    tessaroPenState state;
    if (fields.at(1) != QLatin1String("2"))
        return state;
    state.valid = true;
    if (fields.at(2).toInt() != 0) {
        // Single-precision constants, as the sensor's documentation computes it.
        const float reading = fields.at(2).toFloat();
        state.hasBattery = true;
        state.volts = static_cast<double>(256.0f) / static_cast<double>(reading) * static_cast<double>(1.2f);
    }
    if (fields.at(3).toInt() != 0) {
        state.hasRunning = true;
        state.runningHours = static_cast<double>(fields.at(3).toFloat()) / SecondsPerHour;
    }
    return state;
}

std::optional<tessaroPenIdentity> tessaroPoll::parsePenId(const QStringList& fields)
{
    if (fields.size() < 3)
        return std::nullopt;
    tessaroPenIdentity identity;
    // Fields 3 and 4 may be missing from a short reply: they then read as empty.
    identity.id = fields.value(3);
    identity.pairing = fields.at(2).toInt();
    identity.ready = identity.pairing > PairingReady;
    identity.version = fields.value(4).toInt(nullptr, 16);
    return identity;
}

tessaroPenPoint tessaroPoll::parsePoint(const QString& first)
{
    const QStringList fields = first.split(QLatin1Char(':'));
    return {fields.value(2).toInt(), fields.value(3).toInt(), fields.value(4).toInt(), fields.value(5).toInt()};
}

tessaroCalState tessaroPoll::parseCalState(const QString& first)
{
    const QStringList fields = first.split(QLatin1Char(':'));
    return {fields.value(2).toInt() != 0, fields.value(3).toInt()};
}

bool tessaroPoll::readPoint()
{
    unsigned char reply[ReportBufferSize];
    if (!exchange("sens:point;", reply))
        return false;
    emit pointReply(firstField(reply));
    return true;
}

bool tessaroPoll::readPenState()
{
    unsigned char reply[ReportBufferSize];
    if (!exchange("pen:state;", reply))
        return false;
    if (const auto state = parsePenState(colonFields(reply)))
        emit penState(*state);
    return true;
}

bool tessaroPoll::readPenId()
{
    unsigned char reply[ReportBufferSize];
    if (!exchange("pen:id;", reply))
        return false;
    if (const auto identity = parsePenId(colonFields(reply)))
        emit penIdentity(*identity);
    return true;
}

bool tessaroPoll::readCalState()
{
    unsigned char reply[ReportBufferSize];
    if (!exchange("cal:state;", reply))
        return false;
    emit calStateReply(firstField(reply));
    return true;
}

bool tessaroPoll::readCorners()
{
    unsigned char reply[ReportBufferSize];
    QList<int> x;
    QList<int> y;
    for (int i = 1; i <= CornerCount; ++i) {
        if (!exchange(QStringLiteral("cal:read:x%1;").arg(i).toLocal8Bit(), reply))
            return false;
        x << colonFields(reply).value(3).toInt();
        if (!exchange(QStringLiteral("cal:read:y%1;").arg(i).toLocal8Bit(), reply))
            return false;
        y << colonFields(reply).value(3).toInt();
    }
    emit cornersRead(x, y);
    return true;
}

bool tessaroPoll::tick()
{
    if (!connection || !connection->isConnected) {
        qDebug() << NotConnected;
        return false;
    }
    if (!readPoint() || !readPenState() || !readPenId() || !readCalState())
        return false;
    if (++calReadCounter <= CornerReadEvery)
        return true;
    calReadCounter = 0;
    return readCorners();
}
