#include "tessaroeasytable.h"

#include "parameterfile.h"
#include "tessaroregister.h"
#include "device/tessaro.h"

#include <QDebug>
#include <QJsonArray>

#include <cstdlib>

namespace {
const char* const EasyModule = "sens";
const char* const ModeRegister = "conf1thr";
}

bool tessaroEasyTable::readMode(tessaro* connection, const QJsonObject& file)
{
    unsigned char reply[TessaroLink::ReportBufferSize];
    if (!TessaroRegister::exchange(connection,
                                   TessaroRegister::readCommand(QLatin1String(EasyModule), QLatin1String(ModeRegister)),
                                   reply))
        return false;
    manual = TessaroRegister::replyValue(reply) == ManualMode;
    registerName = ParameterFile::text(file.value(QLatin1String(manual ? "setting_easy_sensor_man"
                                                                       : "setting_easy_sensor_auto")));
    if (!ParameterFile::isName(registerName)) {
        qDebug().noquote() << "easy register refused, its name holds more than letters, digits and _";
        return false;
    }
    const QJsonArray entries = ParameterFile::array(file, manual ? "parameters_easy_man" : "parameters_easy_auto");
    table.resize(entries.size());
    for (int i = 0; i < entries.size(); ++i)
        table[i] = ParameterFile::integer(entries.at(i));
    return true;
}

bool tessaroEasyTable::readCurrent(tessaro* connection)
{
    unsigned char reply[TessaroLink::ReportBufferSize];
    if (!TessaroRegister::exchange(connection, TessaroRegister::readCommand(QLatin1String(EasyModule), registerName),
                                   reply))
        return false;
    current = TessaroRegister::replyValue(reply).value_or(0);
    return true;
}

bool tessaroEasyTable::writePosition(tessaro* connection, int position) const
{
    if (position < 0 || position >= table.size())
        return false;
    unsigned char reply[TessaroLink::ReportBufferSize];
    return TessaroRegister::exchange(
        connection, TessaroRegister::writeCommand(QLatin1String(EasyModule), registerName, table.at(position)), reply);
}

int tessaroEasyTable::nearestIndex(const QVector<int>& table, int value)
{
    qint64 bestDistance = FarAway;
    int bestIndex = 0;
    for (int i = 0; i < table.size(); ++i) {
        // Reply and entry may each be any int: their distance needs the wider type.
        const qint64 distance = std::abs(qint64{value} - table.at(i));
        if (distance < bestDistance) {
            bestIndex = i;
            bestDistance = distance;
        }
    }
    return bestIndex;
}
