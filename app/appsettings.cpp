#include "appsettings.h"

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
    const QFileInfo info(path);
    if (!info.exists() || (info.isFile() && info.size() <= MaxFileBytes))
        return path;
    const QString aside = path + QStringLiteral(".refused");
    QFile::remove(aside);
    const bool moved = QFile::rename(path, aside);
    qDebug().noquote() << "settings file refused (not a regular file of at most" << MaxFileBytes
                       << "bytes): starting with the defaults;" << (moved ? "kept as " + aside : "left as it is");
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
