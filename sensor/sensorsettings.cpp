#include "sensorsettings.h"

#include "tessaroidentity.h"
#include "tessaropreset.h"
#include "tessaroregister.h"
#include "device/tessaro.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonDocument>
#include <QScopeGuard>
#include <QStringList>

#include <cmath>
#include <limits>

namespace {

// A read reply carries its value in field 3 of more than 4 fields.
constexpr int ValueField = 3;
constexpr int ValueReplyFields = 5;

// The reply as text, up to its first zero byte and never past the buffer.
QByteArray replyText(const unsigned char* reply)
{
    const char* text = reinterpret_cast<const char*>(reply);
    return QByteArray(text, static_cast<int>(qstrnlen(text, TessaroLink::ReportBufferSize)));
}

// A whole decimal number that fits; "abc", "99999999999" or nothing is no value.
std::optional<int> number(const QString& text)
{
    bool ok = false;
    const int value = text.toInt(&ok, 10);
    return ok ? std::optional<int>(value) : std::nullopt;
}

// A JSON number that is a whole int; checked before the conversion, which would be
// undefined for a value out of range.
std::optional<int> wholeNumber(const QJsonValue& value)
{
    if (!value.isDouble())
        return std::nullopt;
    const double number = value.toDouble();
    if (!std::isfinite(number) || number < std::numeric_limits<int>::min() || number > std::numeric_limits<int>::max()
        || number != std::trunc(number))
        return std::nullopt;
    return static_cast<int>(number);
}

} // namespace

bool SensorSettings::readValue(tessaro* connection, const QString& module, const QString& regname, std::optional<int>* value)
{
    unsigned char reply[TessaroLink::ReportBufferSize] = {};
    if (!TessaroRegister::exchange(connection, TessaroRegister::readCommand(module, regname), reply))
        return false;
    const QStringList parts = QString::fromLocal8Bit(replyText(reply)).split(QLatin1Char(':'));
    *value = parts.size() >= ValueReplyFields ? number(parts.at(ValueField)) : std::nullopt;
    return true;
}

bool SensorSettings::readAll(tessaro* connection, const RegisterMap& map, QJsonObject* values, QString* failed)
{
    for (const SensorRegister& reg : map.all()) {
        std::optional<int> value;
        if (!readValue(connection, reg.module, reg.regname, &value)) {
            *failed = reg.fullName();
            return false;
        }
        values->insert(reg.fullName(), value ? QJsonValue(*value) : QJsonValue());
    }
    return true;
}

SensorSettings::WriteOutcome SensorSettings::writeAndReadBack(tessaro* connection, const Values& values)
{
    for (int i = 0; i < values.size(); ++i) {
        const SensorRegister* reg = values.at(i).first;
        if (!TessaroRegister::write(connection, reg->module, reg->regname, values.at(i).second))
            return {WriteOutcome::WriteFailed, i, std::nullopt};
    }
    for (int i = 0; i < values.size(); ++i) {
        const SensorRegister* reg = values.at(i).first;
        std::optional<int> value;
        if (!readValue(connection, reg->module, reg->regname, &value))
            return {WriteOutcome::ReadFailed, i, std::nullopt};
        if (value != values.at(i).second)
            return {WriteOutcome::Mismatch, i, value};
    }
    return {WriteOutcome::Written, static_cast<int>(values.size()), std::nullopt};
}

bool SensorSettings::commitAndReset(tessaro* connection, QString* command, std::optional<QString>* answer)
{
    // Storing takes the sensor longer than a register exchange.
    connection->setCommandTimeoutMs(TessaroLink::ExecTimeoutMs);
    const auto restore = qScopeGuard([connection] { connection->setCommandTimeoutMs(TessaroLink::CommandTimeoutMs); });
    const QStringList commands = TessaroPreset::commitAndReset();
    for (const QString& next : commands) {
        unsigned char reply[TessaroLink::ReportBufferSize] = {};
        *command = next;
        if (!TessaroRegister::exchange(connection, next.toLatin1(), reply)) {
            answer->reset();
            return false;
        }
        // Acknowledged by repeating the command with ":ok": "sens:commit:ok;".
        QByteArray expected = next.toLatin1();
        expected.chop(1);
        if (replyText(reply) != expected + ":ok;") {
            *answer = QString::fromLocal8Bit(replyText(reply));
            return false;
        }
    }
    return true;
}

bool SensorSettings::complete(const QJsonObject& values)
{
    for (auto it = values.constBegin(); it != values.constEnd(); ++it) {
        if (it.value().isNull())
            return false;
    }
    return true;
}

QJsonObject SensorSettings::document(const QString& configFile, const tessaroIdentity& identity, const QJsonObject& values)
{
    return {{"configfile", configFile},
            {"id", identity.id.value_or(QString())},
            {"hardware", identity.hardware},
            {"firmware", identity.firmware},
            {"registers", values}};
}

SensorSettings::Problem SensorSettings::readFile(const QString& path, QJsonObject* document)
{
    QFile input(path);
    if (!QFileInfo(path).isFile() || !input.open(QIODevice::ReadOnly))
        return {Problem::Unreadable, {}, {}, {}};
    if (input.size() > MaxFileBytes)
        return {Problem::TooLarge, {}, {}, {}};
    // A file grown since is cut here and then is no valid JSON.
    *document = QJsonDocument::fromJson(input.read(MaxFileBytes)).object();
    if (!document->value(QLatin1String("registers")).isObject())
        return {Problem::NotSettings, {}, {}, {}};
    return {};
}

SensorSettings::Problem SensorSettings::check(const QJsonObject& document, const RegisterMap& map,
                                              const QString& configFile, bool force, Values* values)
{
    const QJsonValue model = document.value(QLatin1String("configfile"));
    if (!model.isUndefined() && model != QJsonValue(configFile) && !force)
        return {Problem::OtherModel, {}, model, {}};
    const QJsonObject registers = document.value(QLatin1String("registers")).toObject();
    QHash<const SensorRegister*, int> checked;
    for (auto it = registers.constBegin(); it != registers.constEnd(); ++it) {
        QString error;
        const SensorRegister* reg = map.find(it.key(), &error);
        if (!reg)
            return {Problem::UnknownName, it.key(), {}, error};
        if (it.value().isNull())
            return {Problem::NoValue, reg->fullName(), {}, {}};
        const std::optional<int> value = wholeNumber(it.value());
        if (!value || !RegisterMap::accepts(*reg, *value))
            return {Problem::Refused, reg->fullName(), it.value(), RegisterMap::allowed(*reg)};
        // Which of two values would stay is not for the order of writes to decide.
        if (checked.contains(reg))
            return {Problem::Twice, reg->fullName(), {}, {}};
        checked.insert(reg, *value);
    }
    // In the order of the parameter file, as the window shows them.
    values->clear();
    for (const SensorRegister& reg : map.all()) {
        if (checked.contains(&reg))
            *values << qMakePair(&reg, checked.value(&reg));
    }
    return {};
}
