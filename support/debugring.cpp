#include "debugring.h"

#include <QElapsedTimer>

#include <cstdio>
#include <deque>
#include <mutex>
#include <utility>

namespace {

std::mutex ringMutex;
std::deque<std::pair<qint64, QString>> ring;  // milliseconds since start, line
qint64 ringBytes = 0;
QtMessageHandler previous = nullptr;

QElapsedTimer& ringClock()
{
    static QElapsedTimer timer;
    if (!timer.isValid())
        timer.start();
    return timer;
}

void dropOldLocked(qint64 now)
{
    const qint64 oldest = now - qint64(DebugRing::KeptMinutes) * 60 * 1000;
    while (!ring.empty() && (ring.front().first < oldest || ringBytes > DebugRing::MaxBytes)) {
        ringBytes -= ring.front().second.size() * 2;
        ring.pop_front();
    }
}

void keep(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    const QString line = qFormatLogMessage(type, context, text);
    {
        std::lock_guard<std::mutex> guard(ringMutex);
        const qint64 now = ringClock().elapsed();
        ring.emplace_back(now, line);
        ringBytes += line.size() * 2;
        dropOldLocked(now);
    }
    if (previous) {
        previous(type, context, text);
    } else {
        std::fprintf(stderr, "%s\n", line.toLocal8Bit().constData());
        if (type == QtFatalMsg)
            std::abort();
    }
}

} // namespace

void DebugRing::install()
{
    ringClock();
    previous = qInstallMessageHandler(keep);
}

QStringList DebugRing::lines()
{
    std::lock_guard<std::mutex> guard(ringMutex);
    dropOldLocked(ringClock().elapsed());
    QStringList all;
    for (const auto& entry : ring)
        all << entry.second;
    return all;
}
