#pragma once

#include <QEnableSharedFromThis>
#include <QFutureWatcher>
#include <QObject>
#include <QPointer>
#include <QSharedPointer>
#include <QString>

#include <atomic>

#include <hidapi/hidapi.h>

class QFile;
class UpdateLock;
class tessaro;

// Sizes, codes and time limits of the bootloader's binary report protocol.
namespace BootloaderLink {
constexpr int RequestSize = 37;      // report ID 0, command, 3 address bytes, 32 data bytes
constexpr int ReplySize = 64;
constexpr int BlockSize = 32;        // bytes per WRITE_BLOCK / READ_BLOCK
constexpr int SettleTimeMs = 5000;   // before erasing, and after starting the application
// A reply that has not come within this time counts as a failed read, so a device that
// stops answering cannot hang the sequence.
constexpr int ReplyTimeoutMs = 3000;
// The kernel keeps at most this many unread reports for a reader: draining stale replies
// never takes more reads.
constexpr int MaxStaleReplies = 64;
enum Command : unsigned char {
    GETINFO = 0x01,
    ERASE_PAGE = 0x02,
    WRITE_BLOCK = 0x03,
    READ_BLOCK = 0x04,
    RUN_APPLICATION = 0x05,
};
}

// Drives the sensor's resident HID bootloader over the handle that the device connection
// has opened: reads the flash geometry, and re-flashes an image file (erase page by page,
// write in 32-byte blocks, read back and compare, start the application).
//
// Threads and lifetime:
// - The object lives in the GUI thread. getinfo() and updateFromFile() run there; the
//   sequence (updateInvoke) runs on a pool thread and each pass on a second one, which the
//   sequence waits for, so only one thread at a time uses the handle. status, progress and
//   hotplugtimer reach GUI receivers through queued delivery.
// - Only bootloader::create() makes objects: the owner (the flashing view) holds the
//   returned QSharedPointer and must not delete the object itself. While a sequence runs
//   the object holds a reference to itself, dropped on the GUI thread once the sequence
//   has ended, so an owner deleted meanwhile (the main window drops the flashing view on
//   disconnected()) cannot free it under the pool threads; the last reference deletes it
//   with deleteLater() on the GUI thread.
// - Every requested update ends on the GUI thread (finishUpdate or a refusal): the image
//   image is released, the link is closed after a successful run (disconnectDevice,
//   whose disconnected() reaches GUI objects, so never from a pool thread), hot-plug polling
//   is restarted with hotplugtimer(true), and updateFinished() is emitted.
// - While busy, a second update and getinfo() are refused: two sequences never share the
//   link. linkOk and the busy flag are atomic; the geometry, the image and its file name are
//   written on the GUI thread before the sequence starts and read only by it.
// - Replies are awaited at most replyTimeoutMs(); the reply that never comes is reported as
//   "Could not read from bootloader" and takes the link down.
// - The image file is read once, whole, into memory when the update starts; only a
//   regular file is read. The geometry (a page size that is a non-zero multiple of the
//   32-byte block, a bootloader not above the flash size, an application area of whole
//   pages) and the image (not empty, not above the application area) are checked before
//   anything is erased, and exactly the bytes checked are written and verified.
// - One program at a time updates a unit: an update takes the connection's UpdateLock for
//   the unit (refused, with nothing sent, while another holder has it) and gives it up when
//   the run ends without success; after a verified run the connection gives it up once the
//   sensor is back.
// - Before every request the replies already waiting are read and dropped: another
//   program's handle on the same device gets its own copy of every reply, and one stray
//   reply taken for an answer would shift every later one.
// The sequence waits for each pass on a local QFuture rather than a shared watcher object:
// a watcher living in the GUI thread must not be driven from the sequence thread.
class bootloader : public QObject, public QEnableSharedFromThis<bootloader>
{
    Q_OBJECT
public:
    // Where a requested update stands, for the user. The three passes are the run's steps.
    enum Phase {
        Settling,    // the wait before erasing: the sensor has just restarted into its bootloader
        Erasing,     // step 1
        Writing,     // step 2
        Verifying,   // step 3
        Starting,    // the wait after telling the sensor to start its new firmware
        Done,        // verified and started
        Failed,      // a pass failed; the sensor stays in its bootloader
        NotStarted,  // refused before anything was erased
        Restarting,  // the wait after starting the firmware already in the flash
        Restarted,   // that firmware started: the sensor leaves the bootloader
    };
    Q_ENUM(Phase)
    static constexpr int PassCount = 3;
    // The pass's place in the run (1 to PassCount), 0 for the other phases.
    static int passNumber(Phase phase);

