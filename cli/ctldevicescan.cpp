#include "ctldevicescan.h"

#include "device/tessaro.h"
#include "trace/tracedhid.h"

#include <cerrno>
#include <unistd.h>

#include <hidapi/hidapi.h>

namespace {

const char* const UdevRuleFile = "70-tessaroutility.rules";

bool known(const QString& type)
{
    return type == QLatin1String(TessaroLink::TypeSensor) || type == QLatin1String(TessaroLink::TypeBootloader)
        || type == QLatin1String(TessaroLink::TypeUpdate);
}

// Whether the node opens at all: tells a device we may not open from one that opened but
// whose version the catalogue does not list.
bool opens(const char* path)
{
    hid_device* handle = TracedHid::openPath(path);
    if (!handle)
        return false;
    TracedHid::close(handle);
    return true;
}

QString openHint(const char* path)
{
    if (::access(path, R_OK | W_OK) != 0 && errno == EACCES)
        return QStringLiteral("no permission: install the udev rule %1 and plug the device in again")
            .arg(QLatin1String(UdevRuleFile));
    return QStringLiteral("cannot be opened: in use by another program, or no permission (udev rule %1)")
        .arg(QLatin1String(UdevRuleFile));
}

} // namespace

bool ctlDevice::isSensor() const
{
    return type == QLatin1String(TessaroLink::TypeSensor);
}

QString ctlDevice::typeName() const
{
    return isSensor() ? QStringLiteral("sensor") : type;
}

QString ctlDevice::stateName() const
{
    switch (state) {
    case Ready:
        return QStringLiteral("ready");
    case NotOpenable:
        return QStringLiteral("not-openable");
    case NotAccepted:
        break;
    }
    return QStringLiteral("not-accepted");
}

QSharedPointer<tessaro> ctlDeviceScan::newConnection()
{
    auto* connection = new tessaro;
    // tessaroctl looks for devices itself; the connection must never search on its own.
    connection->SetHotPlugTimerState(false);
    // Listing or choosing a unit sends nothing to a bootloader; flash takes the unit's
    // update lock itself and says so when another program holds it.
    connection->setHonoursUpdateLocks(false);
    return QSharedPointer<tessaro>(connection, [](tessaro* c) {
        if (c->isConnected)
            c->disconnectDevice();
        delete c;
    });
}

QVector<ctlDevice> ctlDeviceScan::scan(int options)
{
    QVector<ctlDevice> found;
    hid_device_info* list = TracedHid::enumerate();
    for (hid_device_info* info = list; info; info = info->next) {
        if (!info->path)
            continue;
        QSharedPointer<tessaro> connection = newConnection();
        printDeviceinfo(info);
        const bool accepted = connection->searchForDevices(list, info);
        if (!known(connection->deviceType)) {
            connection.reset();  // matches no entry, or an entry of no role
            continue;
        }
        ctlDevice device;
        device.path = QString::fromLocal8Bit(info->path);
        device.key = tessaro::deviceIdentity(info);
        device.type = connection->deviceType;
        device.vendorId = info->vendor_id;
        device.productId = info->product_id;
        device.interfaceNumber = info->interface_number;
        if (accepted) {
            device.state = ctlDevice::Ready;
            device.configFile = connection->configFile;
            if (device.isSensor() && (options & ReadIdentity) && !device.identity.read(connection.data())) {
                device.state = ctlDevice::NotAccepted;
                device.hint = QStringLiteral("stopped answering");
            }
            if (device.state == ctlDevice::Ready && (options & KeepOpen) && connection->isConnected)
                device.connection = connection;
        } else if (!opens(info->path)) {
            device.state = ctlDevice::NotOpenable;
            device.hint = openHint(info->path);
        } else {
            device.state = ctlDevice::NotAccepted;
            device.hint = QStringLiteral("its version is not listed in sensors/supported.json, or it did not answer");
        }
        found << device;
    }
    TracedHid::freeEnumeration(list);
    return found;
}
