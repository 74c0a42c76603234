#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>

class tessaro;

// The presets of a parameter file's "parameters_simple" and how one is applied: its
// register writes in array order ("module:write:regname:value;", the value text sent as
// the file gives it), then "sens:commit;" and "sens:reset;" through execCommand.
namespace TessaroPreset {

QByteArray writeCommand(const QString& module, const QString& regname, const QByteArray& value);

QJsonArray presets(const QJsonObject& file);
// The first preset the typed name matches (ParameterFile::matchesTyped, as enum choices
// are matched); an empty object when there is none.
QJsonObject find(const QJsonObject& file, const QString& name, bool* found);

// Every write of the preset; false before any write when a row is not a single register
// write (a name that is no name, a value holding ';'), and at the first write that cannot
// be made (with its debug line), with no commit and no reset: writes already made stay.
bool writeAll(tessaro* connection, const QJsonObject& preset);

// What follows the writes of a preset or of the easy threshold, in this order.
QStringList commitAndReset();

} // namespace TessaroPreset
