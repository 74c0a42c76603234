#include "hidrawwatch.h"

#include <QDebug>
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
    m_folderRefused = false;
    m_catalogueRefused = false;
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
    if (!m_watcher && !m_folderRefused && listsNodeInFolder(list))
        startWatching();
}

void HidrawWatch::changed()
{
    m_ticksToScan = TicksAfterChange;
    watchCatalogue();
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
        // Not tried again: the refusal (unreadable, or no inotify watches left) would be
        // repeated at every tick.
        m_folderRefused = true;
        qDebug().noquote() << "Not watching" << m_folder << "- the hot-plug search scans every tick";
        return;
    }
    // The catalogue too: an edit takes effect at the next tick, as it does while scanning.
    // Its folder sees it replaced or made anew (a watch on the file ends with its inode);
    // reading a file fires neither watch, so the scans' own reads are no change.
    watcher->addPath(QFileInfo(m_catalogue).absolutePath());
    connect(watcher, &QFileSystemWatcher::directoryChanged, this, &HidrawWatch::changed);
    connect(watcher, &QFileSystemWatcher::fileChanged, this, &HidrawWatch::changed);
    m_watcher = watcher;
    // A node made between the scan and the start of the watch went unseen: look again.
    changed();
}

void HidrawWatch::watchCatalogue()
{
    // Added again after each change: a file renamed over it is a new file, unwatched. One
    // that exists but is refused is not asked for again.
    if (m_catalogueRefused || m_watcher->files().contains(m_catalogue) || !QFileInfo::exists(m_catalogue))
        return;
    m_catalogueRefused = !m_watcher->addPath(m_catalogue);
}
