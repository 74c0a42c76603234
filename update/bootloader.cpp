#include "bootloader.h"

#include "device/tessaro.h"
#include "device/updatelock.h"
#include "device/untrustedtext.h"
#include "trace/tracedhid.h"

#include <QDebug>
#include <QFile>
#include <QThread>
#include <QtConcurrent>

#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace BootloaderLink;

namespace {

constexpr unsigned char ReplyOk = 0x01;
constexpr int ReadDataOffset = 4;  // flash bytes in a read reply
constexpr int CountdownStepMs = 1000;

} // namespace

QSharedPointer<bootloader> bootloader::create(tessaro* device)
{
    // phaseChanged() crosses from the pool threads to the GUI thread.
    qRegisterMetaType<bootloader::Phase>();
    // Deletion goes through the event loop of the object's own thread, whichever thread
    // drops the last reference.
    return QSharedPointer<bootloader>(new bootloader(nullptr, device), &QObject::deleteLater);
}

bootloader::bootloader(QObject* parent, tessaro* connectionDevice)
    : QObject(parent)
    , connection(connectionDevice)
{
    if (connectionDevice) {
        productId = static_cast<unsigned>(connectionDevice->productId) & 0xFFFFu;
        device = connectionDevice->handle;
        updateLock = connectionDevice->updateLock;
        updateUnit = connectionDevice->updateUnit();
    }
    // Without an open handle there is nothing to talk to.
    linkOk = connectionDevice && connectionDevice->isConnected && device;
    connect(&updateWatcher, &QFutureWatcher<void>::finished, this, &bootloader::finishUpdate);
}

bootloader::~bootloader() = default;

int bootloader::passNumber(Phase phase)
{
    switch (phase) {
    case Erasing:
        return 1;
    case Writing:
        return 2;
    case Verifying:
        return 3;
    default:
        return 0;
    }
}

void bootloader::emitStatus(const QString& line)
{
    emit status(line, false);
}

quint32 bootloader::applicationSize() const
{
    return flashSize >= bootloaderSize ? flashSize - bootloaderSize : 0;
}

QString bootloader::geometryProblem() const
{
    // A reply of another request, or noise, read as geometry would erase page after page
    // until the first refusal. The page count is not checked: its 8 bits wrap on parts of
    // 256 pages or more, so it need not match the flash size.
    if (pageSize == 0)
        return QStringLiteral("Invalid flash geometry: page size 0");
    if (pageSize % BlockSize != 0)
        return QStringLiteral("Invalid flash geometry: page size not a multiple of %1 bytes").arg(BlockSize);
    if (bootloaderSize > flashSize)
        return QStringLiteral("Invalid flash geometry: bootloader size above flash size");
    // Its last erase would reach into the bootloader.
    if (applicationSize() % pageSize != 0)
        return QStringLiteral("Invalid flash geometry: application area not a whole number of pages");
    return QString();
}

bool bootloader::discardStaleReplies()
{
    unsigned char stale[ReplySize];
    for (int i = 0; i < MaxStaleReplies; ++i) {
        const int n = TracedHid::readTimeout(device, stale, ReplySize, 0);
        if (n == 0)
            return true;
        if (n < 0) {
            qDebug() << "error can't read";
            emitStatus(QStringLiteral("Could not read from bootloader"));
            linkOk = false;
            return false;
        }
        qDebug() << "Discarded a stray bootloader reply, first byte" << int(stale[0]);
    }
    return true;
}

bool bootloader::sendRequest(unsigned char command, unsigned int address, const unsigned char* data)
{
    // The request fills the first 37 bytes of a whole report: hidraw sends what it is
    // given, unpadded, so the zeros after it are written too.
    unsigned char request[TessaroLink::ReportBufferSize] = {};
    request[1] = command;
    request[2] = static_cast<unsigned char>(address >> 16);
    request[3] = static_cast<unsigned char>(address >> 8);
    request[4] = static_cast<unsigned char>(address);
    if (data)
        std::memcpy(request + 5, data, BlockSize);
    if (!discardStaleReplies())
        return false;
    if (TracedHid::write(device, request, sizeof request) < 0) {
        qDebug() << "error can't write";
        emitStatus(QStringLiteral("Could not write to bootloader"));
        linkOk = false;
        return false;
    }
    return true;
}

bool bootloader::readReply(unsigned char* reply, int* count)
{
    std::memset(reply, 0, ReplySize);
    const int limit = replyTimeout;
    const int n = TracedHid::readTimeout(device, reply, ReplySize, limit);
    if (n <= 0) {
        if (n == 0)
            qDebug() << "no reply within" << limit << "ms";
        qDebug() << "error can't read";
        emitStatus(QStringLiteral("Could not read from bootloader"));
        linkOk = false;
        return false;
    }
    *count = n;
    return true;
}

