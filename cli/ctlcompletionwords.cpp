#include "ctlcompletionwords.h"

#include "device/tessaro.h"
#include "sensor/parameterfile.h"
#include "sensor/registermap.h"
#include "sensor/tessaropreset.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QVector>

namespace {

// The parameter files of the catalogue's sensor models, each once; a file that cannot be
// read adds nothing.
QVector<QJsonObject> models()
{
    bool ok = false;
    const QJsonArray entries = tessaro::readCatalogue(&ok);
    QStringList named;
    QVector<QJsonObject> files;
    for (const QJsonValue& value : entries) {
        const QJsonObject entry = value.toObject();
        const QString file = ParameterFile::text(entry.value(QLatin1String("configfile")));
        if (ParameterFile::text(entry.value(QLatin1String("type"))) != QLatin1String(TessaroLink::TypeSensor)
            || named.contains(file))
            continue;
        named << file;
        const QJsonDocument document = ParameterFile::read(file);
        if (document.isObject())
            files << document.object();
    }
    return files;
}

void addOnce(QStringList* words, const QString& word)
{
    if (!words->contains(word))
        *words << word;
}

QStringList registers(const QJsonObject& file)
{
    const RegisterMap map(file);
    QStringList words;
    for (const SensorRegister& reg : map.all())
        words << reg.fullName();
    return words;
}

QStringList presets(const QJsonObject& file)
{
    QStringList words;
    const QJsonArray all = TessaroPreset::presets(file);
    for (const QJsonValue& preset : all)
        words << ParameterFile::text(preset.toObject().value(QLatin1String("name")));
    return words;
}

QStringList choices(const QJsonObject& file, const QString& name)
{
    const RegisterMap map(file);
    QString unknown;
    const SensorRegister* reg = map.find(name, &unknown);
    return reg ? reg->choices.keys() : QStringList();
}

} // namespace

std::optional<QStringList> ctlCompletionWords::wordsFor(const QStringList& request)
{
    const QString kind = request.value(0);
    const bool values = kind == QLatin1String("values") && request.size() == 2;
    if (!values && (request.size() != 1 || (kind != QLatin1String("registers") && kind != QLatin1String("presets"))))
        return std::nullopt;
    QStringList words;
    const QVector<QJsonObject> files = models();
    for (const QJsonObject& file : files) {
        const QStringList found = values ? choices(file, request.at(1))
                                         : kind == QLatin1String("registers") ? registers(file) : presets(file);
        for (const QString& word : found)
            addOnce(&words, word);
    }
    return words;
}
