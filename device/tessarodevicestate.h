#pragma once

#include <QString>

// What the program knows of the device on the bus, in one of the few states a technician
// can act on: nothing there, a device this program does not serve, one it may not open,
// a sensor in its bootloader, or a connected device. The connection works it out at every
// search; the window's status line and tessaroctl only show it.
class tessaroDeviceState
{
public:
    enum Kind {
        NoDevice,
        Unsupported,  // a sensor answered with versions the catalogue does not list
        Silent,       // a sensor did not answer its version check
        NotOpenable,  // a catalogue device that could not be opened
        UpdatingElsewhere,  // a sensor's bootloader left alone: another program updates it
        Bootloader,   // connected: a sensor in its HID bootloader
        Legacy,       // connected: a device with an older firmware ("update")
        Sensor,       // connected: a sensor running its application
    };

    static tessaroDeviceState none() { return tessaroDeviceState(); }
    static tessaroDeviceState unsupported(const QString& path, const QString& hardware, const QString& firmware);
    static tessaroDeviceState silent(const QString& path);
    // noPermission: the device node refused the user, which the udev rule mends.
    static tessaroDeviceState notOpenable(const QString& path, bool noPermission);
    static tessaroDeviceState updatingElsewhere(const QString& path);
    // By catalogue type ("tessaro", "bootloader", "update"); versions only for a sensor.
    static tessaroDeviceState connectedTo(const QString& type, const QString& path, const QString& hardware = QString(),
                                          const QString& firmware = QString());

    Kind kind() const { return m_kind; }
    QString path() const { return m_path; }
    QString hardware() const { return m_hardware; }
    QString firmware() const { return m_firmware; }
    QString sensorId() const { return m_sensorId; }
    bool noPermission() const { return m_noPermission; }
    bool isConnected() const { return m_kind == Bootloader || m_kind == Legacy || m_kind == Sensor; }

    // A connected sensor's identity as its view read it; a field left empty keeps the
    // value the version check gave.
    void identify(const QString& sensorId, const QString& hardware, const QString& firmware);

    // Of two devices found in one search, whether this one tells the user more (an open
    // device before a refused one, a device that cannot be opened before one that can).
    bool outranks(const tessaroDeviceState& other) const;

    // The translated line for the user.
    QString text() const;

    bool operator==(const tessaroDeviceState& other) const;
    bool operator!=(const tessaroDeviceState& other) const { return !(*this == other); }

private:
    Kind m_kind = NoDevice;
    QString m_path;
    QString m_hardware;
    QString m_firmware;
    QString m_sensorId;
    bool m_noPermission = false;
};
