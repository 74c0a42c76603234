#include "tessaro.h"

#include "datafile.h"
#include "hidrawwatch.h"
#include "untrustedtext.h"
#include "trace/tracedhid.h"

#include <QDebug>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutexLocker>
#include <QSet>
#include <QTimer>

#include <cerrno>
#include <cstring>
#include <unistd.h>

using namespace TessaroLink;

namespace {

const char* const NotConnected = "Tessaro not connected, ABORT!";
// The kernel queues at most this many unread reports; a drain never needs more reads.
constexpr int MaxStaleReports = 64;

// Catalogue numbers are hexadecimal strings; anything else counts as 0.
unsigned hexValue(const QJsonObject& entry, const char* key)
{
    bool ok = false;
    const unsigned value = entry.value(QLatin1String(key)).toString().toUInt(&ok, 16);
    return ok ? value : 0;
}

// As hid_enumerate selects: an ID of 0 stands for any.
bool idsMatch(const hid_device_info* device, unsigned vendorId, unsigned productId)
{
    return (vendorId == 0 || device->vendor_id == vendorId) && (productId == 0 || device->product_id == productId);
}

bool entryMatches(const QJsonObject& entry, const hid_device_info* device)
{
    return device->vendor_id == hexValue(entry, "vendorId")
        && device->product_id == hexValue(entry, "productId")
        && (device->interface_number == -1
            || static_cast<unsigned>(device->interface_number) == hexValue(entry, "interface"));
}

QStringList stringList(const QJsonValue& value)
{
    QStringList list;
    const QJsonArray array = value.toArray();
    for (const QJsonValue& item : array)
        list << item.toString();
    return list;
}

// hidraw nodes need the udev rule to be writable by the logged-in user.
bool permissionDenied(const char* path)
{
    return ::access(path, R_OK | W_OK) != 0 && errno == EACCES;
}

} // namespace

QStringList colonFields(const unsigned char* reply)
{
    const QString text = QString::fromLocal8Bit(reinterpret_cast<const char*>(reply));
    return text.split(QLatin1Char(';')).constFirst().split(QLatin1Char(':'));
}

QStringList deviceInfoLines(const hid_device_info* device)
{
    const auto interfaceNumber = static_cast<unsigned short>(device->interface_number);
    return {QString::asprintf("Type:          %04hx %04hx %04hx", device->vendor_id, device->product_id,
                              interfaceNumber),
            QString::asprintf("Path:          %s", device->path ? device->path : ""),
            QString::asprintf("serial_number: %p", static_cast<const void*>(device->serial_number)),
            QString::asprintf("Manufacturer:  %p", static_cast<const void*>(device->manufacturer_string)),
            QString::asprintf("Product:       %p", static_cast<const void*>(device->product_string))};
}

void printDeviceinfo(hid_device_info* device)
{
    const QStringList lines = deviceInfoLines(device);
    for (const QString& line : lines)
        qDebug().noquote() << line;
}

tessaro::tessaro(QObject* parent)
    : QObject(parent)
{
    hid_init();
    hidrawWatch = new HidrawWatch(QString::fromLatin1(CataloguePath), this);
    hotplugTimer = new QTimer(this);
    connect(hotplugTimer, &QTimer::timeout, this, &tessaro::hotplugWorker);
    hotplugTimer->start(HotPlugPeriodMs);
}

QJsonArray tessaro::readCatalogue(bool* ok)
{
    const QByteArray content = DataFile::read(QString::fromLatin1(CataloguePath));
    // Decoded first, invalid bytes replaced: one stray byte must not hide every device.
    const QJsonDocument document = QJsonDocument::fromJson(QString::fromUtf8(content).toUtf8());
    *ok = !document.isNull();
    return document.object().value(QLatin1String("devlist")).toArray();
}

