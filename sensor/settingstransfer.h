#pragma once

class QWidget;
class tessaro;

// File → "Save sensor settings…" and "Load sensor settings…": the connected sensor's
// registers to a file and back, in the same JSON and with the same checks as tessaroctl
// dump and load (SensorSettings). A load names the unit and asks before the first write,
// reads every value back and only then stores them in the sensor. Every outcome is told
// to the user; the dialogs go through AskUser.
class SettingsTransfer
{
public:
    // Each returns whether the work was done and checked.
    static bool save(QWidget* parent, tessaro* connection);
    static bool load(QWidget* parent, tessaro* connection);
};
