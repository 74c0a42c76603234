#pragma once

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QString>

// Reading of a sensor model's parameter description file below "sensors/" (a bare file
// name, a regular file of at most DataFile::MaxBytes). Every scalar in the file is a JSON
// string; anything else reads as empty, and integers that do not parse read as 0.
namespace ParameterFile {

constexpr char Folder[] = "sensors/";

// The parsed file; a null document when it is missing, empty or not JSON.
QJsonDocument read(const QString& fileName);

QString text(const QJsonValue& value);
int integer(const QJsonValue& value);
QJsonArray array(const QJsonObject& object, const char* key);

// A module or register name as the sensor knows it: letters, digits and '_', not empty.
// Any other character could end a command (';') or change its meaning (':', spaces).
bool isName(const QString& text);
// Whether a row's "module" and "regname" are both names.
bool hasNames(const QJsonObject& row);
// Whether what the user typed names a preset or a choice of the file: in any letter case,
// spaces around it ignored. Presets and choices are matched alike.
bool matchesTyped(const QString& inFile, const QString& typed);
// "module:regname" of a row, with characters outside printable ASCII shown as '?', for
// a message about a refused row.
QString rowName(const QJsonObject& row);
// rowName of every row whose names are not names: system and advanced parameters, preset
// writes and the easy tables' registers. Such rows are left out, and nothing is sent
// for them.
QStringList refusedRows(const QJsonObject& file);

// An enum parameter's choices: translated comment to value. Sorted by text; the later
// of two equal texts wins.
QMap<QString, int> choices(const QJsonArray& values, const char* context);

} // namespace ParameterFile
