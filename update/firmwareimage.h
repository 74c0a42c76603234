#pragma once

#include <QString>

// What an image file says about itself before it is flashed: the firmware version text it
// carries ("SW 2.5", ended by a 0x00 or 0xFF byte within its first kilobytes), shown to
// the user before anything is erased. Empty when the file names none or cannot be read.
class FirmwareImage
{
public:
    // How much of the file is searched for the version text.
    static constexpr int SearchBytes = 4096;

    static QString namedFirmware(const QString& path);
};
