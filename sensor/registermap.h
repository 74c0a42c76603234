#pragma once

#include <QMap>
#include <QString>
#include <QVector>

#include <optional>

class QJsonObject;

// One register the parameter file lets the user edit, with the editor's limits.
struct SensorRegister {
    QString module;
    QString regname;
    QString type;  // "int", "bool" or "enum"
    int min = 0;
    int max = 0;
    QMap<QString, int> choices;  // enum: text to value

    // "module:regname", the name tessaroctl prints and accepts.
    QString fullName() const { return module + QLatin1Char(':') + regname; }
};

// The editable registers of a sensor model's parameter file (system groups, then the
// advanced list; rows the window would not show are left out), looked up by name and
// with the values each one accepts.
class RegisterMap
{
public:
    explicit RegisterMap(const QJsonObject& file);

    const QVector<SensorRegister>& all() const { return registers; }
    // "module:regname", or a bare register name that only one module has. Null with a
    // reason in *error otherwise.
    const SensorRegister* find(const QString& name, QString* error) const;

    // The value a text stands for: an integer within min..max, 0/1 (or true/false, on/off)
    // for a bool, a choice's value or text for an enum. Null with the accepted values in
    // *error otherwise.
    static std::optional<int> parseValue(const SensorRegister& reg, const QString& text, QString* error);
    static bool accepts(const SensorRegister& reg, int value);
    // What the register accepts, for messages: "10..600", "0 or 1", "0 (Mouse), 1 (Touch)".
    static QString allowed(const SensorRegister& reg);
    // The choice's text of an enum value, empty for other types or unknown values.
    static QString choiceText(const SensorRegister& reg, int value);

private:
    void add(const QJsonObject& parameter);

    QVector<SensorRegister> registers;
};
