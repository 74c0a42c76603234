#include "supportreport.h"

#include "debugring.h"
#include "device/datafile.h"
#include "device/tessaro.h"
#include "sensor/parameterfile.h"
#include "sensor/tessaroregister.h"
#include "trace/hidrecorder.h"
#include "update/flashlog.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSaveFile>
#include <QSysInfo>

namespace {

constexpr int FormatVersion = 1;

// The newest whole lines of a file, at most maxBytes of them.
QByteArray fileTail(const QString& path, qint64 maxBytes)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    const qint64 start = qMax<qint64>(0, file.size() - maxBytes);
    file.seek(start);
    QByteArray tail = file.read(maxBytes);
    if (start > 0)
        tail = tail.mid(tail.indexOf('\n') + 1);
    return tail;
}

QJsonValue traceEvents()
{
    HidRecorder* recorder = HidRecorder::active();
    if (!recorder)
        return QJsonValue();
    recorder->flush();
    QJsonArray events;
    const QList<QByteArray> lines = fileTail(recorder->path(), SupportReport::MaxTraceBytes).split('\n');
    for (const QByteArray& line : lines) {
        const QJsonDocument event = QJsonDocument::fromJson(line);
        if (event.isObject())
            events.append(event.object());
    }
    return events;
}

} // namespace

bool SupportReport::readRegisters(tessaro* connection, const QString& configFile, QJsonObject* registers)
{
    const QJsonObject file = ParameterFile::read(configFile).object();
    QJsonArray rows = ParameterFile::array(file, "parameters_advanced");
    const QJsonArray groups = ParameterFile::array(file, "parameters_system");
    for (const QJsonValue& group : groups) {
        const QJsonArray parameters = ParameterFile::array(group.toObject(), "parameters");
        for (const QJsonValue& parameter : parameters)
            rows.append(parameter);
    }
    // The rows the window has an editor for; a register on two tabs is read once.
    const QStringList editable{QStringLiteral("int"), QStringLiteral("bool"), QStringLiteral("enum")};
    for (const QJsonValue& value : qAsConst(rows)) {
        const QJsonObject row = value.toObject();
        if (!ParameterFile::hasNames(row) || !editable.contains(ParameterFile::text(row.value(QLatin1String("type")))))
            continue;
        const QString module = ParameterFile::text(row.value(QLatin1String("module")));
        const QString regname = ParameterFile::text(row.value(QLatin1String("regname")));
        const QString name = module + QLatin1Char(':') + regname;
        if (registers->contains(name))
            continue;
        std::optional<int> read;
        if (!TessaroRegister::read(connection, module, regname, &read))
            return false;
        registers->insert(name, read ? QJsonValue(*read) : QJsonValue());
    }
    return true;
}

SupportReport::SupportReport(const QString& program, const QString& version)
    : m_program(program)
    , m_version(version)
{
}

void SupportReport::setUnit(const Unit& unit)
{
    m_unit = {{"path", unit.path},       {"id", unit.id},       {"hardware", unit.hardware},
              {"firmware", unit.firmware}, {"model", unit.model}, {"registers", unit.registers}};
}

QJsonObject SupportReport::toJson() const
{
    const QByteArray catalogue = DataFile::read(QString::fromLatin1(TessaroLink::CataloguePath));
    const QJsonDocument parsed = QJsonDocument::fromJson(catalogue);
    QFile updateLog(FlashLog::filePath());
    const QByteArray log = updateLog.open(QIODevice::ReadOnly) ? updateLog.read(FlashLog::MaxBytes) : QByteArray();
    return {
        {"report", "support report"},
        {"format", FormatVersion},
        {"created", QDateTime::currentDateTimeUtc().toString(Qt::ISODate)},
        {"program", m_program},
        {"version", m_version},
        {"os", QSysInfo::prettyProductName()},
        {"kernel", QSysInfo::kernelType() + QLatin1Char(' ') + QSysInfo::kernelVersion()},
        {"catalogue", QJsonObject{{"sha256", QString::fromLatin1(QCryptographicHash::hash(catalogue, QCryptographicHash::Sha256).toHex())},
                                  {"content", parsed.isObject() ? QJsonValue(parsed.object()) : QJsonValue(QString::fromUtf8(catalogue))}}},
        {"state", m_state},
        {"unit", m_unit.isEmpty() ? QJsonValue() : QJsonValue(m_unit)},
        {"updateLog", QString::fromUtf8(log)},
        {"debug", QJsonArray::fromStringList(DebugRing::lines())},
        {"trace", traceEvents()},
    };
}

bool SupportReport::save(const QString& path, QString* error) const
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(QJsonDocument(toJson()).toJson()) < 0 || !file.commit()) {
        *error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}
