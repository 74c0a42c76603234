#include "datafile.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace DataFile {

QString useProgramFolder()
{
    const QString caller = QDir::currentPath();
    if (!QDir::setCurrent(QCoreApplication::applicationDirPath()))
        qDebug().noquote() << "cannot change to the program's folder" << QCoreApplication::applicationDirPath();
    return caller;
}

bool isBareName(const QString& name)
{
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
        return false;
    for (const QChar c : name) {
        if (c == QLatin1Char('/') || c == QLatin1Char('\\') || c.category() == QChar::Other_Control)
            return false;
    }
    return true;
}

QByteArray read(const QString& path, bool* ok)
{
    if (ok)
        *ok = false;
    // Opened without waiting: a FIFO put in a file's place would block the open for ever.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return QByteArray();
    QFile file;
    struct stat status = {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) || status.st_size > MaxBytes
        || !file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        qDebug().noquote() << "data file refused (not a regular file of at most" << MaxBytes << "bytes):" << path;
        return QByteArray();
    }
    // In pieces, as far as the file goes: a read of MaxBytes + 1 at once would allocate a
    // whole MiB at every search tick. The size may have grown since: stop past the limit.
    QByteArray content;
    content.reserve(static_cast<int>(status.st_size));
    char piece[16 * 1024];
    qint64 got = 0;
    while (content.size() <= MaxBytes && (got = file.read(piece, sizeof piece)) > 0)
        content.append(piece, static_cast<int>(got));
    if (got < 0) {
        qDebug().noquote() << "data file could not be read:" << path;
        return QByteArray();
    }
    if (content.size() > MaxBytes) {
        qDebug().noquote() << "data file refused (larger than" << MaxBytes << "bytes):" << path;
        return QByteArray();
    }
    if (ok)
        *ok = true;
    return content;
}

} // namespace DataFile
