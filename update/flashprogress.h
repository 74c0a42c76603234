#pragma once

#include "bootloader.h"

#include <QVector>

// The progress of a whole flashing run, for one bar and a time left: the wait before
// erasing, the erase, write and verify passes and the wait after starting the firmware,
// each weighted by the time it is expected to take. The expected times of the passes come
// from the number of requests each sends; once a pass has run a while, its own pace
// replaces the estimate for the rest of it. Fed with the bootloader's phase and pass
// progress and the milliseconds since the run began; reaches 100 only when the run is done.
class FlashProgress
{
public:
    // Expected time of one request on a full-speed USB link, erase taking the flash longest.
    static constexpr int ErasePageMs = 20;
    static constexpr int WriteBlockMs = 4;
    static constexpr int VerifyBlockMs = 3;

    // A re-flash: waitMs for each wait, pages to erase, bytes of the image.
    static FlashProgress update(int waitMs, qint64 erasePages, qint64 imageBytes);

    void phaseChanged(bootloader::Phase phase, int secondsLeft, qint64 nowMs);
    void passProgress(int percent, qint64 nowMs);

    // 0 to 100, never going back.
    int percent() const { return shown; }
    // Whole seconds left (rounded up); -1 when the run has stopped short of its end.
    int secondsLeft() const;

private:
    struct Step {
        bootloader::Phase phase;
        qint64 expectedMs;
    };
    explicit FlashProgress(QVector<Step> steps);
    // The step's done part, 0 to 1.
    double stepFraction() const;
    qint64 stepMsLeft() const;
    void update();

    QVector<Step> steps;
    qint64 totalMs = 0;
    int current = -1;
    int currentPercent = 0;
    int waitSecondsLeft = 0;
    qint64 stepStartMs = 0;
    qint64 lastMs = 0;
    bool ended = false;
    bool finished = false;
    int shown = 0;
};
