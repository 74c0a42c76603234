#pragma once

#include "registermap.h"

#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QPair>
#include <QString>

#include <optional>

class tessaro;
struct tessaroIdentity;

// A sensor's settings as a file, the same for tessaroctl dump/load and the window's
// File menu: the model (parameter file), the unit's identity and every editable register
// with its value, as JSON. Reading one checks everything before anything is written: at
// most MaxFileBytes, a "registers" object, the model of the sensor (unless forced), each
// name a register of the model, each value a whole number the register accepts, no
// register twice. Values are read strictly: a reply without a whole number is no value,
// never 0.
class SensorSettings
{
public:
    // A settings file is a few kilobytes: a larger file is none and is not read into memory.
    static constexpr qint64 MaxFileBytes = 1024 * 1024;

    using Values = QList<QPair<const SensorRegister*, int>>;

    struct Problem {
        enum Kind {
            None,
            Unreadable,   // no regular file, or it cannot be opened
            TooLarge,     // above MaxFileBytes
            NotSettings,  // no JSON object with a "registers" object
            OtherModel,   // model: what the file names
            UnknownName,  // name; detail: why (RegisterMap::find)
            NoValue,      // name: null in the file
            Refused,      // name, value, detail: what the register accepts
            Twice,        // name
        };
        Kind kind = None;
        QString name;
        QJsonValue value;
        QString detail;
    };

    // The register's value as the sensor reports it; false when the exchange failed.
    static bool readValue(tessaro* connection, const QString& module, const QString& regname, std::optional<int>* value);
    // Every register of map into *values ("module:regname" to the value, null where the
    // sensor gave none). False at the first failed exchange, with its name in *failed.
    static bool readAll(tessaro* connection, const RegisterMap& map, QJsonObject* values, QString* failed);
    // Whether a values object from readAll has a value for every register.
    static bool complete(const QJsonObject& values);
    static QJsonObject document(const QString& configFile, const tessaroIdentity& identity, const QJsonObject& values);

    // Where writing values stopped: at the write or read back of values[index], or at a
    // value read back other than the one written (readBack).
    struct WriteOutcome {
        enum Kind { Written, WriteFailed, ReadFailed, Mismatch };
        Kind kind = Written;
        int index = 0;
        std::optional<int> readBack;
    };
    // Writes every value, then reads each back: what the sensor holds is what counts.
    static WriteOutcome writeAndReadBack(tessaro* connection, const Values& values);
    // "sens:commit;" then "sens:reset;", each acknowledged; else the command and the
    // answer (none when the exchange failed).
    static bool commitAndReset(tessaro* connection, QString* command, std::optional<QString>* answer);

    // The JSON object of the file at path, checked as far as it goes without a sensor.
    static Problem readFile(const QString& path, QJsonObject* document);
    // The values of a file read with readFile for a sensor of the model configFile, in the
    // order of map; force takes a file of another model too.
    static Problem check(const QJsonObject& document, const RegisterMap& map, const QString& configFile, bool force,
                         Values* values);
};
