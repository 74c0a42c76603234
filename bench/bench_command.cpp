// Round trip of one text command through tessaro::sendCommand against the simulated sensor
// answering at once, beside a bare loop of hid_write and hid_read_timeout on the same
// device and handle. It reads sensors/supported.json beside it.
//
//   bench_command [--runs 7] [--ops 2000] [--command app:id;]
//
// Prints one JSON line: per-exchange medians of the runs in microseconds, their ratio,
// and the 99th percentile of the batch means over all runs. The same sendCommand loop runs
// once more in each run with the HID recorder writing a trace into a temporary folder,
// beside a loop with it off: their ratio is the cost of recording.
#include "benchsupport.h"

#include "device/datafile.h"
#include "device/tessaro.h"
#include "trace/hidrecorder.h"
#include "sim/simbus.h"
#include "sim/simsensor.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <hidapi/hidapi.h>

#include <algorithm>
#include <cstring>
#include <memory>

namespace {

using bench::Clock;

// Exchanges are timed in batches of Batch, so the clock's own cost (tens of nanoseconds)
// stays out of figures that are well under a microsecond; a run's figure is the median of
// its batch means, which also keeps the odd preemption by other work out.
constexpr int Batch = 16;
// The recording figure with USB timing: a high-speed frame, and fewer exchanges (each
// takes two frames).
constexpr int UsbFrameUs = 125;
constexpr int UsbOpsDivisor = 40;

template <typename Exchange>
std::vector<double> timeRun(int ops, Exchange&& exchange, bool* allOk)
{
    std::vector<double> batchMeans;
    batchMeans.reserve(static_cast<std::size_t>(ops / Batch + 1));
    for (int done = 0; done < ops; done += Batch) {
        bool ok = true;
        const auto start = Clock::now();
        for (int i = 0; i < Batch; ++i)
            ok = exchange() && ok;
        const auto end = Clock::now();
        if (!ok)
            *allOk = false;
        batchMeans.push_back(bench::microseconds(end - start) / Batch);
    }
    return batchMeans;
}

} // namespace

int main(int argc, char* argv[])
{
    bench::quietDebug();
    QCoreApplication application(argc, argv);
    DataFile::useProgramFolder();
    const int runs = bench::intArg(argc, argv, "--runs", 7);
    const int ops = bench::intArg(argc, argv, "--ops", 2000);
    const std::string command = bench::stringArg(argc, argv, "--command", "app:id;");

    auto sensor = std::make_shared<sim::SimSensor>();
    sim::SimBus::instance().plug(sensor);

    tessaro connection;
    connection.SetHotPlugTimerState(false);
    connection.hotplugWorker();
    if (!connection.isConnected) {
        std::fprintf(stderr, "bench_command: the simulated sensor was not connected (no catalogue beside the program)\n");
        return 1;
    }
    hid_device* handle = connection.handle;

    unsigned char reply[TessaroLink::ReportBufferSize];
    // What the channel writes: report ID 0, then the command and zeros, a whole report.
    unsigned char report[TessaroLink::ReportBufferSize] = {};
    std::memcpy(report + 1, command.data(), command.size());
    const size_t reportLength = sizeof report;

    auto bare = [&] {
        if (hid_write(handle, report, reportLength) < 0)
            return false;
        const int n = hid_read_timeout(handle, reply, TessaroLink::ReportSize, TessaroLink::CommandTimeoutMs);
        return n > 0;
    };
    auto channel = [&] { return connection.sendCommand(command.c_str(), reply) && reply[0] != 0; };

    bool ok = true;
    timeRun(ops / 10, bare, &ok);
    timeRun(ops / 10, channel, &ok);

    std::vector<double> bareMedians, channelMedians, bareAll, channelAll;
    for (int run = 0; run < runs; ++run) {
        // Alternate the order so that neither side always runs on a warmer cache.
        std::vector<double> b, c;
        if (run % 2 == 0) {
            b = timeRun(ops, bare, &ok);
            c = timeRun(ops, channel, &ok);
        } else {
            c = timeRun(ops, channel, &ok);
            b = timeRun(ops, bare, &ok);
        }
        bareMedians.push_back(bench::median(b));
        channelMedians.push_back(bench::median(c));
        bareAll.insert(bareAll.end(), b.begin(), b.end());
        channelAll.insert(channelAll.end(), c.begin(), c.end());
    }
    std::vector<double> ratios;
    for (std::size_t i = 0; i < bareMedians.size(); ++i)
        ratios.push_back(channelMedians[i] / bareMedians[i]);

    // Recording on against off, each run's pair back to back, alternating which goes first.
    QTemporaryDir traceDir;
    const QString tracePath = traceDir.filePath(QStringLiteral("bench.trace"));
    auto recorded = [&](int count) {
        QString error;
        if (!HidRecorder::start(tracePath, {QStringLiteral("bench_command"), QString(), QByteArray()}, &error)) {
            ok = false;
            return std::vector<double>{};
        }
        std::vector<double> times = timeRun(count, channel, &ok);
        HidRecorder::stop();
        return times;
    };
    std::vector<double> offMedians, onMedians, recordingRatios;
    const auto compareRecording = [&](int count, std::vector<double>* ratiosOut) {
        for (int run = 0; run < runs; ++run) {
            std::vector<double> off, on;
            if (run % 2 == 0) {
                off = timeRun(count, channel, &ok);
                on = recorded(count);
            } else {
                on = recorded(count);
                off = timeRun(count, channel, &ok);
            }
            if (on.empty())
                return;
            offMedians.push_back(bench::median(off));
            onMedians.push_back(bench::median(on));
            ratiosOut->push_back(onMedians.back() / offMedians.back());
        }
    };
    compareRecording(ops, &recordingRatios);
    const double offUs = offMedians.empty() ? 0.0 : bench::median(offMedians);
    const double onUs = onMedians.empty() ? 0.0 : bench::median(onMedians);
    // The same with USB timing (high-speed frames of 125 us), as a real link answers.
    std::vector<double> usbRatios;
    sensor->setLatency(std::chrono::microseconds(UsbFrameUs));
    compareRecording(std::max(Batch, ops / UsbOpsDivisor), &usbRatios);
    sensor->setLatency(std::chrono::microseconds(0));

    const double baseline = bench::median(bareMedians);
    const double subject = bench::median(channelMedians);
    bench::JsonLine()
        .add("bench", "command")
        .add("ok", ok && connection.isConnected)
        .add("runs", runs)
        .add("ops", ops)
        .add("sendcommand_us", subject)
        .add("sendcommand_p99_batch_us", bench::percentile(channelAll, 99))
        .add("bare_us", baseline)
        .add("bare_p99_batch_us", bench::percentile(bareAll, 99))
        .add("ratio", subject / baseline)
        .add("ratio_median_of_runs", bench::median(ratios))
        .add("recording_off_us", offUs)
        .add("recording_on_us", onUs)
        .add("recording_ratio_median_of_runs", recordingRatios.empty() ? 0.0 : bench::median(recordingRatios))
        .add("recording_ratio_usb_median_of_runs", usbRatios.empty() ? 0.0 : bench::median(usbRatios))
        .print();
    connection.disconnectDevice();
    sim::SimBus::instance().reset();
    return ok ? 0 : 1;
}
