#pragma once

#include <QString>
#include <QUrl>

// The tool's version text: last field of every service query, shown by the About view.
constexpr char ToolVersion[] = "UTIL 2.2";

// Identity of the sensor last shown by a sensor view ("none" after a legacy device).
// Empty at start; read by the update dialog and, without a sensor view, by the web links.
extern QString sensorId;
extern QString sensorHw;
extern QString sensorSw;

// Base64 of "id;hw;sw;UTIL 2.2" in the local 8-bit encoding: the "data=" value of
// every request to the maker's web service.
QString serviceQueryText(const QString& id, const QString& hw, const QString& sw);

// Base address of the maker's web service: TESSARO_SERVICE_URL from the environment,
// else the address the build was configured with.
QString serviceBaseUrl();

// The service address for a path such as "/utility/help.php?data=" with the query text
// appended as it is: Base64's "+", "/" and "=" stay unescaped.
QUrl serviceUrl(const char* pathAndQuery, const QString& data = QString());
