#include "updatelock.h"

#include <QCryptographicHash>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

const char* const FilePrefix = "tessaro-update-";
const char* const NoSerial = "none";
// A serial number is the device's text: longer ones, or ones with other characters than
// these, are named by a hash of it, so that the name stays a short plain file name.
constexpr int MaxSerialInName = 64;
constexpr int HashDigits = 32;
const mode_t FileMode = 0644;

int openLockFile(const QString& path, int flags)
{
    // Never through a link: in a shared temporary folder anyone may put one there.
    return ::open(QFile::encodeName(path).constData(), flags | O_RDONLY | O_CLOEXEC | O_NOFOLLOW, FileMode);
}

} // namespace

UpdateLock::~UpdateLock()
{
    release();
}

QString UpdateLock::unitName(unsigned vendorId, const QString& serialNumber)
{
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9_-]+$"));
    QString serial = serialNumber;
    if (serial.isEmpty())
        serial = QLatin1String(NoSerial);
    else if (serial.size() > MaxSerialInName || !plain.match(serial).hasMatch())
        serial = QString::fromLatin1(QCryptographicHash::hash(serial.toUtf8(), QCryptographicHash::Sha256)
                                         .toHex()
                                         .left(HashDigits));
    return QString::asprintf("%04x-", vendorId & 0xFFFFu) + serial;
}

QString UpdateLock::filePath(const QString& unit)
{
    // Read directly: QStandardPaths warns about a folder it finds unfit, and the temporary
    // folder is a fine second place for the lock.
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    const QString folder = !runtime.isEmpty() && QFileInfo(runtime).isDir() ? runtime : QDir::tempPath();
    return folder + QLatin1Char('/') + QLatin1String(FilePrefix) + unit + QStringLiteral(".lock");
}

bool UpdateLock::acquire(const QString& unit)
{
    if (holds(unit))
        return true;
    release();
    const QString path = filePath(unit);
    const int file = openLockFile(path, O_CREAT);
    if (file < 0) {
        qDebug() << "Update lock" << path << "unusable:" << std::strerror(errno) << "- going on without it";
        return true;
    }
    if (::flock(file, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(file);
        if (error == EWOULDBLOCK)
            return false;
        qDebug() << "Update lock" << path << "unusable:" << std::strerror(error) << "- going on without it";
        return true;
    }
    fd = file;
    heldUnit = unit;
    return true;
}

void UpdateLock::release()
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
    heldUnit.clear();
}

bool UpdateLock::holds(const QString& unit) const
{
    return fd >= 0 && heldUnit == unit;
}

bool UpdateLock::heldElsewhere(const QString& unit) const
{
    if (holds(unit))
        return false;
    // No file: nobody has ever held it since the folder was emptied.
    const int file = openLockFile(filePath(unit), 0);
    if (file < 0)
        return false;
    // Shared: two programs looking at once do not see each other as the holder.
    const bool held = ::flock(file, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    ::close(file);
    return held;
}