bool bootloader::getinfo()
{
    if (!linkOk)
        return false;
    if (busy) {
        // The running sequence owns the handle.
        qDebug() << "update running, geometry not read";
        return false;
    }
    if (!sendRequest(GETINFO, 0, nullptr))
        return false;
    unsigned char reply[ReplySize];
    int n = 0;
    if (!readReply(reply, &n))
        return false;

    pageCount = reply[1];
    pageSize = (quint32{reply[2]} << 8) | reply[3];
    flashSize = (quint32{reply[4]} << 16) | (quint32{reply[5]} << 8) | reply[6];
    bootloaderSize = (quint32{reply[7]} << 8) | reply[8];

    emitStatus(QStringLiteral("flash size: ") + QString::number(flashSize) + QStringLiteral(" bytes"));
    emitStatus(QStringLiteral("page size: ") + QString::number(pageSize) + QStringLiteral(" bytes"));
    emitStatus(QStringLiteral("page count: ") + QString::number(pageCount));
    emitStatus(QStringLiteral("bootloader size: ") + QString::number(bootloaderSize) + QStringLiteral(" bytes"));
    return true;
}

bool bootloader::eraseflashWorker(unsigned int address)
{
    if (!linkOk) {
        qDebug() << "testb";
        return false;
    }
    qDebug() << address;
    if (!sendRequest(ERASE_PAGE, address, nullptr))
        return false;
    unsigned char reply[ReplySize];
    int n = 0;
    if (!readReply(reply, &n))
        return false;
    if (reply[0] == ReplyOk)
        return true;
    qDebug() << "testa" << n;
    return false;
}

bool bootloader::writeflashWorker(unsigned int address, unsigned char* data)
{
    if (!linkOk)
        return false;
    if (!sendRequest(WRITE_BLOCK, address, data))
        return false;
    unsigned char reply[ReplySize];
    int n = 0;
    if (!readReply(reply, &n))
        return false;
    return reply[0] == ReplyOk;
}

bool bootloader::readflashWorker(unsigned int address, unsigned char* data)
{
    if (!linkOk)
        return false;
    if (!sendRequest(READ_BLOCK, address, nullptr))
        return false;
    unsigned char reply[ReplySize];
    int n = 0;
    if (!readReply(reply, &n))
        return false;
    if (reply[0] != ReplyOk)
        return false;
    for (int i = 0; i < BlockSize; ++i) {
        if (reply[ReadDataOffset + i] != data[i]) {
            // The first differing byte, which is what one looks for in the image.
            emitStatus(QStringLiteral("Flash not equal @ ") + QString::number(address + static_cast<unsigned>(i), 16));
            return false;
        }
    }
    return true;
}

bool bootloader::eraseflash()
{
    // Refused here as well as on request: a page size of 0 would never end the loop.
    const QString problem = geometryProblem();
    if (!problem.isEmpty()) {
        emitStatus(problem);
        return false;
    }
    const quint32 size = applicationSize();
    for (quint32 address = 0; address < size; address += pageSize) {
        if (!eraseflashWorker(address)) {
            emitStatus(QStringLiteral("Flash erase error @ page ") + QString::number(address));
            return false;
        }
        emit eraseflashStatus(static_cast<int>(address * 100u / size));
    }
    emitStatus(QStringLiteral("Flash erased!"));
    return true;
}

void bootloader::imageBlock(int address, unsigned char* block) const
{
    std::memset(block, 0, BlockSize);
    // The last block of an image that does not fill it is completed with 0x00.
    const int length = qMin(BlockSize, image.size() - address);
    std::memcpy(block, image.constData() + address, static_cast<size_t>(length));
}

bool bootloader::writeflash()
{
    if (!passOverImage(&bootloader::writeflashWorker, "Flash write error @ page "))
        return false;
    emitStatus(QStringLiteral("Flash written!"));
    return true;
}

bool bootloader::readflash()
{
    if (!passOverImage(&bootloader::readflashWorker, "Flash read error @ page "))
        return false;
    emit eraseflashStatus(100);
    emitStatus(QStringLiteral("Flash readed!"));
    emitStatus(QStringLiteral("Updated succesfully!"));
    return true;
}

bool bootloader::passOverImage(bool (bootloader::*worker)(unsigned int, unsigned char*), const char* errorLine)
{
    const int size = image.size();
    for (int address = 0; address < size; address += BlockSize) {
        unsigned char block[BlockSize];
        imageBlock(address, block);
        if (!(this->*worker)(static_cast<unsigned>(address), block)) {
            emitStatus(QLatin1String(errorLine) + QString::number(address));
            return false;
        }
        emit eraseflashStatus(static_cast<int>(qint64{address} * 100 / size));
    }
    return true;
}

bool bootloader::runPass(bool (bootloader::*pass)(), Phase phase, const QString& startLine)
{
    emit phaseChanged(phase, 0);
    // Announced before the pass starts, so its own lines always follow the announcement.
    emitStatus(startLine);
    // The result comes back through an atomic, not the future's result store, whose
    // locking inside Qt is invisible to ThreadSanitizer runs of this code.
    std::atomic<bool> ok{false};
    QFuture<void> step = QtConcurrent::run([this, pass, &ok] { ok = (this->*pass)(); });
    // Runs the pass here if the pool has no free thread for it.
    step.waitForFinished();
    return ok;
}

