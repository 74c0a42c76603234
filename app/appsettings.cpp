#include "appsettings.h"

#include "device/datafile.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

appSettings::appSettings(QObject* parent)
    : QSettings(checkedFilePath(), QSettings::IniFormat, parent)
{
}

QString appSettings::filePath()
{
    // Where QSettings keeps a user-scope INI file of this organisation and application.
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + QLatin1Char('/')
           + QLatin1String(Organisation) + QLatin1Char('/') + QLatin1String(Application) + QStringLiteral(".ini");
}

QString appSettings::checkedFilePath()
{
    const QString path = filePath();
    if (!QFileInfo::exists(path))
        return path;
    bool read = false;
    const QByteArray content = DataFile::read(path, &read);
    // The program stores text, sizes and points: a serialised object (a list of any
    // length it claims, a picture) is nothing it wrote.
    if (read && content.size() <= MaxFileBytes && !content.contains("@Variant("))
        return path;
    const QString aside = movedAside(path);
    qDebug().noquote() << "settings file refused (not a regular file of at most" << MaxFileBytes
                       << "bytes without stored objects): starting with the defaults;"
                       << (aside.isEmpty() ? QStringLiteral("it cannot be moved aside, so this run's settings are not kept")
                                           : "kept as " + aside);
    // A file left in place must not be parsed: with no file name QSettings keeps the
    // values in memory only.
    return aside.isEmpty() ? QString() : path;
}

QString appSettings::movedAside(const QString& path)
{
    // Something that cannot be removed (a folder) may hold the first name.
    for (int attempt = 0; attempt < MaxAsideNames; ++attempt) {
        const QString aside = path + QStringLiteral(".refused") + (attempt ? QStringLiteral(".%1").arg(attempt) : QString());
        QFile::remove(aside);
        if (QFile::rename(path, aside))
            return aside;
    }
    return QString();
}

QString appSettings::language() const
{
    return text(QLatin1String(LangKey), QLatin1String(DefaultLang));
}

QString appSettings::text(const QString& key, const QString& fallback) const
{
    const QVariant stored = value(key);
    return stored.userType() == QMetaType::QString ? stored.toString() : fallback;
}