    // The only way to make one; device must outlive the object.
    static QSharedPointer<bootloader> create(tessaro* device);
    ~bootloader() override;

    bool getinfo();
    bool eraseflashWorker(unsigned int address);
    bool writeflashWorker(unsigned int address, unsigned char* data);
    // true only if the 32 returned bytes equal data.
    bool readflashWorker(unsigned int address, unsigned char* data);
    bool eraseflash();
    bool writeflash();
    bool readflash();
    void updateInvoke();
    // Starts a re-flash with the image at path; an empty path reports "no file selected!".
    // Returns at once; the end is signalled by updateFinished().
    void updateFromFile(QString path);
    // Leaves the bootloader for the firmware already in the flash, for a unit whose update
    // was refused before anything was erased. Ends like an update, with updateFinished();
    // refused while busy or with the link down.
    void runApplication();

    // True from an accepted updateFromFile() until its updateFinished().
    bool isBusy() const { return busy; }
    // Both waits of the sequence (default SettleTimeMs) and the reply time limit
    // (default ReplyTimeoutMs); set them before an update starts.
    void setSettleTimeMs(int ms) { settleMs = ms; }
    int settleTimeMs() const { return settleMs; }
    void setReplyTimeoutMs(int ms) { replyTimeout = ms; }
    int replyTimeoutMs() const { return replyTimeout; }

    std::atomic<bool> linkOk{true};
    unsigned productId = 0;
    QPointer<tessaro> connection;     // read on the GUI thread only
    // The image being flashed, read whole when the update starts.
    QByteArray image;
    hid_device* device = nullptr;
    quint32 flashSize = 0;
    quint32 pageSize = 0;
    quint32 pageCount = 0;
    quint32 bootloaderSize = 0;
    QFutureWatcher<void> updateWatcher;
    QString fileName;

signals:
    void status(QString data, bool clear);
    void eraseflashStatus(int status);
    void hotplugtimer(bool state);
    // Every requested update ends with this, on the GUI thread; ok only after a run that
    // passed verification and started the application. Not emitted for a refused second
    // request while one runs.
    void updateFinished(bool ok);
    // The run has entered phase; during both waits once a second, with the whole seconds
    // left (rounded up). Done, Failed and NotStarted come before updateFinished().
    void phaseChanged(bootloader::Phase phase, int secondsLeft);

private:
    bootloader(QObject* parent, tessaro* connectionDevice);

    quint32 applicationSize() const;
    QString geometryProblem() const;
    bool discardStaleReplies();
    bool sendRequest(unsigned char command, unsigned int address, const unsigned char* data);
    bool readReply(unsigned char* reply, int* count);
    void imageBlock(int address, unsigned char* block) const;
    static bool openRegularFile(const QString& path, QFile* file);
    // Reads the image into memory; the status line of the problem, or empty when it fits.
    QString readImage(QFile* file);
    // Hands every 32-byte block of the image to worker (write or verify), with progress.
    bool passOverImage(bool (bootloader::*worker)(unsigned int, unsigned char*), const char* errorLine);
    bool runPass(bool (bootloader::*pass)(), Phase phase, const QString& startLine);
    void waitCountingDown(Phase phase);
    // Tells the device to start its application and waits through phase; false when the
    // request could not be sent.
    bool startApplication(Phase phase);
    void refuseUpdate(const QString& line);
    void finishUpdate();
    void endUpdate(bool ok);
    void emitStatus(const QString& line);

    std::atomic<bool> busy{false};
    std::atomic<bool> sequenceOk{false};
    // The running sequence only starts the firmware already there.
    bool restartOnly = false;
    std::atomic<int> settleMs{BootloaderLink::SettleTimeMs};
    std::atomic<int> replyTimeout{BootloaderLink::ReplyTimeoutMs};
    QSharedPointer<bootloader> keepAlive;
    // The connection's claim on the unit's update, and the unit's name, from construction.
    QSharedPointer<UpdateLock> updateLock;
    QString updateUnit;
};
