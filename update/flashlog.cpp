#include "flashlog.h"

#include "device/programname.h"
#include "device/untrustedtext.h"

#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <cerrno>
#include <limits>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
const char* const FileName = "flashing.log";
// Every run's block starts with this, so trimming can cut at a run's start.
const char* const RunMark = "== ";
const char* const LineIndent = "   ";
constexpr mode_t FileMode = 0600;
// A log replaced by another program's trimming between open and lock is opened again.
constexpr int OpenAttempts = 3;

bool sameFile(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// The file the descriptor has open is still the one at the path.
bool stillAtPath(int fd, const QByteArray& path)
{
    struct stat open = {};
    struct stat named = {};
    return ::fstat(fd, &open) == 0 && ::lstat(path.constData(), &named) == 0 && sameFile(open, named);
}

QString orUnknown(const QString& value)
{
    return value.isEmpty() ? QStringLiteral("unknown") : FlashLog::oneLine(value);
}
} // namespace

std::function<ssize_t(int, const void*, size_t)> FlashLog::writeBytes = ::write;

QString FlashLog::filePath()
{
    // The program's own data folder, named as its settings are.
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    return base + QLatin1Char('/') + QLatin1String(programName::Organisation) + QLatin1Char('/')
         + QLatin1String(programName::Application) + QLatin1Char('/') + QLatin1String(FileName);
}

QString FlashLog::oneLine(const QString& text)
{
    // A newline or a direction override in a file name or a device's text must not forge
    // or reorder a line of the log.
    return UntrustedText::shown(text, MaxFieldLength);
}

QByteArray FlashLog::block(const Run& run)
{
    const QString outcome = run.ok ? QStringLiteral("verified") : QStringLiteral("failed");
    // With the offset from UTC: the log may be read in another time zone.
    const QDateTime now = QDateTime::currentDateTime();
    QString text = QLatin1String(RunMark) + now.toOffsetFromUtc(now.offsetFromUtc()).toString(Qt::ISODate)
                 + QStringLiteral(" image %1 (%2 bytes): %3").arg(oneLine(run.imagePath), QString::number(run.imageSize), outcome)
                 + QStringLiteral(" | unit %1 | hardware %2 | firmware %3 -> %4 | program %5")
                       .arg(orUnknown(run.unitId), orUnknown(run.hardware), orUnknown(run.firmwareBefore),
                            run.firmwareAfter.isEmpty() ? QStringLiteral("not back") : oneLine(run.firmwareAfter),
                            orUnknown(run.program))
                 + QLatin1Char('\n');
    for (const QString& line : run.lines)
        text += QLatin1String(LineIndent) + oneLine(line) + QLatin1Char('\n');
    return text.toUtf8();
}

bool FlashLog::writeAll(int fd, const QByteArray& bytes)
{
    const char* data = bytes.constData();
    size_t left = static_cast<size_t>(bytes.size());
    while (left > 0) {
        const ssize_t written = writeBytes(fd, data, left);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        data += written;
        left -= static_cast<size_t>(written);
    }
    return true;
}

bool FlashLog::append(const Run& run)
{
    const QString path = filePath();
    if (!QDir().mkpath(QFileInfo(path).path()))
        return false;
    const QByteArray name = QFile::encodeName(path);
    const QByteArray bytes = block(run);
    for (int attempt = 0; attempt < OpenAttempts; ++attempt) {
        // Not through a link someone put there; not blocking on a pipe someone put there.
        const int fd = ::open(name.constData(), O_RDWR | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC,
                              FileMode);
        if (fd < 0)
            return false;
        // One writer at a time: the window and tessaroctl may end their runs together.
        if (::flock(fd, LOCK_EX) != 0 || !stillAtPath(fd, name)) {
            ::close(fd);
            continue;
        }
        struct stat before = {};
        bool ok = ::fstat(fd, &before) == 0 && S_ISREG(before.st_mode);
        if (ok && !writeAll(fd, bytes)) {
            ok = false;
            // A full disk took part of the block: the log ends at a whole line again.
            if (::ftruncate(fd, before.st_size) != 0)
                qDebug() << "Could not take back a partly written run from" << path;
        }
        if (ok && before.st_size + bytes.size() > MaxBytes)
            dropOldestRuns(fd, name);
        ::close(fd);
        return ok;
    }
    return false;
}

void FlashLog::dropOldestRuns(int fd, const QByteArray& path)
{
    struct stat info = {};
    if (::fstat(fd, &info) != 0 || info.st_size > std::numeric_limits<int>::max())
        return;
    QByteArray content(static_cast<int>(info.st_size), Qt::Uninitialized);
    if (::pread(fd, content.data(), static_cast<size_t>(content.size()), 0) != content.size())
        return;
    // Keep the newest half, from the first run that starts in it.
    const QByteArray runStart = QByteArray("\n") + RunMark;
    int from = content.indexOf(runStart, content.size() - int(MaxBytes / 2));
    if (from < 0)
        from = content.lastIndexOf(runStart);
    // A single run larger than the bound is not kept either.
    const QByteArray kept = from < 0 ? QByteArray() : content.mid(from + 1);
    // A new file renamed over the old one: whatever the path holds by then is replaced,
    // not written through.
    QByteArray temporary = path + ".XXXXXX";
    const int out = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (out < 0)
        return;
    const bool written = writeAll(out, kept);
    if (::close(out) != 0 || !written || ::rename(temporary.constData(), path.constData()) != 0)
        ::unlink(temporary.constData());
}
