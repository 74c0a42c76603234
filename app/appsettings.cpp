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
    const QString aside = path + QStringLiteral(".refused");
    QFile::remove(aside);
    const bool moved = QFile::rename(path, aside);
    qDebug().noquote() << "settings file refused (not a regular file of at most" << MaxFileBytes
                       << "bytes without stored objects): starting with the defaults;"
                       << (moved ? "kept as " + aside : "left as it is");
    return path;
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
