#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include <hidapi/hidapi.h>

class QFileSystemWatcher;

// Tells the hot-plug search whether a scan of the bus is worth its cost. A scan walks every
// HID device of the system, so on a desktop with many keyboards, mice and receivers it
// would cost more the more devices there are; the kernel's device folder (devtmpfs, updated
// whether or not a udev daemon runs) changes whenever a hidraw node comes or goes, so
// watching it is enough. A scan is due:
// - while nothing proves the bus is the kernel's (no listed path is a node in the folder,
//   or the folder cannot be watched): every tick, as before. The in-process simulator is
//   such a bus. A folder that refuses the watch is tried once and said once;
// - for a few ticks after the folder, the catalogue or the catalogue's folder changed (a
//   node may be listed a moment after it appears; an editor saves the catalogue by
//   renaming a new file over it, which ends the watch on the old one);
// - every tick while the last scan listed a catalogue device: it is open, or it is retried
//   as the catalogue's rules say;
// - after safetyScanMs() without a scan, in case a change went unseen.
class HidrawWatch : public QObject
{
    Q_OBJECT
public:
    static constexpr int SafetyScanMs = 10000;
    static constexpr int TicksAfterChange = 3;

    HidrawWatch(const QString& catalogue, QObject* parent = nullptr);

    // Where the kernel makes the nodes (default "/dev"); tests point it elsewhere.
    void setFolder(const QString& folder);
    void setSafetyScanMs(int ms) { m_safetyMs = ms; }

    bool scanDue() const;
    // After each scan: the list it got, and whether it listed a device of the catalogue.
    void scanned(const hid_device_info* list, bool catalogueDeviceListed);

private:
    void changed();
    bool listsNodeInFolder(const hid_device_info* list) const;
    void startWatching();
    void watchCatalogue();

    QString m_catalogue;
    QString m_folder = QStringLiteral("/dev");
    QFileSystemWatcher* m_watcher = nullptr;
    QElapsedTimer m_sinceScan;
    int m_safetyMs = SafetyScanMs;
    int m_ticksToScan = 0;
    bool m_folderRefused = false;
    bool m_catalogueRefused = false;
    bool m_catalogueDeviceListed = false;
};
