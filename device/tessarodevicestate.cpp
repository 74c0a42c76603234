#include "tessarodevicestate.h"

#include "tessaro.h"
#include "untrustedtext.h"
#include "translatedtext.h"

#include <QCoreApplication>

namespace {

const char* const TextContext = "tessaroDeviceState";

// A value the device gave, with "?" for one it did not give.
QString shown(const QString& value)
{
    return value.isEmpty() ? QStringLiteral("?") : UntrustedText::shown(value);
}

// How much a state tells the user, for choosing among the devices of one search.
int weight(tessaroDeviceState::Kind kind)
{
    switch (kind) {
    case tessaroDeviceState::NoDevice:
        return 0;
    case tessaroDeviceState::Silent:
        return 1;
    case tessaroDeviceState::Unsupported:
        return 2;
    case tessaroDeviceState::NotOpenable:
        return 3;
    case tessaroDeviceState::UpdatingElsewhere:
        return 4;
    case tessaroDeviceState::Bootloader:
    case tessaroDeviceState::Legacy:
    case tessaroDeviceState::Sensor:
        break;
    }
    return 5;
}

} // namespace

tessaroDeviceState tessaroDeviceState::unsupported(const QString& path, const QString& hardware, const QString& firmware)
{
    tessaroDeviceState state;
    state.m_kind = Unsupported;
    state.m_path = path;
    state.m_hardware = hardware;
    state.m_firmware = firmware;
    return state;
}

tessaroDeviceState tessaroDeviceState::silent(const QString& path)
{
    tessaroDeviceState state;
    state.m_kind = Silent;
    state.m_path = path;
    return state;
}

tessaroDeviceState tessaroDeviceState::notOpenable(const QString& path, bool noPermission)
{
    tessaroDeviceState state;
    state.m_kind = NotOpenable;
    state.m_path = path;
    state.m_noPermission = noPermission;
    return state;
}

tessaroDeviceState tessaroDeviceState::updatingElsewhere(const QString& path)
{
    tessaroDeviceState state;
    state.m_kind = UpdatingElsewhere;
    state.m_path = path;
    return state;
}

tessaroDeviceState tessaroDeviceState::connectedTo(const QString& type, const QString& path, const QString& hardware,
                                                   const QString& firmware)
{
    tessaroDeviceState state;
    if (type == QLatin1String(TessaroLink::TypeSensor))
        state.m_kind = Sensor;
    else if (type == QLatin1String(TessaroLink::TypeBootloader))
        state.m_kind = Bootloader;
    else if (type == QLatin1String(TessaroLink::TypeUpdate))
        state.m_kind = Legacy;
    else
        return state;
    state.m_path = path;
    if (state.m_kind == Sensor) {
        state.m_hardware = hardware;
        state.m_firmware = firmware;
    }
    return state;
}

void tessaroDeviceState::identify(const QString& sensorId, const QString& hardware, const QString& firmware)
{
    if (m_kind != Sensor)
        return;
    m_sensorId = sensorId;
    if (!hardware.isEmpty())
        m_hardware = hardware;
    if (!firmware.isEmpty())
        m_firmware = firmware;
}

bool tessaroDeviceState::outranks(const tessaroDeviceState& other) const
{
    return weight(m_kind) > weight(other.m_kind);
}

QString tessaroDeviceState::text() const
{
    switch (m_kind) {
    case NoDevice:
        return QCoreApplication::translate(TextContext, "[status:nodevice]");
    case Unsupported:
        return fillTranslation(QCoreApplication::translate(TextContext, "[status:unsupported]"),
                               {shown(m_hardware), shown(m_firmware)});
    case Silent:
        return QCoreApplication::translate(TextContext, "[status:silent]");
    case NotOpenable: {
        const QString line = m_noPermission ? QCoreApplication::translate(TextContext, "[status:noaccess]")
                                            : QCoreApplication::translate(TextContext, "[status:notopenable]");
        return fillTranslation(line, {m_path, QLatin1String(TessaroLink::UdevRuleFile)});
    }
    case UpdatingElsewhere:
        return QCoreApplication::translate(TextContext, "[status:updatingelsewhere]");
    case Bootloader:
        return QCoreApplication::translate(TextContext, "[status:bootloader]");
    case Legacy:
        return QCoreApplication::translate(TextContext, "[status:legacy]");
    case Sensor:
        break;
    }
    return fillTranslation(QCoreApplication::translate(TextContext, "[status:connected]"),
                           {shown(m_sensorId), shown(m_firmware)});
}

bool tessaroDeviceState::operator==(const tessaroDeviceState& other) const
{
    return m_kind == other.m_kind && m_path == other.m_path && m_hardware == other.m_hardware
        && m_firmware == other.m_firmware && m_sensorId == other.m_sensorId && m_noPermission == other.m_noPermission;
}
