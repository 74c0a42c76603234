#include "tessaropreset.h"

#include "parameterfile.h"
#include "tessaroregister.h"
#include "device/tessaro.h"

#include <QDebug>
#include <QVector>

QByteArray TessaroPreset::writeCommand(const QString& module, const QString& regname, const QByteArray& value)
{
    // A preset's value is sent as the file gives it, digits or not.
    return module.toUtf8() + ":write:" + regname.toUtf8() + ':' + value + ';';
}

QJsonArray TessaroPreset::presets(const QJsonObject& file)
{
    return ParameterFile::array(file, "parameters_simple");
}

QJsonObject TessaroPreset::find(const QJsonObject& file, const QString& name, bool* found)
{
    const QJsonArray all = presets(file);
    for (const QJsonValue& value : all) {
        const QJsonObject preset = value.toObject();
        if (ParameterFile::matchesTyped(ParameterFile::text(preset.value(QLatin1String("name"))), name)) {
            *found = true;
            return preset;
        }
    }
    *found = false;
    return QJsonObject();
}

bool TessaroPreset::writeAll(tessaro* connection, const QJsonObject& preset)
{
    const QJsonArray writes = ParameterFile::array(preset, "parameters");
    QVector<QByteArray> commands;
    for (const QJsonValue& value : writes) {
        const QJsonObject write = value.toObject();
        const QByteArray command = writeCommand(ParameterFile::text(write.value(QLatin1String("module"))),
                                                ParameterFile::text(write.value(QLatin1String("regname"))),
                                                ParameterFile::text(write.value(QLatin1String("value"))).toUtf8());
        // A preset is written whole or not at all: every row is checked before the first write.
        if (!ParameterFile::hasNames(write) || !TessaroRegister::isOneCommand(command)) {
            qDebug().noquote() << "preset refused, its row is no single register write:" << ParameterFile::rowName(write);
            return false;
        }
        commands << command;
    }
    unsigned char reply[TessaroLink::ReportBufferSize];
    for (const QByteArray& command : qAsConst(commands)) {
        if (!TessaroRegister::exchange(connection, command, reply))
            return false;
    }
    return true;
}

QStringList TessaroPreset::commitAndReset()
{
    return {QStringLiteral("sens:commit;"), QStringLiteral("sens:reset;")};
}
