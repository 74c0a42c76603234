#include "serviceidentity.h"

#include <QByteArray>

QString sensorId;
QString sensorHw;
QString sensorSw;

QString serviceQueryText(const QString& id, const QString& hw, const QString& sw)
{
    const QString text = id + QLatin1Char(';') + hw + QLatin1Char(';') + sw + QLatin1Char(';')
                       + QLatin1String(ToolVersion);
    return QString::fromLatin1(text.toLocal8Bit().toBase64());
}

QString serviceBaseUrl()
{
    const QString fromEnvironment = qEnvironmentVariable("TESSARO_SERVICE_URL");
    return fromEnvironment.isEmpty() ? QStringLiteral(TESSARO_SERVICE_URL_DEFAULT) : fromEnvironment;
}

QUrl serviceUrl(const char* pathAndQuery, const QString& data)
{
    return QUrl(serviceBaseUrl() + QLatin1String(pathAndQuery) + data, QUrl::TolerantMode);
}
