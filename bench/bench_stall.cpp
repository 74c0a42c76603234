// Longest stall of the GUI event loop over a stretch of seconds, with the real main window
// and the simulated sensor, in three cases:
//   answering : a sensor connected and polled as usual (the baseline);
//   mute-new  : a sensor that never answers is plugged in, so the hot-plug search keeps
//               meeting it (version check);
//   mute-open : a connected sensor stops answering while its view polls it.
// A 1 ms timer measures the loop: its longest gap is the longest time the window could not
// repaint or react. Data files beside the program; TESSARO_SERVICE_URL
// pointing at an unused 127.0.0.1 port.
//
//   bench_stall --mode answering|mute-new|mute-open [--seconds 3]
#include "benchsupport.h"

#include "app/view_main.h"
#include "device/datafile.h"
#include "device/tessaro.h"
#include "sim/simbus.h"
#include "sim/simsensor.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <memory>

int main(int argc, char* argv[])
{
    bench::headlessWindows();
    QApplication application(argc, argv);
    DataFile::useProgramFolder();
    const std::string mode = bench::stringArg(argc, argv, "--mode", "answering");
    const int seconds = bench::intArg(argc, argv, "--seconds", 3);

    auto sensor = std::make_shared<sim::SimSensor>();
    if (mode == "mute-new")
        sensor->setPersistentFault(sim::Fault::NoReply);
    sim::SimBus::instance().plug(sensor);

    bool ok = true;
    double longestMs = 0;
    {
        viewMain window;
        window.show();
        if (mode != "mute-new" && !window.device->isConnected) {
            std::fprintf(stderr, "bench_stall: the simulated sensor was not connected (no catalogue beside the program)\n");
            return 1;
        }
        if (mode == "mute-open")
            sensor->setPersistentFault(sim::Fault::NoReply);

        QElapsedTimer sinceLast;
        QTimer probe;
        probe.setInterval(1);
        QObject::connect(&probe, &QTimer::timeout, &probe, [&] {
            longestMs = std::max(longestMs, sinceLast.nsecsElapsed() / 1e6);
            sinceLast.restart();
        });
        // Settled first: start-up and the first view's build are not what is measured.
        QTimer::singleShot(500, &probe, [&] {
            sinceLast.start();
            probe.start();
        });
        QTimer::singleShot(500 + seconds * 1000, &application, &QCoreApplication::quit);
        QCoreApplication::exec();
        ok = window.device->isConnected.load() == (mode != "mute-new");
    }
    bench::JsonLine().add("bench", "stall").add("mode", mode.c_str()).add("ok", ok).add("longest_ms", longestMs).print();
    sim::SimBus::instance().reset();
    return ok ? 0 : 1;
}
