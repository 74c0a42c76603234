#pragma once

#include <QJsonObject>
#include <QString>
#include <QVector>

class tessaro;

// The easy threshold of the simple tab: the sensor's operating mode ("sens:read:conf1thr;",
// 8 = manual, anything else automatic) chooses the register and the threshold table of
// the parameter file; a table position stands for its entry's value.
class tessaroEasyTable
{
public:
    static constexpr int ManualMode = 8;
    // Larger than any distance the table cares about: beyond it the first entry is chosen.
    static constexpr int FarAway = 1000;

    // Reads the mode; on success manual, registerName and table are those of the mode.
    bool readMode(tessaro* connection, const QJsonObject& file);
    // Reads the easy register's present value into current (0 when the reply has none).
    bool readCurrent(tessaro* connection);
    // Writes the entry at position to the easy register; false when there is no such entry
    // or the exchange could not be made. No commit or reset.
    bool writePosition(tessaro* connection, int position) const;

    // The entry nearest to value; ties keep the lower position.
    static int nearestIndex(const QVector<int>& table, int value);

    bool manual = false;
    QString registerName;
    QVector<int> table;
    int current = 0;
};
