#pragma once

#include <QString>

// One program at a time updates a unit. The lock is an exclusive flock() on a file named
// after the unit in $XDG_RUNTIME_DIR (else the temporary folder), so every copy of the
// window and of tessaroctl finds the same one; the kernel drops it with the file's last
// descriptor, so the lock of a program that died never blocks. flock() locks an open file,
// not a process: two objects are two holders, also within one program.
//
// The connection takes it before it sends the sensor to its bootloader, the flashing
// sequence before it erases; it is given up when the run has ended without success, or
// once the sensor is back.
class UpdateLock
{
public:
    UpdateLock() = default;
    ~UpdateLock();
    UpdateLock(const UpdateLock&) = delete;
    UpdateLock& operator=(const UpdateLock&) = delete;

    // What a program that finds the lock held says.
    static constexpr char HeldText[] = "another program is updating this sensor";

    // The name that every identity of one unit maps to: vendor and serial number. Not the
    // product ID, which differs between the sensor, its bootloader and the older update
    // mode of one unit; the serial number stays. Units without one share a name.
    static QString unitName(unsigned vendorId, const QString& serialNumber);
    static QString filePath(const QString& unit);

    // Takes the unit's lock, giving up one of another unit held here; true when this
    // object holds it now (also when it held it already), false when another holder has
    // it. Should the lock file be unusable (no folder to write, something else at its
    // path), the update goes on without it: refusing every update would strand the unit.
    bool acquire(const QString& unit);
    void release();
    bool holds(const QString& unit) const;
    // Whether a holder other than this object has the unit's lock.
    bool heldElsewhere(const QString& unit) const;

private:
    int fd = -1;
    QString heldUnit;
};
