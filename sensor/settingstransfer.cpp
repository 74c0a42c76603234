#include "settingstransfer.h"

#include "parameterfile.h"
#include "registermap.h"
#include "sensorsettings.h"
#include "tessaroidentity.h"
#include "app/appsettings.h"
#include "app/askuser.h"
#include "device/tessaro.h"
#include "device/translatedtext.h"
#include "device/untrustedtext.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QPointer>
#include <QRegularExpression>
#include <QSaveFile>

namespace {

const char* const TextContext = "SettingsTransfer";

QString text(const char* key)
{
    return QCoreApplication::translate(TextContext, key);
}

QString filled(const char* key, const QStringList& values)
{
    return fillTranslation(text(key), values);
}

QString shownPath(const QString& path)
{
    return UntrustedText::shown(QDir::toNativeSeparators(path), UntrustedText::LineCap);
}

// "1234 (hardware HW 1.0, firmware SW 2.4)": the unit as the question names it.
QString unitText(const tessaroIdentity& identity)
{
    return filled("[settings:unit]", {UntrustedText::shown(identity.id.value_or(QString())),
                                      UntrustedText::shown(identity.hardware), UntrustedText::shown(identity.firmware)});
}

// The sensor's model and identity, or why not (told to the user).
bool readSensor(QWidget* parent, tessaro* connection, const char* titleKey, QJsonObject* model, tessaroIdentity* identity)
{
    const QJsonDocument file = connection ? ParameterFile::read(connection->configFile) : QJsonDocument();
    if (!connection || !connection->isConnected || file.isNull() || !identity->read(connection) || !identity->id
        || !identity->hasVersion) {
        AskUser::tell(parent, text(titleKey), text("[settings:nosensor]"));
        return false;
    }
    *model = file.object();
    return true;
}

// "tessaro-<id>.json" in the home folder, with only the id's plain characters.
QString suggestedPath(const tessaroIdentity& identity)
{
    static const QRegularExpression unsafe(QStringLiteral("[^A-Za-z0-9_-]"));
    const QString id = identity.id.value_or(QString()).remove(unsafe).left(UntrustedText::FieldCap);
    return QDir(QDir::homePath()).filePath(QStringLiteral("tessaro-%1.json").arg(id));
}

// A JSON value as it stands in the file: 5000, "4", true.
QString jsonText(const QJsonValue& value)
{
    const QString array = QString::fromUtf8(QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact));
    return UntrustedText::shown(array.mid(1, array.size() - 2));
}

QString problemText(const SensorSettings::Problem& problem, const QString& path, const QString& configFile)
{
    using P = SensorSettings::Problem;
    const QString name = UntrustedText::shown(problem.name);
    switch (problem.kind) {
    case P::Unreadable:
        return filled("[settings:problem:unreadable]", {shownPath(path)});
    case P::TooLarge:
        return filled("[settings:problem:toolarge]", {shownPath(path)});
    case P::NotSettings:
        return filled("[settings:problem:notsettings]", {shownPath(path)});
    case P::OtherModel:
        return filled("[settings:problem:othermodel]",
                      {shownPath(path), jsonText(problem.value), configFile});
    case P::UnknownName:
        return filled("[settings:problem:unknown]", {name});
    case P::NoValue:
        return filled("[settings:problem:novalue]", {name});
    case P::Refused:
        return filled("[settings:problem:refused]",
                      {name, jsonText(problem.value), problem.detail});
    case P::Twice:
        return filled("[settings:problem:twice]", {name});
    case P::None:
        break;
    }
    return QString();
}

} // namespace