void tessaro::hotplugWorker()
{
    if (isConnected) {
        // A whole report's room: on hidraw a read of zero bytes that finds a report waiting
        // (a late reply) takes it and then blocks until the next one, which never comes
        // unasked. What this read takes is a reply nobody waits for any more.
        unsigned char probe[ReportBufferSize];
        if (TracedHid::readTimeout(handle, probe, ReportSize, ProbeTimeoutMs) < 0)
            disconnectDevice();
        return;
    }
    if (!hidrawWatch->scanDue())
        return;

    bool ok = false;
    const QJsonArray entries = readCatalogue(&ok);
    if (!ok)
        return;

    // One scan of the bus a tick, matched against the entries in catalogue order: every
    // scan walks all of the system's HID devices, whichever IDs it is asked for.
    hid_device_info* list = TracedHid::enumerate();
    forgetUnpluggedDevices(list);
    searchLog.open();
    searchFound = tessaroDeviceState::none();
    bool found = false;
    QStringList listed;
    for (const QJsonValue& value : entries) {
        const QJsonObject entry = value.toObject();
        const unsigned entryVendor = hexValue(entry, "vendorId");
        const unsigned entryProduct = hexValue(entry, "productId");
        for (hid_device_info* device = list; device && !found; device = device->next) {
            if (!idsMatch(device, entryVendor, entryProduct))
                continue;
            listed << deviceIdentity(device);
            const QStringList infoLines = deviceInfoLines(device);
            for (const QString& line : infoLines)
                SEARCH_DEBUG(searchLog).noquote() << line;
            if (searchForDevices(list, device)) {
                connectedIdentity = deviceIdentity(device);
                // The sensor is back (or another device is here): an update ended.
                if (deviceType != QLatin1String(TypeBootloader))
                    updateLock->release();
                noteOutcome(tessaroDeviceState::connectedTo(deviceType, QString::fromLocal8Bit(device->path),
                                                            lastHardware, lastFirmware));
                // The search's lines before whatever the new device's views write.
                endSearch(listed);
                emit connected();
                emit connectedLoad();
                found = true;
            }
        }
        if (found)
            break;
    }
    if (!found)
        endSearch(listed);
    hidrawWatch->scanned(list, !listed.isEmpty());
    TracedHid::freeEnumeration(list);
}

void tessaro::noteOutcome(const tessaroDeviceState& outcome)
{
    if (outcome.outranks(searchFound))
        searchFound = outcome;
}

void tessaro::endSearch(const QStringList& listed)
{
    const bool changed = !lastSearchValid || listed != lastSearchListed || searchFound != lastSearchState;
    searchLog.close(changed);
    lastSearchValid = true;
    lastSearchListed = listed;
    lastSearchState = searchFound;
    setState(searchFound);
}

void tessaro::setState(const tessaroDeviceState& newState)
{
    if (newState == currentState)
        return;
    currentState = newState;
    emit busStateChanged();
}

void tessaro::noteSensorIdentity(const QString& id, const QString& hardware, const QString& firmware)
{
    tessaroDeviceState identified = currentState;
    identified.identify(id, hardware, firmware);
    setState(identified);
}

QString tessaro::deviceIdentity(const hid_device_info* device)
{
    const QString serial = device->serial_number ? QString::fromWCharArray(device->serial_number) : QString();
    return QString::fromLocal8Bit(device->path ? device->path : "") + QLatin1Char('\n') + serial;
}

QStringList tessaro::bootloadersPresent() const
{
    bool ok = false;
    const QJsonArray entries = readCatalogue(&ok);
    QStringList present;
    hid_device_info* list = TracedHid::enumerate();
    for (hid_device_info* device = list; device; device = device->next) {
        for (const QJsonValue& value : entries) {
            const QJsonObject entry = value.toObject();
            if (entry.value(QLatin1String("type")).toString() == QLatin1String(TypeBootloader)
                && entryMatches(entry, device)) {
                present << deviceIdentity(device);
                break;
            }
        }
    }
    TracedHid::freeEnumeration(list);
    return present;
}

