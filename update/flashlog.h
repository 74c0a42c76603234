#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <sys/types.h>

// The record of every flashing run, by the window and by tessaroctl alike, for whoever
// comes back to a failed update or sends it to support: one block per run in
// "flashing.log" in the user's data folder, newest last, kept below MaxBytes by dropping
// the oldest runs. A block is its header line
//   == <time> image <path> (<size> bytes): verified|failed | unit <id> | hardware <hw>
//      | firmware <before> -> <after> | program <name and version>        (one line)
// followed by the run's status lines, each indented by three spaces. Older blocks end
// after the outcome. What came from a file name or a device is kept on its line: control
// characters are replaced, so nothing in it can pass for a line of its own.
class FlashLog
{
public:
    static constexpr qint64 MaxBytes = 256 * 1024;
    // A value or status line longer than this is cut.
    static constexpr int MaxFieldLength = 1024;

    struct Run {
        QString imagePath;
        qint64 imageSize = 0;
        bool ok = false;
        QStringList lines;
        QString unitId;
        QString hardware;
        QString firmwareBefore;
        // Empty: the sensor did not come back (the unit waits in its bootloader).
        QString firmwareAfter;
        QString program;
    };

    static QString filePath();
    // Appends the run's block whole or not at all; false when it could not be written. A
    // symbolic link at the path is refused, never followed.
    static bool append(const Run& run);

    // A value or status line as it goes into the log: on one line, cut to MaxFieldLength.
    static QString oneLine(const QString& text);

    // write(2), so that tests can make the disk run full part-way through a block.
    static std::function<ssize_t(int fd, const void* data, size_t size)> writeBytes;

private:
    static QByteArray block(const Run& run);
    static bool writeAll(int fd, const QByteArray& bytes);
    static void dropOldestRuns(int fd, const QByteArray& path);
};
