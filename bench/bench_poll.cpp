// GUI-thread time of one view_tessaro::dataPollWorker() against the simulated sensor
// answering at once, the view shown (offscreen) as in the program. Ticks that emitted
// updateCalPoints are corner-read ticks (every eleventh), the others plain ticks. The
// baseline runs the same commands as bare hid_write/hid_read_timeout exchanges on the
// same handle: 4 for a plain tick, 12 for a corner-read tick.
// Run with TESSARO_SERVICE_URL pointing at an unused 127.0.0.1 port.
//
//   bench_poll [--runs 5] [--ticks 440]
#include "benchsupport.h"

#include "device/datafile.h"
#include "device/tessaro.h"
#include "sensor/view_tessaro.h"
#include "sim/simbus.h"
#include "sim/simsensor.h"

#include <QApplication>
#include <QTimer>

#include <hidapi/hidapi.h>

#include <cstring>
#include <memory>

namespace {

using bench::Clock;

const char* const PlainCommands[] = {"sens:point;", "pen:state;", "pen:id;", "cal:state;"};
const char* const CornerCommands[] = {"cal:read:x1;", "cal:read:y1;", "cal:read:x2;", "cal:read:y2;",
                                      "cal:read:x3;", "cal:read:y3;", "cal:read:x4;", "cal:read:y4;"};

bool bareExchange(hid_device* handle, const char* command)
{
    unsigned char report[TessaroLink::ReportBufferSize] = {};
    unsigned char reply[TessaroLink::ReportBufferSize];
    const size_t length = std::strlen(command);
    std::memcpy(report + 1, command, length);
    if (hid_write(handle, report, sizeof report) < 0)
        return false;
    return hid_read_timeout(handle, reply, TessaroLink::ReportSize, TessaroLink::CommandTimeoutMs) > 0;
}

bool bareTick(hid_device* handle, bool corners)
{
    bool ok = true;
    for (const char* command : PlainCommands)
        ok = bareExchange(handle, command) && ok;
    if (corners) {
        for (const char* command : CornerCommands)
            ok = bareExchange(handle, command) && ok;
    }
    return ok;
}

} // namespace

int main(int argc, char* argv[])
{
    bench::headlessWindows();
    QApplication application(argc, argv);
    DataFile::useProgramFolder();
    const int runs = bench::intArg(argc, argv, "--runs", 5);
    const int ticksPerRun = bench::intArg(argc, argv, "--ticks", 440);

    auto sensor = std::make_shared<sim::SimSensor>();
    sim::SimBus::instance().plug(sensor);

    tessaro connection;
    connection.SetHotPlugTimerState(false);
    connection.hotplugWorker();
    if (!connection.isConnected || connection.deviceType != QLatin1String(TessaroLink::TypeSensor)) {
        std::fprintf(stderr, "bench_poll: the simulated sensor was not connected (no catalogue beside the program)\n");
        return 1;
    }

    auto* view = new view_tessaro(nullptr, &connection);
    view->pollTimer->stop();
    view->reloadUi();
    view->resize(700, 400);
    view->show();
    QCoreApplication::processEvents();

    int cornerEmissions = 0;
    QObject::connect(view, &view_tessaro::updateCalPoints, view, [&] { ++cornerEmissions; });

    std::vector<double> plain, corner, barePlain, bareCorner;
    std::vector<double> plainMedians, bareMedians;
    bool ok = true;
    // Warm-up: two corner-read periods.
    for (int i = 0; i < 22; ++i) {
        view->dataPollWorker();
        QCoreApplication::processEvents();
    }
    for (int run = 0; run < runs; ++run) {
        std::vector<double> runPlain, runBare;
        for (int i = 0; i < ticksPerRun; ++i) {
            // Paints, layout requests and the like run between ticks, as in the event loop.
            QCoreApplication::processEvents();
            const int before = cornerEmissions;
            const auto start = Clock::now();
            view->dataPollWorker();
            const double us = bench::microseconds(Clock::now() - start);
            if (cornerEmissions != before)
                corner.push_back(us);
            else
                runPlain.push_back(us);
        }
        // The same exchanges bare: as many plain and corner-read ticks as the view made.
        const int cornerTicks = ticksPerRun / 11;
        for (int i = 0; i < ticksPerRun; ++i) {
            const bool withCorners = i % 11 == 10 && i / 11 < cornerTicks;
            const auto start = Clock::now();
            ok = bareTick(connection.handle, withCorners) && ok;
            const double us = bench::microseconds(Clock::now() - start);
            (withCorners ? bareCorner : runBare).push_back(us);
        }
        plainMedians.push_back(bench::median(runPlain));
        bareMedians.push_back(bench::median(runBare));
        plain.insert(plain.end(), runPlain.begin(), runPlain.end());
        barePlain.insert(barePlain.end(), runBare.begin(), runBare.end());
    }
    ok = ok && connection.isConnected;

    const double plainMedian = bench::median(plainMedians);
    const double bareMedian = bench::median(bareMedians);
    const double cornerMedian = bench::median(corner);
    const double bareCornerMedian = bench::median(bareCorner);
    bench::JsonLine()
        .add("bench", "poll")
        .add("ok", ok)
        .add("runs", runs)
        .add("plain_ticks", static_cast<int>(plain.size()))
        .add("corner_ticks", static_cast<int>(corner.size()))
        .add("plain_median_us", plainMedian)
        .add("plain_p99_us", bench::percentile(plain, 99))
        .add("corner_median_us", cornerMedian)
        .add("corner_p99_us", bench::percentile(corner, 99))
        .add("bare_plain_median_us", bareMedian)
        .add("bare_plain_p99_us", bench::percentile(barePlain, 99))
        .add("bare_corner_median_us", bareCornerMedian)
        .add("bare_corner_p99_us", bench::percentile(bareCorner, 99))
        .add("plain_ratio", plainMedian / bareMedian)
        .add("corner_ratio", cornerMedian / bareCornerMedian)
        .print();

    delete view;
    connection.disconnectDevice();
    sim::SimBus::instance().reset();
    return ok ? 0 : 1;
}