void bootloader::waitCountingDown(Phase phase)
{
    // In steps of a second, so the user sees the wait go down rather than a still screen.
    int left = settleMs;
    while (left > 0) {
        emit phaseChanged(phase, (left + CountdownStepMs - 1) / CountdownStepMs);
        const int step = qMin(left, CountdownStepMs);
        QThread::msleep(static_cast<unsigned long>(step));
        left -= step;
    }
}

void bootloader::updateInvoke()
{
    waitCountingDown(Settling);
    if (!runPass(&bootloader::eraseflash, Erasing, QStringLiteral("Start flash erase"))) {
        emitStatus(QStringLiteral("Abort"));
        return;
    }
    emitStatus(QStringLiteral("Opening") + UntrustedText::shown(fileName, UntrustedText::LineCap));
    if (!runPass(&bootloader::writeflash, Writing, QStringLiteral("Start flashing"))) {
        emitStatus(QStringLiteral("Abort"));
        return;
    }
    if (!runPass(&bootloader::readflash, Verifying, QStringLiteral("Start Reading"))) {
        emitStatus(QStringLiteral("Abort"));
        return;
    }
    startApplication(Starting);
    sequenceOk = true;
}

bool bootloader::startApplication(Phase phase)
{
    // No reply: the device leaves the bus to start its application.
    const bool sent = sendRequest(RUN_APPLICATION, 0, nullptr);
    waitCountingDown(phase);
    return sent;
}

void bootloader::runApplication()
{
    if (busy || !linkOk)
        return;
    busy = true;
    keepAlive = sharedFromThis();
    emit hotplugtimer(false);
    restartOnly = true;
    sequenceOk = false;
    updateWatcher.setFuture(QtConcurrent::run([this] { sequenceOk = startApplication(Restarting); }));
}

void bootloader::updateFromFile(QString path)
{
    if (busy) {
        emitStatus(QStringLiteral("Update already running"));
        return;
    }
    busy = true;
    keepAlive = sharedFromThis();
    emit hotplugtimer(false);
    restartOnly = false;

    fileName = path;
    image.clear();
    if (fileName.isEmpty()) {
        refuseUpdate(QStringLiteral("no file selected!"));
        return;
    }
    QFile file;
    if (!openRegularFile(fileName, &file)) {
        refuseUpdate(QStringLiteral("Could not open file"));
        return;
    }
    if (!linkOk || !connection || !connection->isConnected || connection->handle != device) {
        emitStatus(QStringLiteral("Bootloader not connected"));
        refuseUpdate(QStringLiteral("Abort"));
        return;
    }
    if (updateLock && !updateLock->acquire(updateUnit)) {
        emitStatus(QLatin1String(UpdateLock::HeldText));
        refuseUpdate(QStringLiteral("Abort"));
        return;
    }
    // Checked before anything is erased, so a refused image leaves the firmware in place.
    const QString problem = geometryProblem();
    if (!problem.isEmpty()) {
        emitStatus(problem);
        refuseUpdate(QStringLiteral("Abort"));
        return;
    }
    // Read once: what is checked here is exactly what is written and verified, whatever
    // happens to the file during the wait before erasing.
    const QString imageProblem = readImage(&file);
    if (!imageProblem.isEmpty()) {
        emitStatus(imageProblem);
        refuseUpdate(QStringLiteral("Abort"));
        return;
    }

    sequenceOk = false;
    updateWatcher.setFuture(QtConcurrent::run([this] { updateInvoke(); }));
}

bool bootloader::openRegularFile(const QString& path, QFile* file)
{
    // Opened without blocking and checked before reading: a named pipe or a device node
    // would otherwise hang the window in open() or read().
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return false;
    }
    return file->open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle);
}

QString bootloader::readImage(QFile* file)
{
    // One byte more than fits tells a file that is too large without reading all of it.
    const qint64 limit = qint64{applicationSize()} + 1;
    image = file->read(limit);
    if (file->error() != QFileDevice::NoError)
        return QStringLiteral("Could not read file");
    if (image.size() > static_cast<int>(applicationSize()))
        return QStringLiteral("Image size too large");
    if (image.isEmpty())
        return QStringLiteral("Image is empty");
    return QString();
}

void bootloader::refuseUpdate(const QString& line)
{
    emitStatus(line);
    emit phaseChanged(NotStarted, 0);
    endUpdate(false);
}

void bootloader::finishUpdate()
{
    const bool ok = sequenceOk;
    // Before the link is closed: that takes the flashing page away. A restart that could
    // not be sent has changed nothing.
    if (restartOnly)
        emit phaseChanged(ok ? Restarted : NotStarted, 0);
    else
        emit phaseChanged(ok ? Done : Failed, 0);
    // Only the device this object borrowed: never close another one the connection holds.
    if (ok && connection && (!connection->isConnected || connection->handle == device))
        connection->disconnectDevice();
    endUpdate(ok);
}

void bootloader::endUpdate(bool ok)
{
    image.clear();
    // After a verified run the claim lasts until the sensor is back (the connection sees it).
    if (!ok && updateLock)
        updateLock->release();
    busy = false;
    emit hotplugtimer(true);
    emit updateFinished(ok);
    // Last: may hand the object to deleteLater if its owner is gone.
    keepAlive.reset();
}
