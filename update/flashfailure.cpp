#include "flashfailure.h"

namespace {
// The lines that start each pass, in order, and the lines that end a pass in failure
// with the address of the request that failed.
const char* const PassStarts[] = {"Start flash erase", "Start flashing", "Start Reading"};
const char* const PassErrors[] = {"Flash erase error @ page ", "Flash write error @ page ", "Flash read error @ page "};
}

FlashFailure FlashFailure::read(const QStringList& lines)
{
    FlashFailure failure;
    for (const QString& line : lines) {
        for (int i = 0; i < 3; ++i) {
            if (line == QLatin1String(PassStarts[i]))
                failure.pass = i + 1;
            if (line.startsWith(QLatin1String(PassErrors[i])))
                failure.bytesDone = line.mid(static_cast<int>(qstrlen(PassErrors[i]))).toLongLong();
        }
        const bool notWritten = line == QLatin1String("Could not write to bootloader");
        if (notWritten || line == QLatin1String("Could not read from bootloader"))
            failure.cause = LinkLost;
        else if (line.startsWith(QLatin1String("Flash not equal @ ")) && failure.cause != LinkLost)
            failure.cause = Mismatch;
        failure.requestLost = failure.requestLost || notWritten;
    }
    return failure;
}
