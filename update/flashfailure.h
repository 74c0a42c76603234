#pragma once

#include <QStringList>

// Where a failed flashing run stopped and why, read from its status lines (the
// bootloader's own, unchanged), for a summary in plain words.
class FlashFailure
{
public:
    enum Cause {
        LinkLost,  // a request could not be written or its reply did not come
        Refused,   // the bootloader answered a request with a failure
        Mismatch,  // what was written did not read back the same
    };

    // lines: the run's status lines, from its first.
    static FlashFailure read(const QStringList& lines);

    // The pass the run stopped in, 1 to 3 (erase, write, verify); 0 before the first.
    int pass = 0;
    // Bytes of the pass done before the request that failed: of the application area
    // while erasing, of the image while writing or verifying.
    qint64 bytesDone = 0;
    Cause cause = Refused;
    // A request could not be written. In the erase pass at its first page: the firmware
    // was never touched.
    bool requestLost = false;
    bool nothingErased() const { return pass == 1 && bytesDone == 0 && requestLost; }
};
