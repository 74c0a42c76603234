#pragma once

#include <QString>
#include <QStringList>

// The record of every flashing run, for whoever comes back to a failed update after its
// view has gone: one block per run in "flashing.log" in the user's data folder, with time
// stamp, image path and size, outcome and every status line; newest last. The file is
// kept below MaxBytes by dropping the oldest runs.
class FlashLog
{
public:
    static constexpr qint64 MaxBytes = 256 * 1024;

    static QString filePath();
    // Appends one run; false when the file could not be written.
    static bool append(const QString& imagePath, qint64 imageSize, bool ok, const QStringList& lines);
private:
    static QString runHeader(const QString& imagePath, qint64 imageSize, bool ok);
    static void dropOldestRuns(const QString& path);
};
