#include "parameterfile.h"

#include "device/datafile.h"

#include <QCoreApplication>
#include <QDebug>

namespace ParameterFile {

QJsonDocument read(const QString& fileName)
{
    // The catalogue names a file of this folder, never one elsewhere.
    if (!DataFile::isBareName(fileName)) {
        qDebug().noquote() << "parameter file refused, not a bare file name:" << fileName.toUtf8().toPercentEncoding("/ ");
        return QJsonDocument();
    }
    QByteArray content = DataFile::read(QLatin1String(Folder) + fileName);
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

bool isName(const QString& text)
{
    if (text.isEmpty())
        return false;
    for (const QChar c : text) {
        const bool letterOrDigit = (c >= QLatin1Char('a') && c <= QLatin1Char('z'))
                                   || (c >= QLatin1Char('A') && c <= QLatin1Char('Z'))
                                   || (c >= QLatin1Char('0') && c <= QLatin1Char('9'));
        if (!letterOrDigit && c != QLatin1Char('_'))
            return false;
    }
    return true;
}

bool hasNames(const QJsonObject& row)
{
    return isName(text(row.value(QLatin1String("module")))) && isName(text(row.value(QLatin1String("regname"))));
}

bool matchesTyped(const QString& inFile, const QString& typed)
{
    return inFile.compare(typed.trimmed(), Qt::CaseInsensitive) == 0;
}

QString rowName(const QJsonObject& row)
{
    QString name = text(row.value(QLatin1String("module"))) + QLatin1Char(':') + text(row.value(QLatin1String("regname")));
    for (QChar& c : name) {
        if (c < QLatin1Char(' ') || c > QLatin1Char('~'))
            c = QLatin1Char('?');
    }
    return name;
}

QStringList refusedRows(const QJsonObject& file)
{
    QJsonArray rows = array(file, "parameters_advanced");
    for (const QJsonValue& group : array(file, "parameters_system")) {
        for (const QJsonValue& row : array(group.toObject(), "parameters"))
            rows.append(row);
    }
    for (const QJsonValue& preset : array(file, "parameters_simple")) {
        for (const QJsonValue& row : array(preset.toObject(), "parameters"))
            rows.append(row);
    }
    QStringList refused;
    for (const QJsonValue& row : qAsConst(rows)) {
        if (row.isObject() && !hasNames(row.toObject()))
            refused << rowName(row.toObject());
    }
    for (const char* key : {"setting_easy_sensor_man", "setting_easy_sensor_auto"}) {
        const QJsonValue name = file.value(QLatin1String(key));
        if (!name.isUndefined() && !isName(text(name)))
            refused << rowName(QJsonObject{{QStringLiteral("module"), QStringLiteral("sens")}, {QStringLiteral("regname"), name}});
    }
    return refused;
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
