#pragma once

#include <QStringList>

// The last minutes of the program's debug stream, kept in memory for the support report
// whether or not the lines are shown anywhere. Installed once at start; every message then
// also goes to the handler that was installed before.
class DebugRing
{
public:
    static constexpr int KeptMinutes = 10;
    static constexpr int MaxBytes = 1024 * 1024;

    static void install();
    // Oldest first, each as the log format writes it.
    static QStringList lines();
};
