#pragma once

#include "replymatcher.h"
#include "searchlog.h"
#include "tessarodevicestate.h"
#include "updatelock.h"

#include <QDeadlineTimer>
#include <QHash>
#include <QMutex>
#include <QObject>
#include <QSharedPointer>
#include <QString>
#include <QStringList>

#include <atomic>

#include <hidapi/hidapi.h>

class HidrawWatch;
class QJsonArray;
class QTimer;

// Sizes and time limits of the USB HID link.
namespace TessaroLink {
constexpr int ReportSize = 64;                   // data bytes of one report
constexpr int ReportBufferSize = ReportSize + 1; // with report ID 0 or a closing zero
constexpr int CommandTimeoutMs = 50;             // reply wait of sendCommand
constexpr int ExecTimeoutMs = 500;               // reply wait of execCommand
constexpr int ProbeTimeoutMs = 2;                // removal probe
constexpr int HotPlugPeriodMs = 100;
// A device that failed its version check is left alone this long (or until it is plugged
// in again): asking a mute device on every tick would stall the window.
constexpr int VersionRetryMs = 2000;
constexpr int UpgradeReportLength = 9;           // report that sends an old device to its bootloader
constexpr unsigned char UpgradeRequest = 0x09;
constexpr char CataloguePath[] = "sensors/supported.json";
constexpr char TypeSensor[] = "tessaro";
constexpr char TypeBootloader[] = "bootloader";
constexpr char TypeUpdate[] = "update";
// Gives the logged-in user access to the catalogue's devices.
constexpr char UdevRuleFile[] = "70-tessaroutility.rules";
}

// The reply's text before its first ";", split at ":" with empty fields kept. A reply
// buffer always ends with a zero byte, so this never reads past it.
QStringList colonFields(const unsigned char* reply);

// Writes one enumerated HID interface to the debug stream.
void printDeviceinfo(hid_device_info* device);
// The five lines that printDeviceinfo writes.
QStringList deviceInfoLines(const hid_device_info* device);

// The program's one connection to a USB HID device: hot-plug search against the catalogue
// of supported devices, version check, removal probe and the text command channel.
class tessaro : public QObject
{
    Q_OBJECT
public:
    explicit tessaro(QObject* parent = nullptr);

    bool searchForDevices(hid_device_info* list, hid_device_info* device);
    bool connectDevice(hid_device_info* list, char* path, QString configfile, QString sw, QString hw);
    bool disconnectDevice();
    // Sends the open device to its bootloader, holding updateLock for its unit from here
    // on; false, with nothing sent, when no device is open or another program is updating
    // the unit.
    bool startUpgrade();

    // Who an enumerated device is, as far as the bus tells: its node and serial number.
    static QString deviceIdentity(const hid_device_info* device);
    // The identities of every device on the bus that a "bootloader" entry of the catalogue
    // accepts, in enumeration order.
    QStringList bootloadersPresent() const;
    // The entries ("devlist") of the catalogue of supported devices; ok false when it
    // could not be read or is not JSON.
    static QJsonArray readCatalogue(bool* ok);

    // Sends a NUL-terminated command of at most 64 bytes; reply must hold 65 bytes.
    bool sendCommand(const char* command, unsigned char* reply);

    // What the last search found on the bus, or the open device; busStateChanged() follows
    // every change.
    tessaroDeviceState busState() const { return currentState; }
    // The open sensor's identity as its view has read it, for busState().
    void noteSensorIdentity(const QString& id, const QString& hardware, const QString& firmware);

    QString configFile;
    QString deviceType;
    // deviceIdentity of the device last connected.
    QString connectedIdentity;
    hid_device* handle = nullptr;
    QTimer* hotplugTimer = nullptr;
    int productId = 0;
    // Of the device last matched; with the vendor, the unit's name for updateLock.
    int vendorId = 0;
    QString serialNumber;
    QString updateUnit() const { return UpdateLock::unitName(static_cast<unsigned>(vendorId), serialNumber); }
    // This program's claim on the update of a unit: taken by startUpgrade and the flashing
    // sequence, given up when the run fails or the sensor is back. Shared, so that
    // tessaroctl carries one claim from the sensor's connection to the bootloader's.
    QSharedPointer<UpdateLock> updateLock = QSharedPointer<UpdateLock>::create();
    // Read by the flashing sequence on pool threads, hence atomic.
    std::atomic<bool> isConnected{false};
    QMutex mutex;

signals:
    void connected();
    void connectedLoad();
    void disconnected();
    void busStateChanged();

public slots:
    void hotplugWorker();
    void execCommand(QString cmd);
    void SetHotPlugTimerState(bool state);

public:
    // How long a device that failed its version check is left alone; tests shorten it.
    void setVersionRetryMs(int ms) { versionRetryMs = ms; }
    // On (the default): a bootloader whose unit another holder of updateLock is updating
    // is not opened; the bus state says so. tessaroctl, which takes the lock itself for
    // the unit it chose, turns it off.
    void setHonoursUpdateLocks(bool on) { honoursUpdateLocks = on; }
    // How long sendCommand waits for its reply; fuzz targets that check parsing shorten it.
    void setCommandTimeoutMs(int ms) { commandTimeoutMs = ms; }

private:
    bool exchange(const QByteArray& command, unsigned char* reply, int timeoutMs);
    bool readReplyTo(const QByteArray& command, unsigned char* reply, int timeoutMs);
    bool discardStaleReplies();
    void forgetUnpluggedDevices(hid_device_info* list);
    void failLink();
    bool openPath(const char* path);
    void noteOutcome(const tessaroDeviceState& outcome);
    // Ends the search of one tick: its debug lines are written if the bus looks different
    // from the last search's, and busState() becomes what it found.
    void endSearch(const QStringList& listed);
    void setState(const tessaroDeviceState& newState);

    ReplyMatcher replies;
    // How the last connectDevice's version check went.
    enum class VersionCheck { NotAsked, Silent, Answered };
    VersionCheck lastVersionCheck = VersionCheck::NotAsked;
    // Fields 2 and 3 of the last version reply.
    QString lastHardware;
    QString lastFirmware;
    // How the last openPath went.
    bool lastOpenFailed = false;
    bool lastOpenDenied = false;
    int versionRetryMs = TessaroLink::VersionRetryMs;
    int commandTimeoutMs = TessaroLink::CommandTimeoutMs;
    // A sensor whose version check failed rests until then; what it answered stays the
    // bus state while it rests.
    struct Resting {
        QDeadlineTimer until;
        tessaroDeviceState refusal;
    };
    // By path.
    QHash<QByteArray, Resting> restingDevices;
    tessaroDeviceState currentState;
    // What the running search has found so far.
    tessaroDeviceState searchFound;
    // The devices and the state that the last search found, and whether there was one
    // since the last device was closed.
    QStringList lastSearchListed;
    tessaroDeviceState lastSearchState;
    bool lastSearchValid = false;
    SearchLog searchLog;
    HidrawWatch* hidrawWatch = nullptr;
    bool honoursUpdateLocks = true;
};
