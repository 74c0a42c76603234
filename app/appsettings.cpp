#include "appsettings.h"

appSettings::appSettings(QObject* parent)
    : QSettings(QSettings::IniFormat, QSettings::UserScope, QLatin1String(Organisation),
                QLatin1String(Application), parent)
{
}

QString appSettings::language() const
{
    return value(QLatin1String(LangKey), QLatin1String(DefaultLang)).toString();
}