bool SettingsTransfer::save(QWidget* parent, tessaro* connection)
{
    const QPointer<tessaro> link(connection);
    QJsonObject model;
    tessaroIdentity identity;
    if (!readSensor(parent, connection, "[settings:save:title]", &model, &identity))
        return false;
    const RegisterMap map(model);
    QJsonObject values;
    QString failed;
    if (!SensorSettings::readAll(connection, map, &values, &failed)) {
        AskUser::tell(parent, text("[settings:save:title]"), filled("[settings:read:failed]", {UntrustedText::shown(failed)}));
        return false;
    }
    // A file with a hole would be refused by load: none is written.
    if (!SensorSettings::complete(values)) {
        AskUser::tell(parent, text("[settings:save:title]"), text("[settings:read:novalue]"));
        return false;
    }
    const QString path = AskUser::saveFile(parent, text("[settings:save:title]"), suggestedPath(identity),
                                           text("[settings:filter]"));
    if (path.isEmpty() || !link)
        return false;
    QSaveFile output(path);
    const QByteArray json = QJsonDocument(SensorSettings::document(connection->configFile, identity, values)).toJson();
    if (!output.open(QIODevice::WriteOnly) || output.write(json) != json.size() || !output.commit()) {
        AskUser::tell(parent, text("[settings:save:title]"), filled("[settings:save:nowrite]", {shownPath(path)}));
        return false;
    }
    // Read back: what is on disk must be a file that load accepts for this sensor.
    QJsonObject written;
    SensorSettings::Values checked;
    if (SensorSettings::readFile(path, &written).kind != SensorSettings::Problem::None
        || SensorSettings::check(written, map, connection->configFile, false, &checked).kind != SensorSettings::Problem::None
        || written != SensorSettings::document(connection->configFile, identity, values)) {
        AskUser::tell(parent, text("[settings:save:title]"), filled("[settings:save:nowrite]", {shownPath(path)}));
        return false;
    }
    AskUser::tell(parent, text("[settings:save:title]"), filled("[settings:save:done]", {unitText(identity), shownPath(path)}));
    return true;
}

bool SettingsTransfer::load(QWidget* parent, tessaro* connection)
{
    const QPointer<tessaro> link(connection);
    QJsonObject model;
    tessaroIdentity identity;
    if (!readSensor(parent, connection, "[settings:load:title]", &model, &identity))
        return false;
    const QString path = AskUser::openFile(parent, text("[settings:load:title]"), QDir::homePath(), text("[settings:filter]"));
    if (path.isEmpty() || !link || !link->isConnected)
        return false;
    const RegisterMap map(model);
    QJsonObject document;
    SensorSettings::Values values;
    SensorSettings::Problem problem = SensorSettings::readFile(path, &document);
    if (problem.kind == SensorSettings::Problem::None)
        problem = SensorSettings::check(document, map, connection->configFile, false, &values);
    if (problem.kind != SensorSettings::Problem::None) {
        AskUser::tell(parent, text("[settings:load:title]"), problemText(problem, path, connection->configFile));
        return false;
    }
    const QString question = filled("[settings:load:confirm]", {shownPath(QFileInfo(path).fileName()),
                                                                QString::number(values.size()), unitText(identity)});
    if (!AskUser::confirm(parent, text("[settings:load:title]"), question))
        return false;
    // The sensor may have gone while the question was open.
    if (!link || !link->isConnected) {
        AskUser::tell(parent, text("[settings:load:title]"), text("[settings:nosensor]"));
        return false;
    }
    const SensorSettings::WriteOutcome outcome = SensorSettings::writeAndReadBack(connection, values);
    if (outcome.kind != SensorSettings::WriteOutcome::Written) {
        const auto& entry = values.at(outcome.index);
        const QString name = UntrustedText::shown(entry.first->fullName());
        const QString why = outcome.kind == SensorSettings::WriteOutcome::Mismatch
            ? filled("[settings:load:mismatch]", {name, outcome.readBack ? QString::number(*outcome.readBack) : QStringLiteral("-"),
                                                  QString::number(entry.second)})
            : filled("[settings:load:failed]", {name});
        AskUser::tell(parent, text("[settings:load:title]"), why);
        return false;
    }
    QString command;
    std::optional<QString> answer;
    if (!SensorSettings::commitAndReset(connection, &command, &answer)) {
        AskUser::tell(parent, text("[settings:load:title]"), text("[settings:load:notstored]"));
        return false;
    }
    AskUser::tell(parent, text("[settings:load:title]"), filled("[settings:load:done]", {QString::number(values.size()), unitText(identity)}));
    return true;
}