bool tessaro::searchForDevices(hid_device_info* list, hid_device_info* device)
{
    bool ok = false;
    const QJsonArray entries = readCatalogue(&ok);
    if (!ok || !device || !device->path)
        return false;

    for (const QJsonValue& value : entries) {
        const QJsonObject entry = value.toObject();
        if (!entryMatches(entry, device))
            continue;
        productId = device->product_id;
        vendorId = device->vendor_id;
        serialNumber = device->serial_number ? QString::fromWCharArray(device->serial_number) : QString();
        deviceType = entry.value(QLatin1String("type")).toString();

        const QString path = QString::fromLocal8Bit(device->path);
        if (deviceType == QLatin1String(TypeSensor)) {
            const auto resting = restingDevices.constFind(QByteArray(device->path));
            if (resting != restingDevices.constEnd() && !resting->until.hasExpired()) {
                noteOutcome(resting->refusal);
                continue;
            }
            lastOpenFailed = false;
            lastHardware.clear();
            lastFirmware.clear();
            const QString configfile = entry.value(QLatin1String("configfile")).toString();
            const bool isDefault = entry.value(QLatin1String("default")).toBool(false);
            SEARCH_DEBUG(searchLog) << (isDefault ? "true" : "false");
            if (isDefault && connectDevice(list, device->path, configfile, QString(), QString()))
                return true;
            const QStringList swList = stringList(entry.value(QLatin1String("sw")));
            const QStringList hwList = stringList(entry.value(QLatin1String("hw")));
            bool asked = false;
            bool answered = false;
            for (const QString& sw : swList) {
                for (const QString& hw : hwList) {
                    if (connectDevice(list, device->path, configfile, sw, hw))
                        return true;
                    asked = asked || lastVersionCheck != VersionCheck::NotAsked;
                    answered = answered || lastVersionCheck == VersionCheck::Answered;
                    // A device that did not answer will not answer the next pair either.
                    if (lastVersionCheck == VersionCheck::Silent)
                        break;
                }
                if (lastVersionCheck == VersionCheck::Silent)
                    break;
            }
            if (asked) {
                const tessaroDeviceState refusal = answered
                    ? tessaroDeviceState::unsupported(path, lastHardware, lastFirmware)
                    : tessaroDeviceState::silent(path);
                restingDevices.insert(QByteArray(device->path), Resting{QDeadlineTimer(versionRetryMs), refusal});
                noteOutcome(refusal);
            } else if (lastOpenFailed) {
                noteOutcome(tessaroDeviceState::notOpenable(path, lastOpenDenied));
            } else if (swList.isEmpty() || hwList.isEmpty()) {
                // The catalogue names no version for it.
                noteOutcome(tessaroDeviceState::unsupported(path, QString(), QString()));
            }
        } else if (deviceType == QLatin1String(TypeBootloader) || deviceType == QLatin1String(TypeUpdate)) {
            // Its replies would reach the other program too, and shift every later one.
            if (deviceType == QLatin1String(TypeBootloader) && honoursUpdateLocks
                && updateLock->heldElsewhere(updateUnit())) {
                SEARCH_DEBUG(searchLog) << "Not opening" << device->path << "-" << UpdateLock::HeldText;
                noteOutcome(tessaroDeviceState::updatingElsewhere(path));
                continue;
            }
            if (openPath(device->path))
                return true;
            noteOutcome(tessaroDeviceState::notOpenable(path, lastOpenDenied));
        }
    }
    return false;
}

void tessaro::forgetUnpluggedDevices(hid_device_info* list)
{
    // A device that left the bus is a new arrival when it comes back.
    QSet<QByteArray> present;
    for (hid_device_info* device = list; device; device = device->next) {
        if (device->path)
            present.insert(QByteArray(device->path));
    }
    for (auto it = restingDevices.begin(); it != restingDevices.end();) {
        if (present.contains(it.key()))
            ++it;
        else
            it = restingDevices.erase(it);
    }
}

bool tessaro::openPath(const char* path)
{
    hid_device* opened = TracedHid::openPath(path);
    lastOpenFailed = !opened;
    lastOpenDenied = !opened && permissionDenied(path);
    if (lastOpenDenied)
        SEARCH_DEBUG(searchLog) << "No permission to open" << path << "- install the udev rule" << UdevRuleFile
                                << "and plug the device in again";
    if (!opened)
        return false;
    handle = opened;
    isConnected = true;
    return true;
}

bool tessaro::connectDevice(hid_device_info* list, char* path, QString configfile, QString sw, QString hw)
{
    Q_UNUSED(list)
    lastVersionCheck = VersionCheck::NotAsked;
    const QByteArray localPath(path);
    SEARCH_DEBUG(searchLog) << localPath;
    if (!openPath(localPath.constData()))
        return false;
    if (sw.isEmpty()) {
        configFile = configfile;
        return true;
    }

    unsigned char reply[ReportBufferSize];
    // A failed exchange is no verdict on the device: only a reply, or none in time, is.
    if (!sendCommand("app:version;", reply))
        return false;
    lastVersionCheck = reply[0] != 0 ? VersionCheck::Answered : VersionCheck::Silent;
    const QStringList fields = colonFields(reply);
    if (lastVersionCheck == VersionCheck::Answered) {
        lastHardware = fields.value(2);
        lastFirmware = fields.value(3);
    }
    if (fields.size() > 4 && fields.at(3) == sw && fields.at(2) == hw) {
        configFile = configfile;
        return true;
    }
    isConnected = false;
    TracedHid::close(handle);
    handle = nullptr;
    return false;
}

bool tessaro::disconnectDevice()
{
    if (isConnected) {
        isConnected = false;
        TracedHid::close(handle);
        handle = nullptr;
    }
    // A device found again after this is news, even where it was before.
    lastSearchValid = false;
    // Inside a search (a failed version check) the search's end says what is there.
    if (!searchLog.isOpen())
        setState(tessaroDeviceState::none());
    emit disconnected();
    return true;
}

