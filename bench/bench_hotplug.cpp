// One hot-plug tick of tessaro with no device attached, against the real hidapi (hidraw).
// Constructs the connection, stops its timer and calls hotplugWorker() --ticks times;
// --mode bare instead runs only the enumeration a tick makes: one hid_enumerate(0, 0) of
// every HID interface and its hid_free_enumeration.
//
// Under valgrind --tool=callgrind --instr-atstart=no only the ticks are instrumented
// (CALLGRIND_START/STOP_INSTRUMENTATION around the loop); natively the program prints
// the time of a tick. It reads sensors/supported.json beside it.
//
//   bench_hotplug [--mode tick|bare] [--ticks 200] [--runs 5]
#include "benchsupport.h"

#include "device/datafile.h"
#include "device/tessaro.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <hidapi/hidapi.h>

#if __has_include(<valgrind/callgrind.h>)
#include <valgrind/callgrind.h>
#define BENCH_START_INSTRUMENTATION() CALLGRIND_START_INSTRUMENTATION
#define BENCH_STOP_INSTRUMENTATION() CALLGRIND_STOP_INSTRUMENTATION
#define BENCH_ON_VALGRIND() (RUNNING_ON_VALGRIND != 0)
#define BENCH_HAVE_CALLGRIND 1
#else
#define BENCH_START_INSTRUMENTATION()
#define BENCH_STOP_INSTRUMENTATION()
#define BENCH_ON_VALGRIND() false
#define BENCH_HAVE_CALLGRIND 0
#endif

#include <vector>

namespace {

using bench::Clock;

std::vector<std::pair<unsigned short, unsigned short>> cataloguePairs()
{
    std::vector<std::pair<unsigned short, unsigned short>> pairs;
    QFile file(QString::fromLatin1(TessaroLink::CataloguePath));
    if (!file.open(QIODevice::ReadOnly))
        return pairs;
    const QJsonArray list = QJsonDocument::fromJson(file.readAll()).object().value(QLatin1String("devlist")).toArray();
    for (const QJsonValue& value : list) {
        const QJsonObject entry = value.toObject();
        pairs.emplace_back(static_cast<unsigned short>(entry.value(QLatin1String("vendorId")).toString().toUInt(nullptr, 16)),
                           static_cast<unsigned short>(entry.value(QLatin1String("productId")).toString().toUInt(nullptr, 16)));
    }
    return pairs;
}

} // namespace

int main(int argc, char* argv[])
{
    bench::quietDebug();
    QCoreApplication application(argc, argv);
    DataFile::useProgramFolder();
    const std::string mode = bench::stringArg(argc, argv, "--mode", "tick");
    const int ticks = bench::intArg(argc, argv, "--ticks", 200);
    const bool underValgrind = BENCH_ON_VALGRIND();
    const int runs = underValgrind ? 1 : bench::intArg(argc, argv, "--runs", 5);
    const bool bare = mode == "bare";

    tessaro connection;
    connection.SetHotPlugTimerState(false);
    const auto pairs = cataloguePairs();
    if (pairs.empty()) {
        std::fprintf(stderr, "bench_hotplug: no catalogue (no catalogue beside the program)\n");
        return 1;
    }

    auto tick = [&] {
        if (bare)
            hid_free_enumeration(hid_enumerate(0, 0));
        else
            connection.hotplugWorker();
    };

    tick();  // warm-up: first reads, first udev context
    std::vector<double> medians;
    for (int run = 0; run < runs; ++run) {
        std::vector<double> samples;
        samples.reserve(static_cast<std::size_t>(ticks));
        BENCH_START_INSTRUMENTATION();
        for (int i = 0; i < ticks; ++i) {
            const auto start = Clock::now();
            tick();
            samples.push_back(bench::microseconds(Clock::now() - start));
        }
        BENCH_STOP_INSTRUMENTATION();
        medians.push_back(bench::median(samples));
    }

    bench::JsonLine()
        .add("bench", "hotplug")
        .add("mode", mode.c_str())
        .add("ticks", ticks)
        .add("runs", runs)
        .add("callgrind_header", BENCH_HAVE_CALLGRIND == 1)
        .add("under_valgrind", underValgrind)
        .add("connected", connection.isConnected.load())
        .add("catalogue_pairs", static_cast<int>(pairs.size()))
        .add("tick_us", bench::median(medians))
        .print();
    return connection.isConnected ? 1 : 0;
}
