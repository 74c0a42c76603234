#pragma once

#include "sensor/tessaroidentity.h"

#include <QSharedPointer>
#include <QString>
#include <QVector>

class tessaro;

// One HID interface on the bus that a catalogue entry matches.
struct ctlDevice {
    enum State { Ready, NotOpenable, NotAccepted };

    QString path;
    QString key;   // node and serial number (tessaro::deviceIdentity): who the device is
    QString type;  // catalogue type: "tessaro", "bootloader" or "update"
    int vendorId = 0;
    int productId = 0;
    int interfaceNumber = 0;
    State state = NotAccepted;
    QString hint;                     // why a device that is not Ready cannot be used
    tessaroIdentity identity;         // sensors, when asked for
    QString configFile;               // sensors: the model's parameter file
    QSharedPointer<tessaro> connection;  // open while the device is Ready and kept open

    bool isSensor() const;
    // "sensor", "bootloader" or "update".
    QString typeName() const;
    QString stateName() const;
};

// Finds every supported device on the bus with the window's own catalogue matching and
// version check (tessaro::searchForDevices), one connection per device.
namespace ctlDeviceScan {

enum Options { Plain = 0, ReadIdentity = 1, KeepOpen = 2 };

QVector<ctlDevice> scan(int options);

// A connection that closes its device when the last reference goes.
QSharedPointer<tessaro> newConnection();

} // namespace ctlDeviceScan
