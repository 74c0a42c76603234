// A 64 KiB image through the whole flashing sequence (erase the application area page by
// page, write and read back in 32-byte blocks, start the application) against the
// simulated bootloader with 1 ms latency per report, both fixed waits set to 0. The
// application area is exactly 64 KiB (69632-byte flash, 4 KiB bootloader, 512-byte pages).
//
// Figures per run: the sequence's time from updateFromFile() to updateFinished(true) on
// the GUI thread; the protocol's limit (every report, request or reply, one 1 ms frame,
// which the simulated device enforces); and a bare loop of the same requests and reply
// reads through hid_write/hid_read_timeout against a fresh device with the same latency.
// It reads sensors/supported.json beside it.
//
//   bench_flash [--runs 3] [--latency-us 1000] [--image-kib 64]
#include "benchsupport.h"

#include "device/datafile.h"
#include "device/tessaro.h"
#include "sim/simbootloader.h"
#include "sim/simbus.h"
#include "update/bootloader.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <hidapi/hidapi.h>

#include <cstring>
#include <memory>

namespace {

using bench::Clock;
using sim::SimBootloader;

sim::FlashGeometry benchGeometry()
{
    sim::FlashGeometry geometry;
    geometry.flashSize = 69632;
    geometry.pageSize = 512;
    geometry.pageCount = 136;
    geometry.bootloaderSize = 4096;
    return geometry;
}

std::shared_ptr<SimBootloader> plugLoader(std::chrono::microseconds latency)
{
    sim::SimBus::instance().reset();
    auto loader = std::make_shared<SimBootloader>(benchGeometry());
    // The application's return is of no interest here: keep it out of the measured time.
    loader->setRestartDelay(std::chrono::milliseconds(60000));
    loader->setLatency(latency);
    sim::SimBus::instance().plug(loader);
    return loader;
}

struct SequenceRun {
    bool ok = false;
    double ms = 0;
    long long requests = 0;
    long long replies = 0;
    int statusLines = 0;
    int progressSignals = 0;
};

SequenceRun runSequence(const QString& imagePath, std::chrono::microseconds latency)
{
    SequenceRun result;
    auto loader = plugLoader(latency);
    tessaro connection;
    connection.SetHotPlugTimerState(false);
    connection.hotplugWorker();
    if (!connection.isConnected || connection.deviceType != QLatin1String(TessaroLink::TypeBootloader)) {
        std::fprintf(stderr, "bench_flash: the simulated bootloader was not connected (no catalogue beside the program)\n");
        return result;
    }
    {
        QSharedPointer<bootloader> boot = bootloader::create(&connection);
        boot->setSettleTimeMs(0);
        // As the flashing view wires it.
        QObject::connect(boot.data(), &bootloader::hotplugtimer, &connection, &tessaro::SetHotPlugTimerState);
        QObject::connect(boot.data(), &bootloader::status, &connection, [&] { ++result.statusLines; });
        QObject::connect(boot.data(), &bootloader::eraseflashStatus, &connection, [&] { ++result.progressSignals; });
        if (!boot->getinfo() || boot->pageSize != 512) {
            std::fprintf(stderr, "bench_flash: geometry not read\n");
            return result;
        }
        loader->clearLog();
        QEventLoop loop;
        bool finishedOk = false;
        QObject::connect(boot.data(), &bootloader::updateFinished, &loop, [&](bool ok) {
            finishedOk = ok;
            loop.quit();
        });
        QTimer::singleShot(120000, &loop, &QEventLoop::quit);
        const auto start = Clock::now();
        boot->updateFromFile(imagePath);
        loop.exec();
        result.ms = bench::microseconds(Clock::now() - start) / 1000.0;
        result.ok = finishedOk;
        // Let the status lines still queued arrive before the object goes.
        QCoreApplication::processEvents();
        connection.SetHotPlugTimerState(false);
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    result.requests = static_cast<long long>(loader->receivedReports().size());
    // Every request but RUN_APPLICATION is answered by one reply report.
    result.replies = result.requests - loader->requestCount(SimBootloader::RunApplication);
    connection.disconnectDevice();
    return result;
}

// The same requests and reply reads with nothing around them.
double bareSequence(const QByteArray& image, std::chrono::microseconds latency, bool* ok)
{
    auto loader = plugLoader(latency);
    hid_device* handle = hid_open_path(loader->info().path.c_str());
    if (!handle) {
        *ok = false;
        return 0;
    }
    const sim::FlashGeometry geometry = benchGeometry();
    const quint32 area = geometry.applicationSize();
    // A whole report, as the bootloader class writes it.
    unsigned char request[TessaroLink::ReportBufferSize];
    unsigned char reply[BootloaderLink::ReplySize];
    auto exchange = [&](unsigned char command, quint32 address, const char* data, bool answered) {
        std::memset(request, 0, sizeof request);
        request[1] = command;
        request[2] = static_cast<unsigned char>(address >> 16);
        request[3] = static_cast<unsigned char>(address >> 8);
        request[4] = static_cast<unsigned char>(address);
        if (data)
            std::memcpy(request + 5, data, BootloaderLink::BlockSize);
        if (hid_write(handle, request, sizeof request) < 0)
            *ok = false;
        else if (answered
                 && (hid_read_timeout(handle, reply, sizeof reply, BootloaderLink::ReplyTimeoutMs) <= 0 || reply[0] != 1))
            *ok = false;
    };
    const auto start = Clock::now();
    for (quint32 address = 0; address < area; address += geometry.pageSize)
        exchange(BootloaderLink::ERASE_PAGE, address, nullptr, true);
    for (int address = 0; address < image.size(); address += BootloaderLink::BlockSize)
        exchange(BootloaderLink::WRITE_BLOCK, static_cast<quint32>(address), image.constData() + address, true);
    for (int address = 0; address < image.size(); address += BootloaderLink::BlockSize) {
        exchange(BootloaderLink::READ_BLOCK, static_cast<quint32>(address), nullptr, true);
        if (std::memcmp(reply + 4, image.constData() + address, BootloaderLink::BlockSize) != 0)
            *ok = false;
    }
    exchange(BootloaderLink::RUN_APPLICATION, 0, nullptr, false);
    const double ms = bench::microseconds(Clock::now() - start) / 1000.0;
    hid_close(handle);
    return ms;
}

} // namespace

int main(int argc, char* argv[])
{
    bench::quietDebug();
    QCoreApplication application(argc, argv);
    DataFile::useProgramFolder();
    const int runs = bench::intArg(argc, argv, "--runs", 3);
    const std::chrono::microseconds latency(bench::intArg(argc, argv, "--latency-us", 1000));
    const int imageKib = bench::intArg(argc, argv, "--image-kib", 64);

    QTemporaryDir folder;
    const QString imagePath = folder.filePath(QStringLiteral("bench.0002.bin"));
    const std::vector<std::uint8_t> bytes = sim::makeFirmwareImage(static_cast<std::size_t>(imageKib) * 1024, "SW 2.5");
    const QByteArray image(reinterpret_cast<const char*>(bytes.data()), static_cast<int>(bytes.size()));
    {
        QFile file(imagePath);
        if (!file.open(QIODevice::WriteOnly) || file.write(image) != image.size()) {
            std::fprintf(stderr, "bench_flash: cannot write the image\n");
            return 1;
        }
    }

    bool ok = true;
    std::vector<double> sequenceMs, bareMs, fractions, bareFractions, ratios;
    SequenceRun last;
    for (int run = 0; run < runs; ++run) {
        last = runSequence(imagePath, latency);
        ok = ok && last.ok;
        const double bare = bareSequence(image, latency, &ok);
        const double frame = static_cast<double>(latency.count()) / 1000.0;
        const double limitMs = static_cast<double>(last.requests + last.replies) * frame;
        sequenceMs.push_back(last.ms);
        bareMs.push_back(bare);
        fractions.push_back(limitMs / last.ms);
        bareFractions.push_back(limitMs / bare);
        ratios.push_back(last.ms / bare);
    }
    const double frame = static_cast<double>(latency.count()) / 1000.0;
    bench::JsonLine()
        .add("bench", "flash")
        .add("ok", ok)
        .add("runs", runs)
        .add("image_bytes", static_cast<int>(image.size()))
        .add("latency_ms", frame)
        .add("requests", last.requests)
        .add("replies", last.replies)
        .add("status_lines", last.statusLines)
        .add("progress_signals", last.progressSignals)
        .add("sequence_ms", bench::median(sequenceMs))
        .add("bare_ms", bench::median(bareMs))
        .add("limit_ms", static_cast<double>(last.requests + last.replies) * frame)
        .add("fraction_of_limit", bench::median(fractions))
        .add("bare_fraction_of_limit", bench::median(bareFractions))
        .add("ratio_to_bare", bench::median(ratios))
        .print();
    sim::SimBus::instance().reset();
    return ok ? 0 : 1;
}
