#include "registermap.h"

#include "parameterfile.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QStringList>

namespace {

// Choices are looked up in the same translation context as the window's enum editors.
const char* const ChoiceContext = "view_tessaro";

std::optional<int> decimal(const QString& text)
{
    bool ok = false;
    const int value = text.trimmed().toInt(&ok, 10);
    return ok ? std::optional<int>(value) : std::nullopt;
}

std::optional<int> boolValue(const QString& text)
{
    const QString word = text.trimmed().toLower();
    if (word == QLatin1String("1") || word == QLatin1String("true") || word == QLatin1String("on")
        || word == QLatin1String("yes"))
        return 1;
    if (word == QLatin1String("0") || word == QLatin1String("false") || word == QLatin1String("off")
        || word == QLatin1String("no"))
        return 0;
    return std::nullopt;
}

} // namespace

RegisterMap::RegisterMap(const QJsonObject& file)
{
    const QJsonArray groups = ParameterFile::array(file, "parameters_system");
    for (const QJsonValue& group : groups) {
        const QJsonArray parameters = ParameterFile::array(group.toObject(), "parameters");
        for (const QJsonValue& parameter : parameters) {
            if (parameter.isObject())
                add(parameter.toObject());
        }
    }
    const QJsonArray advanced = ParameterFile::array(file, "parameters_advanced");
    for (const QJsonValue& parameter : advanced)
        add(parameter.toObject());
}

void RegisterMap::add(const QJsonObject& parameter)
{
    // Refused rows are reported where the file is read (ParameterFile::refusedRows).
    if (!ParameterFile::hasNames(parameter))
        return;
    SensorRegister reg;
    reg.module = ParameterFile::text(parameter.value(QLatin1String("module")));
    reg.regname = ParameterFile::text(parameter.value(QLatin1String("regname")));
    reg.type = ParameterFile::text(parameter.value(QLatin1String("type")));
    if (reg.type == QLatin1String("int")) {
        reg.min = ParameterFile::integer(parameter.value(QLatin1String("min")));
        reg.max = ParameterFile::integer(parameter.value(QLatin1String("max")));
    } else if (reg.type == QLatin1String("enum")) {
        reg.choices = ParameterFile::choices(ParameterFile::array(parameter, "values"), ChoiceContext);
    } else if (reg.type != QLatin1String("bool")) {
        return;  // no row in the window either
    }
    // A register shown on two tabs is one register.
    for (const SensorRegister& known : qAsConst(registers)) {
        if (known.fullName() == reg.fullName())
            return;
    }
    registers << reg;
}

const SensorRegister* RegisterMap::find(const QString& name, QString* error) const
{
    const SensorRegister* match = nullptr;
    QStringList candidates;
    for (const SensorRegister& reg : registers) {
        if (reg.fullName() == name)
            return &reg;
        if (reg.regname == name) {
            match = &reg;
            candidates << reg.fullName();
        }
    }
    if (candidates.size() == 1)
        return match;
    if (candidates.isEmpty())
        *error = QStringLiteral("unknown register \"%1\" (tessaroctl get lists them)").arg(name);
    else
        *error = QStringLiteral("\"%1\" is ambiguous: %2").arg(name, candidates.join(QLatin1String(", ")));
    return nullptr;
}

bool RegisterMap::accepts(const SensorRegister& reg, int value)
{
    if (reg.type == QLatin1String("int"))
        return value >= reg.min && value <= reg.max;
    if (reg.type == QLatin1String("bool"))
        return value == 0 || value == 1;
    const QList<int> values = reg.choices.values();
    return values.contains(value);
}

std::optional<int> RegisterMap::parseValue(const SensorRegister& reg, const QString& text, QString* error)
{
    std::optional<int> value;
    if (reg.type == QLatin1String("bool")) {
        value = boolValue(text);
    } else {
        value = decimal(text);
        if (!value && reg.type == QLatin1String("enum")) {
            for (auto it = reg.choices.cbegin(); it != reg.choices.cend(); ++it) {
                if (ParameterFile::matchesTyped(it.key(), text))
                    value = it.value();
            }
        }
    }
    if (value && accepts(reg, *value))
        return value;
    *error = QStringLiteral("%1: value \"%2\" refused, accepted: %3").arg(reg.fullName(), text, allowed(reg));
    return std::nullopt;
}

QString RegisterMap::allowed(const SensorRegister& reg)
{
    if (reg.type == QLatin1String("int"))
        return QStringLiteral("%1..%2").arg(reg.min).arg(reg.max);
    if (reg.type == QLatin1String("bool"))
        return QStringLiteral("0 or 1");
    QStringList texts;
    for (auto it = reg.choices.cbegin(); it != reg.choices.cend(); ++it)
        texts << QStringLiteral("%1 (%2)").arg(it.value()).arg(it.key());
    return texts.join(QLatin1String(", "));
}

QString RegisterMap::choiceText(const SensorRegister& reg, int value)
{
    if (reg.type != QLatin1String("enum"))
        return QString();
    return reg.choices.key(value);
}
