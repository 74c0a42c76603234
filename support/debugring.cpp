#include "debugring.h"

#include <QElapsedTimer>

#include <cstdio>
#include <deque>
#include <mutex>
#include <utility>

namespace {

// Never destroyed: messages may still come while static objects go at the program's end.
struct Ring {
    std::mutex mutex;
    std::deque<std::pair<qint64, QString>> lines;  // milliseconds since start, line
    qint64 bytes = 0;
};
Ring& ring()
{
    static Ring* kept = new Ring;
    return *kept;
}
QtMessageHandler previous = nullptr;

QElapsedTimer& ringClock()
{
    static QElapsedTimer timer;  // trivially destructible
    if (!timer.isValid())
        timer.start();
    return timer;
}

void dropOldLocked(qint64 now)
{
    const qint64 oldest = now - qint64(DebugRing::KeptMinutes) * 60 * 1000;
    Ring& kept = ring();
    while (!kept.lines.empty() && (kept.lines.front().first < oldest || kept.bytes > DebugRing::MaxBytes)) {
        kept.bytes -= kept.lines.front().second.size() * 2;
        kept.lines.pop_front();
    }
}

void keep(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    const QString line = qFormatLogMessage(type, context, text);
    {
        std::lock_guard<std::mutex> guard(ring().mutex);
        const qint64 now = ringClock().elapsed();
        ring().lines.emplace_back(now, line);
        ring().bytes += line.size() * 2;
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
    std::lock_guard<std::mutex> guard(ring().mutex);
    dropOldLocked(ringClock().elapsed());
    QStringList all;
    for (const auto& entry : ring().lines)
        all << entry.second;
    return all;
}
