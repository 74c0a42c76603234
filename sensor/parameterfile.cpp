#include "parameterfile.h"

#include <QCoreApplication>
#include <QFile>

namespace ParameterFile {

QJsonDocument read(const QString& fileName)
{
    QFile file(QLatin1String(Folder) + fileName);
    QByteArray content;
    if (file.open(QIODevice::ReadOnly | QIODevice::Text))
        content = file.readAll();
    // The text ends at the first NUL byte.
    const int nul = content.indexOf('\0');
    if (nul >= 0)
        content.truncate(nul);
    return QJsonDocument::fromJson(QString::fromUtf8(content).toUtf8());
}

QString text(const QJsonValue& value)
{
    return value.isString() ? value.toString() : QString();
}

int integer(const QJsonValue& value)
{
    return text(value).toInt();
}

QJsonArray array(const QJsonObject& object, const char* key)
{
    return object.value(QLatin1String(key)).toArray();
}

QMap<QString, int> choices(const QJsonArray& values, const char* context)
{
    QMap<QString, int> map;
    for (const QJsonValue& element : values) {
        const QJsonObject choice = element.toObject();
        const QByteArray comment = text(choice.value(QLatin1String("comment"))).toUtf8();
        map.insert(QCoreApplication::translate(context, comment.constData()),
                   integer(choice.value(QLatin1String("value"))));
    }
    return map;
}

} // namespace ParameterFile
