#pragma once

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QString>

// Reading of a sensor model's parameter description file below "sensors/". Every
// scalar in the file is a JSON string; anything else reads as empty, and integers that
// do not parse read as 0.
namespace ParameterFile {

constexpr char Folder[] = "sensors/";

// The parsed file; a null document when it is missing, empty or not JSON.
QJsonDocument read(const QString& fileName);

QString text(const QJsonValue& value);
int integer(const QJsonValue& value);
QJsonArray array(const QJsonObject& object, const char* key);

// An enum parameter's choices: translated comment to value. Sorted by text; the later
// of two equal texts wins.
QMap<QString, int> choices(const QJsonArray& values, const char* context);

} // namespace ParameterFile
