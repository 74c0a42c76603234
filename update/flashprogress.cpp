#include "flashprogress.h"

#include <QtGlobal>

namespace {
constexpr int PercentWhole = 100;
constexpr qint64 MsPerSecond = 1000;
// Below this share of a pass its own pace says little yet.
constexpr double PaceFromFraction = 0.05;

qint64 blocksOf(qint64 bytes)
{
    return (qMax<qint64>(bytes, 0) + BootloaderLink::BlockSize - 1) / BootloaderLink::BlockSize;
}
}

FlashProgress::FlashProgress(QVector<Step> runSteps)
    : steps(std::move(runSteps))
{
    for (const Step& step : qAsConst(steps))
        totalMs += step.expectedMs;
}

FlashProgress FlashProgress::update(int waitMs, qint64 erasePages, qint64 imageBytes)
{
    const qint64 wait = qMax(waitMs, 0);
    return FlashProgress({{bootloader::Settling, wait},
                          {bootloader::Erasing, qMax<qint64>(erasePages, 0) * ErasePageMs},
                          {bootloader::Writing, blocksOf(imageBytes) * WriteBlockMs},
                          {bootloader::Verifying, blocksOf(imageBytes) * VerifyBlockMs},
                          {bootloader::Starting, wait}});
}

void FlashProgress::phaseChanged(bootloader::Phase phase, int secondsLeft, qint64 nowMs)
{
    lastMs = nowMs;
    if (phase == bootloader::Done) {
        finished = true;
        ended = true;
        current = steps.size();
    } else if (phase == bootloader::Failed || phase == bootloader::NotStarted) {
        ended = true;
    }
    for (int i = qMax(current, 0); i < steps.size(); ++i) {
        if (steps.at(i).phase != phase)
            continue;
        if (i != current) {
            current = i;
            currentPercent = 0;
            stepStartMs = nowMs;
        }
        waitSecondsLeft = qMax(secondsLeft, 0);
        break;
    }
    update();
}

void FlashProgress::passProgress(int percent, qint64 nowMs)
{
    lastMs = nowMs;
    currentPercent = qBound(0, percent, PercentWhole);
    update();
}

double FlashProgress::stepFraction() const
{
    if (current < 0 || current >= steps.size())
        return 0;
    const Step& step = steps.at(current);
    if (bootloader::passNumber(step.phase) > 0)
        return currentPercent / double(PercentWhole);
    if (step.expectedMs <= 0)
        return 1;
    return qBound(0.0, 1.0 - double(waitSecondsLeft * MsPerSecond) / double(step.expectedMs), 1.0);
}

qint64 FlashProgress::stepMsLeft() const
{
    const Step& step = steps.at(current);
    if (bootloader::passNumber(step.phase) == 0)
        return qMin(waitSecondsLeft * MsPerSecond, step.expectedMs);
    const double fraction = stepFraction();
    const qint64 spent = lastMs - stepStartMs;
    if (fraction >= PaceFromFraction && spent > 0)
        return qRound64(double(spent) * (1.0 - fraction) / fraction);
    return qRound64(double(step.expectedMs) * (1.0 - fraction));
}

void FlashProgress::update()
{
    if (finished) {
        shown = PercentWhole;
        return;
    }
    if (current < 0 || totalMs <= 0)
        return;
    qint64 doneMs = 0;
    for (int i = 0; i < current; ++i)
        doneMs += steps.at(i).expectedMs;
    const double done = double(doneMs) + stepFraction() * double(steps.at(current).expectedMs);
    // 100 belongs to the finished run alone.
    const int percent = qMin(int(done * PercentWhole / double(totalMs)), PercentWhole - 1);
    shown = qMax(shown, percent);
}

int FlashProgress::secondsLeft() const
{
    if (finished)
        return 0;
    if (ended)
        return -1;
    qint64 leftMs = 0;
    for (int i = qMax(current, 0); i < steps.size(); ++i)
        leftMs += i == current ? stepMsLeft() : steps.at(i).expectedMs;
    return int((leftMs + MsPerSecond - 1) / MsPerSecond);
}
