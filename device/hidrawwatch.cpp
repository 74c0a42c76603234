#include "hidrawwatch.h"

#include <QFileInfo>
#include <QFileSystemWatcher>

HidrawWatch::HidrawWatch(const QString& catalogue, QObject* parent)
    : QObject(parent)
    , m_catalogue(catalogue)
{
}

void HidrawWatch::setFolder(const QString& folder)
{
    m_folder = folder;
    delete m_watcher;
    m_watcher = nullptr;
}

bool HidrawWatch::scanDue() const
{
    return !m_watcher || m_ticksToScan > 0 || m_catalogueDeviceListed || !m_sinceScan.isValid()
        || m_sinceScan.hasExpired(m_safetyMs);
}

void HidrawWatch::scanned(const hid_device_info* list, bool catalogueDeviceListed)
{
    m_sinceScan.start();
    m_catalogueDeviceListed = catalogueDeviceListed;
    if (m_ticksToScan > 0)
        --m_ticksToScan;
    if (!m_watcher && listsNodeInFolder(list))
        startWatching();
}

void HidrawWatch::changed()
{
    m_ticksToScan = TicksAfterChange;
}

bool HidrawWatch::listsNodeInFolder(const hid_device_info* list) const
{
    for (const hid_device_info* device = list; device; device = device->next) {
        if (!device->path)
            continue;
        const QFileInfo node(QString::fromLocal8Bit(device->path));
        if (node.exists() && node.absolutePath() == QFileInfo(m_folder).absoluteFilePath())
            return true;
    }
    return false;
}

void HidrawWatch::startWatching()
{
    auto* watcher = new QFileSystemWatcher(this);
    if (!watcher->addPath(m_folder)) {
        delete watcher;
        return;
    }
    // The catalogue too: an edit takes effect at the next tick, as it does while scanning.
    if (QFileInfo::exists(m_catalogue))
        watcher->addPath(m_catalogue);
    connect(watcher, &QFileSystemWatcher::directoryChanged, this, &HidrawWatch::changed);
    connect(watcher, &QFileSystemWatcher::fileChanged, this, &HidrawWatch::changed);
    m_watcher = watcher;
    // A node made between the scan and the start of the watch went unseen: look again.
    changed();
}