bool tessaro::startUpgrade()
{
    if (!isConnected) {
        qDebug() << NotConnected;
        return false;
    }
    if (!updateLock->acquire(updateUnit())) {
        qDebug() << UpdateLock::HeldText;
        return false;
    }
    if (deviceType == QLatin1String(TypeUpdate)) {
        // The whole report: hidraw sends what it is given, unpadded.
        unsigned char buffer[ReportBufferSize] = {};
        buffer[1] = UpgradeRequest;
        QMutexLocker locker(&mutex);
        if (TracedHid::write(handle, buffer, ReportBufferSize) < 0)
            qDebug() << "error can't write";
    } else if (deviceType == QLatin1String(TypeSensor)) {
        execCommand(QStringLiteral("app:bootloader;"));
    }
    return true;
}

void tessaro::SetHotPlugTimerState(bool state)
{
    if (state)
        hotplugTimer->start(HotPlugPeriodMs);
    else
        hotplugTimer->stop();
}

bool tessaro::sendCommand(const char* command, unsigned char* reply)
{
    return exchange(QByteArray(command ? command : ""), reply, commandTimeoutMs);
}

void tessaro::execCommand(QString cmd)
{
    if (!isConnected) {
        qDebug() << NotConnected;
        return;
    }
    unsigned char report[ReportBufferSize];
    exchange(cmd.toLocal8Bit(), report, ExecTimeoutMs);
}

bool tessaro::exchange(const QByteArray& command, unsigned char* reply, int timeoutMs)
{
    // A truncated command could write a wrong value: refuse it and keep the link.
    if (command.size() > ReportSize) {
        qDebug() << "Command of" << command.size() << "bytes refused, a report holds" << ReportSize
                 << ":" << command.left(24) + "...";
        return false;
    }

    mutex.lock();
    if (!isConnected) {
        mutex.unlock();
        qDebug() << NotConnected;
        return false;
    }

    // Report ID 0 and all 64 data bytes, zero after the command: hidraw does not pad, and
    // the device is made for whole reports.
    unsigned char report[ReportBufferSize] = {};
    std::memcpy(report + 1, command.constData(), static_cast<size_t>(command.size()));
    bool ok = discardStaleReplies() && TracedHid::write(handle, report, ReportBufferSize) >= 0;
    if (ok) {
        replies.commandSent(command);
        ok = readReplyTo(command, reply, timeoutMs);
    }
    if (ok) {
        mutex.unlock();
        return true;
    }
    failLink();
    return false;
}

bool tessaro::readReplyTo(const QByteArray& command, unsigned char* reply, int timeoutMs)
{
    // The answer of an earlier command may arrive first; it is passed over and the wait
    // goes on within the same limit. Running out of time leaves the empty reply.
    const QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        std::memset(reply, 0, ReportBufferSize);
        const int n = TracedHid::readTimeout(handle, reply, ReportSize, static_cast<int>(deadline.remainingTime()));
        if (n < 0)
            return false;
        reply[qMin(n, ReportSize)] = 0;
        const QByteArray text = QByteArray::fromRawData(reinterpret_cast<const char*>(reply),
                                                        static_cast<int>(std::strlen(reinterpret_cast<const char*>(reply))));
        if (n == 0 || replies.accepts(command, text))
            return true;
        qDebug() << "Discarded a reply to another command:" << text;
        if (deadline.hasExpired()) {
            reply[0] = 0;
            return true;
        }
    }
}

bool tessaro::discardStaleReplies()
{
    // A reply that came after its time limit must not pass for the reply to this command.
    unsigned char stale[ReportBufferSize];
    for (int i = 0; i < MaxStaleReports; ++i) {
        const int n = TracedHid::readTimeout(handle, stale, ReportSize, 0);
        if (n < 0)
            return false;
        if (n == 0)
            return true;
        stale[qMin(n, ReportSize)] = 0;
        qDebug().noquote() << "Discarded a late reply:"
                           << UntrustedText::shown(QString::fromLatin1(reinterpret_cast<const char*>(stale)),
                                                   UntrustedText::LineCap);
    }
    return true;
}

void tessaro::failLink()
{
    // Called with the mutex held; receivers of disconnected() may start exchanges of their own.
    isConnected = false;
    TracedHid::close(handle);
    handle = nullptr;
    mutex.unlock();
    disconnectDevice();
}
