#include "flashlog.h"

#include "app/appsettings.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QStandardPaths>

namespace {
const char* const FileName = "flashing.log";
// Every run's block starts with this, so trimming can cut at a run's start.
const char* const RunMark = "== ";
}

QString FlashLog::filePath()
{
    // The program's own data folder, named as its settings are.
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    return base + QLatin1Char('/') + QLatin1String(appSettings::Organisation) + QLatin1Char('/')
         + QLatin1String(appSettings::Application) + QLatin1Char('/') + QLatin1String(FileName);
}

QString FlashLog::runHeader(const QString& imagePath, qint64 imageSize, bool ok)
{
    return QStringLiteral("image %1 (%2 bytes): %3").arg(imagePath).arg(imageSize).arg(ok ? QStringLiteral("verified")
                                                                                        : QStringLiteral("failed"));
}

bool FlashLog::append(const QString& imagePath, qint64 imageSize, bool ok, const QStringList& lines)
{
    const QString path = filePath();
    if (!QDir().mkpath(QFileInfo(path).path()))
        return false;
    QString block = QLatin1String(RunMark) + QDateTime::currentDateTime().toString(Qt::ISODate) + QLatin1Char(' ')
                  + runHeader(imagePath, imageSize, ok) + QLatin1Char('\n');
    for (const QString& line : lines)
        block += QStringLiteral("   ") + line + QLatin1Char('\n');
    QFile file(path);
    if (!file.open(QIODevice::Append | QIODevice::Text) || file.write(block.toUtf8()) < 0)
        return false;
    file.close();
    if (file.size() > MaxBytes)
        dropOldestRuns(path);
    return true;
}

void FlashLog::dropOldestRuns(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return;
    const QByteArray content = file.readAll();
    file.close();
    // Keep the newest half, from the first run that starts in it.
    const QByteArray runStart = QByteArray("\n") + RunMark;
    int from = content.indexOf(runStart, content.size() - int(MaxBytes / 2));
    if (from < 0)
        from = content.lastIndexOf(runStart);
    QSaveFile trimmed(path);
    if (!trimmed.open(QIODevice::WriteOnly))
        return;
    // A single run larger than the bound is not kept either.
    trimmed.write(from < 0 ? QByteArray() : content.mid(from + 1));
    trimmed.commit();
}
