// The device connection, the command channel, the data poll and the flashing sequence on
// the kernel's HID stack: the simulator's models become kernel HID devices through
// /dev/uhid, and this program reaches them with hidapi's hidraw backend, as the installed
// tool does. Needs /dev/uhid and root; scripts/hwtest runs it in a throwaway VM.
#include "testmain.h"

#include "device/hidrawwatch.h"
#include "device/tessaro.h"
#include "sensor/view_tessaro.h"
#include "sim/simbootloader.h"
#include "sim/simbus.h"
#include "sim/simsensor.h"
#include "sim/uhidtransport.h"
#include "update/bootloader.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSet>
#include <QSignalSpy>

#include <hidapi/hidapi.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <random>
#include <thread>

using namespace std::chrono_literals;
using sim::UhidTransport;

namespace {

constexpr std::uint16_t SensorPid = sim::SensorProductId;
constexpr std::uint16_t BootloaderPid = sim::BootloaderProductId;
constexpr int WholeReport = 65;  // report ID 0 and 64 data bytes
constexpr int FlashImageSize = 64 * 1024;

// An application area of exactly 64 KiB: 69632-byte flash, 4 KiB bootloader, 512-byte pages.
sim::FlashGeometry flashGeometry()
{
    sim::FlashGeometry g;
    g.flashSize = 69632;
    g.pageSize = 512;
    g.pageCount = 136;
    g.bootloaderSize = 4096;
    return g;
}

// Kernel HID devices of the test vendor that hidapi lists now.
int listed(std::uint16_t productId)
{
    hid_device_info* list = hid_enumerate(sim::TestVendorId, productId);
    int count = 0;
    for (hid_device_info* d = list; d; d = d->next)
        ++count;
    hid_free_enumeration(list);
    return count;
}

QString text(const std::vector<std::uint8_t>& output)
{
    QByteArray bytes;
    for (std::size_t i = 1; i < output.size() && output[i]; ++i)
        bytes += static_cast<char>(output[i]);
    return QString::fromLatin1(bytes);
}

QString replyText(const unsigned char* reply)
{
    return QString::fromLatin1(reinterpret_cast<const char*>(reply));
}

// Wall time of one call, in milliseconds.
template <typename F>
double timed(F&& call)
{
    QElapsedTimer clock;
    clock.start();
    call();
    return static_cast<double>(clock.nsecsElapsed()) / 1e6;
}

} // namespace

class tst_kernelhid : public QObject
{
    Q_OBJECT

    UhidTransport transport;
    std::atomic<long> frameUs{0};
    tessaro* connection = nullptr;
    std::shared_ptr<sim::SimSensor> sensor;

    std::shared_ptr<sim::SimSensor> plugSensor()
    {
        auto device = std::make_shared<sim::SimSensor>();
        sim::SimBus::instance().plug(device);
        return device;
    }

    // A connected sensor with the model's defaults: the one of the last test when it is
    // still connected (plugging in anew costs seconds in the VM), else a new one.
    bool connectedSensor()
    {
        if (sensor && sensor->plugged() && connection && connection->isConnected) {
            connection->SetHotPlugTimerState(false);
            sensor->clearFaults();
            sensor->setLatency(std::chrono::microseconds(0));
            transport.clearOutputs();
            return true;
        }
        freshBus();
        sensor = plugSensor();
        return connectByTicks();
    }

    void freshBus()
    {
        if (connection) {
            connection->disconnectDevice();
            delete connection;
            connection = nullptr;
        }
        sensor.reset();
        sim::SimBus::instance().reset();
        QTRY_COMPARE(listed(0), 0);
        transport.clearOutputs();
    }

    // A connection opened to the plugged sensor with its own ticks stopped.
    bool connectByTicks(int timeoutMs = 30000)
    {
        if (!connection)
            connection = new tessaro;
        connection->SetHotPlugTimerState(false);
        QElapsedTimer clock;
        clock.start();
        while (!connection->isConnected && clock.elapsed() < timeoutMs) {
            connection->hotplugWorker();
            QTest::qWait(20);
        }
        return connection->isConnected;
    }

    // The sensor's hidraw node in /dev once it exists there, else empty.
    static QString sensorNode()
    {
        const QString prefix = QString::asprintf("0003:%04X:%04X.", sim::TestVendorId, SensorPid);
        const QStringList names = QDir(QStringLiteral("/sys/class/hidraw")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
        for (const QString& name : names) {
            const QString parent = QFileInfo(QStringLiteral("/sys/class/hidraw/%1/device").arg(name)).canonicalFilePath();
            if (QFileInfo(parent).fileName().startsWith(prefix) && QFile::exists(QStringLiteral("/dev/") + name))
                return QStringLiteral("/dev/") + name;
        }
        return {};
    }

    std::vector<UhidTransport::Output> outputsOf(std::uint16_t productId) const
    {
        std::vector<UhidTransport::Output> chosen;
        for (const auto& output : transport.outputs()) {
            if (output.productId == productId)
                chosen.push_back(output);
        }
        return chosen;
    }

    // Every output report the device got was a whole one: report ID 0 and 64 bytes.
    void verifyWholeReports(std::uint16_t productId)
    {
        const auto outputs = outputsOf(productId);
        QVERIFY(!outputs.empty());
        for (const auto& output : outputs) {
            QVERIFY2(output.data.size() == WholeReport && output.data[0] == 0,
                     qPrintable(QStringLiteral("\"%1\" reached the device as %2 bytes")
                                    .arg(text(output.data)).arg(output.data.size())));
        }
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(QFile::exists(QStringLiteral("sensors/supported.json")), "run from the build folder");
        qputenv("TESSARO_SERVICE_URL", "http://127.0.0.1:9");
        transport.setRecordOutputs(true);
        transport.setDeviceSetup([this](sim::SimDevice& device) {
            device.setLatency(std::chrono::microseconds(frameUs.load()));
            if (auto* s = dynamic_cast<sim::SimSensor*>(&device)) {
                s->setReenumerates(true);
                s->setBootloaderGeometry(flashGeometry());
            }
        });
        std::string error;
        QVERIFY2(transport.start(&error), error.c_str());
        // Other HID devices on the bus, as on any desktop: the hot-plug search watches for
        // changes rather than scanning them every tick.
        QVERIFY2(transport.addUnrelatedDevices(2, &error), error.c_str());
    }

    void cleanupTestCase()
    {
        freshBus();
        transport.stop();
    }

    void init()
    {
        frameUs = 0;
    }

    // Plugged in while the tool runs: found at the first tick after its node appears,
    // counted in the search's own ticks (wall time under emulation depends on the host).
    // Without the /dev watch's news it would wait for the safety scan, 100 ticks later.
    void hotPlug()
    {
        freshBus();
        connection = new tessaro;
        connection->SetHotPlugTimerState(false);
        QSignalSpy connected(connection, &tessaro::connected);
        QSignalSpy connectedLoad(connection, &tessaro::connectedLoad);
        const auto tick = [this] {
            QCoreApplication::processEvents();  // the watch's news first, as between timer ticks
            connection->hotplugWorker();
        };
        // A few ticks over the unrelated devices only: the watch starts and settles.
        for (int i = 0; i <= HidrawWatch::TicksAfterChange + 1; ++i) {
            tick();
            QTest::qWait(TessaroLink::HotPlugPeriodMs);
        }
        QVERIFY(connected.isEmpty());
        sensor = plugSensor();
        // From the moment its node is in /dev (devtmpfs may take a while in the VM), without
        // letting a tick run meanwhile.
        QElapsedTimer clock;
        clock.start();
        QString node;
        while (node.isEmpty() && clock.elapsed() < 30000) {
            node = sensorNode();
            if (node.isEmpty())
                std::this_thread::sleep_for(1ms);
        }
        QVERIFY2(!node.isEmpty(), "no hidraw node for the sensor");
        const qint64 nodeMs = clock.elapsed();
        clock.start();
        const int mostTicks = 2 * HidrawWatch::SafetyScanMs / TessaroLink::HotPlugPeriodMs;
        int ticks = 0;
        while (connected.isEmpty() && ticks < mostTicks) {
            QTest::qWait(TessaroLink::HotPlugPeriodMs);
            tick();
            ++ticks;
        }
        qInfo("MEASURE hot-plug: %s connected at search tick %d after its node appeared (%lld ms; node %lld ms after the device was made)",
              qPrintable(node), ticks, clock.elapsed(), nodeMs);
        QVERIFY2(!connected.isEmpty() && ticks <= 2, qPrintable(QStringLiteral("connected at tick %1, not within two").arg(ticks)));
        QCOMPARE(connectedLoad.count(), 1);
        QCOMPARE(connection->deviceType, QStringLiteral("tessaro"));
        verifyWholeReports(SensorPid);
    }

    void commandChannel_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<bool>("exec");  // execCommand: the reply is swallowed
        QTest::addColumn<QString>("reply");  // regular expression for sendCommand's reply

        QTest::newRow("app:version;") << "app:version;" << false << "^app:version:HW 1\\.1:SW 2\\.4:2026:11:20;$";
        QTest::newRow("app:id;") << "app:id;" << false << "^app:id:TS-000123;$";
        QTest::newRow("sens:point;") << "sens:point;" << false << "^sens:point:\\d+:\\d+:\\d+:\\d+;$";
        QTest::newRow("pen:state;") << "pen:state;" << false << "^pen:2:\\d+:\\d+;$";
        QTest::newRow("pen:id;") << "pen:id;" << false << "^pen:id:\\d+:[^:]*:[0-9A-Fa-f]{4};$";
        QTest::newRow("cal:state;") << "cal:state;" << false << "^cal:state:0:0;$";
        for (const char* axis : {"x", "y"}) {
            for (int n = 1; n <= 4; ++n) {
                const QString command = QStringLiteral("cal:read:%1%2;").arg(QLatin1String(axis)).arg(n);
                QTest::newRow(qPrintable(command)) << command << false
                                                   << QStringLiteral("^cal:read:%1%2:\\d+:ok;$").arg(QLatin1String(axis)).arg(n);
            }
        }
        QTest::newRow("register read") << "sens:read:conf1thr;" << false << "^sens:read:conf1thr:\\d+:ok;$";
        QTest::newRow("register write, number") << "sens:write:conf1thr:140;" << false << "^sens:write:conf1thr:140:ok;$";
        QTest::newRow("register write, text") << "sens:write:conf1thr:8;" << false << "^sens:write:conf1thr:8:ok;$";
        QTest::newRow("sens:commit;") << "sens:commit;" << true << "";
        QTest::newRow("sens:reset;") << "sens:reset;" << true << "";
        QTest::newRow("cal:start;") << "cal:start;" << true << "";
        QTest::newRow("cal:abort;") << "cal:abort;" << true << "";
    }

    // Every fixed command and the register commands: the model's answer comes back, and
    // the device received the command as one whole report, zero after the command.
    void commandChannel()
    {
        QFETCH(QString, command);
        QFETCH(bool, exec);
        QFETCH(QString, reply);
        QVERIFY(connectedSensor());
        transport.clearOutputs();
        const QByteArray bytes = command.toLatin1();
        const int commits = sensor->commitCount();
        if (exec) {
            connection->execCommand(command);
        } else {
            unsigned char answer[TessaroLink::ReportBufferSize];
            QVERIFY(connection->sendCommand(bytes.constData(), answer));
            QVERIFY2(QRegularExpression(reply).match(replyText(answer)).hasMatch(), reinterpret_cast<const char*>(answer));
        }
        QVERIFY(connection->isConnected);
        const auto outputs = outputsOf(SensorPid);
        QCOMPARE(outputs.size(), std::size_t(1));
        QCOMPARE(text(outputs.front().data), command);
        verifyWholeReports(SensorPid);
        if (command == QLatin1String("sens:commit;"))
            QCOMPARE(sensor->commitCount(), commits + 1);
        if (command.startsWith(QLatin1String("sens:write:")))
            QCOMPARE(QString::fromStdString(sensor->registerValue("sens", "conf1thr").value_or("")),
                     command.section(QLatin1Char(':'), 3).chopped(1));
    }

    void commitKeepsTheWrittenValue()
    {
        QVERIFY(connectedSensor());
        unsigned char answer[TessaroLink::ReportBufferSize];
        QVERIFY(connection->sendCommand("sens:write:conf1thr:140;", answer));
        connection->execCommand(QStringLiteral("sens:commit;"));
        QCOMPARE(sensor->savedRegisterValue("sens", "conf1thr").value_or(""), std::string("140"));
        QVERIFY(connection->sendCommand("sens:read:conf1thr;", answer));
        QCOMPARE(colonFields(answer).value(3), QStringLiteral("140"));
    }

    void fullSizeCommands_data()
    {
        QTest::addColumn<int>("length");
        QTest::addColumn<bool>("sent");
        QTest::newRow("64 bytes fill the report") << 64 << true;
        QTest::newRow("65 bytes are refused") << 65 << false;
    }

    // A command of the report's size goes out whole, without a closing zero; a longer one is
    // refused without touching the link.
    void fullSizeCommands()
    {
        QFETCH(int, length);
        QFETCH(bool, sent);
        QVERIFY(connectedSensor());
        transport.clearOutputs();
        const QByteArray command = QByteArray("sens:read:") + QByteArray(length - 11, 'q') + ';';
        QCOMPARE(command.size(), length);
        unsigned char answer[TessaroLink::ReportBufferSize];
        QCOMPARE(connection->sendCommand(command.constData(), answer), sent);
        QVERIFY(connection->isConnected);
        const auto outputs = outputsOf(SensorPid);
        QCOMPARE(outputs.size(), std::size_t(sent ? 1 : 0));
        if (sent) {
            QCOMPARE(outputs.front().data.size(), std::size_t(WholeReport));
            QCOMPARE(QByteArray(reinterpret_cast<const char*>(outputs.front().data.data()) + 1, 64), command);
        }
        // The link still works.
        QVERIFY(connection->sendCommand("app:id;", answer));
        QCOMPARE(replyText(answer), QStringLiteral("app:id:TS-000123;"));
    }

    // Two replies, each 20 ms after its 50 ms limit: the first lands inside the second
    // command's wait and must not pass for its answer.
    void lateReplyNotTakenForTheNext()
    {
        QVERIFY(connectedSensor());
        sensor->setLateReplyDelay(70ms);
        sensor->injectFault(1, sim::Fault::LateReply);
        sensor->injectFault(2, sim::Fault::LateReply);
        unsigned char answer[TessaroLink::ReportBufferSize];
        QVERIFY(connection->sendCommand("app:version;", answer));
        QVERIFY(connection->sendCommand("sens:read:conf1thr;", answer));
        QVERIFY2(!replyText(answer).startsWith(QLatin1String("app:version")), reinterpret_cast<const char*>(answer));
        // The device answers in order, so the next reply may itself come late: never
        // another command's, and once the queue has drained, its own.
        QVERIFY(connection->sendCommand("app:id;", answer));
        QVERIFY2(replyText(answer).isEmpty() || replyText(answer) == QLatin1String("app:id:TS-000123;"),
                 reinterpret_cast<const char*>(answer));
        QTest::qWait(200);
        QVERIFY(connection->sendCommand("pen:id;", answer));
        QVERIFY2(replyText(answer).startsWith(QLatin1String("pen:id:")), reinterpret_cast<const char*>(answer));
    }

    // A late reply waiting in the node: the removal probe must neither block on it nor
    // take the device for gone.
    void probeReturnsAtOnceWithALateReplyWaiting()
    {
        QVERIFY(connectedSensor());
        sensor->setLateReplyDelay(70ms);
        sensor->injectFault(1, sim::Fault::LateReply);
        unsigned char answer[TessaroLink::ReportBufferSize];
        QVERIFY(connection->sendCommand("pen:id;", answer));
        QTest::qWait(100);  // the late reply is in the node now
        // A blocked zero-length read on hidraw ends only when the device goes: should the
        // probe block, the device is unplugged after 5 s, and the test fails instead of
        // hanging. What is checked is whether that rescue was needed, not the wall time.
        std::shared_ptr<sim::SimSensor> device = sensor;
        std::atomic<bool> done{false};
        std::atomic<bool> rescued{false};
        std::thread rescue([device, &done, &rescued] {
            for (int i = 0; i < 500 && !done; ++i)
                std::this_thread::sleep_for(10ms);
            if (!done) {
                rescued = true;
                sim::SimBus::instance().unplug(device.get());
            }
        });
        const double ms = timed([this] { connection->hotplugWorker(); });
        done = true;
        rescue.join();
        qInfo("MEASURE removal probe with a late reply waiting: %.1f ms", ms);
        QVERIFY2(!rescued, "the probe blocked until the device left");
        QVERIFY(connection->isConnected);
        QVERIFY(connection->sendCommand("app:id;", answer));
        QCOMPARE(replyText(answer), QStringLiteral("app:id:TS-000123;"));
    }

    // 50 poll ticks of the sensor view: the live data changes, the corners are read on every
    // eleventh tick and passed on.
    void poll()
    {
        QVERIFY(connectedSensor());
        sensor->setLatency(1000us);
        view_tessaro view(nullptr, connection);
        view.pollTimer->stop();
        QSignalSpy points(&view, &view_tessaro::updatePoints);
        QSignalSpy corners(&view, &view_tessaro::updateCalPoints);
        transport.clearOutputs();
        view.pollTimer->start();
        QTRY_VERIFY_WITH_TIMEOUT(points.count() >= 50, 60000);
        view.pollTimer->stop();
        QVERIFY(connection->isConnected);
        QSet<QString> distinct;
        for (const auto& args : points)
            distinct.insert(args.at(0).toString());
        QVERIFY2(distinct.size() > 10, "the pen point did not move");
        // Corner reads: 8 commands each, in the order x1 y1 … x4 y4, every eleventh tick.
        QStringList commands;
        for (const auto& output : outputsOf(SensorPid))
            commands << text(output.data);
        const int ticks = commands.count(QStringLiteral("sens:point;"));
        const int cornerReads = commands.count(QStringLiteral("cal:read:x1;"));
        QVERIFY2(cornerReads >= ticks / 11 - 1 && cornerReads <= ticks / 11 + 1,
                 qPrintable(QStringLiteral("%1 corner reads in %2 ticks").arg(cornerReads).arg(ticks)));
        QCOMPARE(corners.count(), cornerReads);
        const sim::Corners model = sensor->corners();
        for (const auto& args : corners) {
            const auto x = args.at(0).value<QList<int>>();
            const auto y = args.at(1).value<QList<int>>();
            QCOMPARE(x.size(), 4);
            for (int i = 0; i < 4; ++i) {
                QCOMPARE(x.at(i), model.x[static_cast<std::size_t>(i)]);
                QCOMPARE(y.at(i), model.y[static_cast<std::size_t>(i)]);
            }
        }
        verifyWholeReports(SensorPid);
    }

    // The whole update of a 64 KiB image with 1 ms frames: to the bootloader and back as a
    // sensor reporting the new version, the flash holding exactly the image.
    void firmwareUpdate()
    {
        frameUs = 1000;
        QVERIFY(connectedSensor());
        sensor->setLatency(1000us);
        connection->SetHotPlugTimerState(true);  // ticks every 100 ms, as in the tool
        QSignalSpy disconnected(connection, &tessaro::disconnected);
        connection->startUpgrade();
        QTRY_VERIFY_WITH_TIMEOUT(disconnected.count() >= 1 && connection->isConnected, 30000);
        QCOMPARE(connection->deviceType, QStringLiteral("bootloader"));
        QCOMPARE(connection->productId, int(BootloaderPid));
        std::shared_ptr<sim::SimBootloader> loader;
        for (const auto& device : sim::SimBus::instance().devices()) {
            if (auto l = std::dynamic_pointer_cast<sim::SimBootloader>(device))
                loader = l;
        }
        QVERIFY(loader);

        QTemporaryDir dir;
        const std::vector<std::uint8_t> image = sim::makeFirmwareImage(FlashImageSize, "SW 2.5", 7);
        const QString path = dir.filePath(QStringLiteral("image.bin"));
        {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            QCOMPARE(file.write(reinterpret_cast<const char*>(image.data()), FlashImageSize), qint64(FlashImageSize));
        }
        QSharedPointer<bootloader> boot = bootloader::create(connection);
        connect(boot.data(), &bootloader::hotplugtimer, connection, &tessaro::SetHotPlugTimerState);
        QStringList lines;
        connect(boot.data(), &bootloader::status, this, [&lines](const QString& line) { lines << line; });
        QSignalSpy finished(boot.data(), &bootloader::updateFinished);
        boot->setSettleTimeMs(0);
        QVERIFY(boot->getinfo());
        QCOMPARE(boot->flashSize, quint32(69632));
        transport.clearOutputs();
        QElapsedTimer clock;
        clock.start();
        boot->updateFromFile(path);
        QTRY_VERIFY_WITH_TIMEOUT(finished.count() == 1, 120000);
        const double seconds = static_cast<double>(clock.elapsed()) / 1000.0;
        QVERIFY2(finished.at(0).at(0).toBool(), qPrintable(lines.join(QLatin1String(" | "))));
        const auto requests = outputsOf(BootloaderPid);
        // Every request a frame, every reply a frame (RUN_APPLICATION has none).
        const double limit = (2.0 * static_cast<double>(requests.size()) - 1.0) * 0.001;
        qInfo("MEASURE flash 64 KiB over the kernel, 1 ms frames: %.2f s, limit %.2f s (%zu requests), ratio %.2f",
              seconds, limit, requests.size(), limit / seconds);
        QVERIFY(loader->flash(0, FlashImageSize) == image);

        // Back as the sensor with the new firmware, and connected again.
        QTRY_VERIFY_WITH_TIMEOUT(connection->isConnected && connection->deviceType == QLatin1String("tessaro"), 45000);
        unsigned char answer[TessaroLink::ReportBufferSize];
        QVERIFY(connection->sendCommand("app:version;", answer));
        QCOMPARE(colonFields(answer).value(3), QStringLiteral("SW 2.5"));
        verifyWholeReports(BootloaderPid);
    }

    // The device leaves the bus while the tool waits for its reply: the exchange fails at
    // once, disconnected() follows, and plugging it in again connects.
    void destroyedMidExchange()
    {
        QVERIFY(connectedSensor());
        QSignalSpy disconnected(connection, &tessaro::disconnected);
        QSignalSpy connected(connection, &tessaro::connected);
        sensor->injectFault(1, sim::Fault::Unplug);
        unsigned char answer[TessaroLink::ReportBufferSize];
        bool ok = true;
        const double ms = timed([&] { ok = connection->sendCommand("pen:state;", answer); });
        qInfo("MEASURE exchange with the device destroyed: %.1f ms, result %s", ms, ok ? "true" : "false");
        // The write may still have reached the node before it went: then the probe notices.
        if (ok)
            connection->hotplugWorker();
        QTRY_COMPARE_WITH_TIMEOUT(disconnected.count(), 1, 15000);
        QVERIFY(!connection->isConnected);
        sim::SimBus::instance().plug(sensor);
        connection->SetHotPlugTimerState(true);
        QTRY_COMPARE_WITH_TIMEOUT(connected.count(), 1, 20000);
        QVERIFY(connection->sendCommand("app:id;", answer));
        QCOMPARE(replyText(answer), QStringLiteral("app:id:TS-000123;"));
    }

    // A unit comes and goes while the bus is scanned and every unit listed is opened, as a
    // sensor restarting into its bootloader does under one program's scans, or two: hidapi
    // 0.13 crashed when a device went mid-scan or mid-open. Counted in kernel device
    // lifetimes, not in time: without the guards it crashed within seconds.
    void scansWhileAUnitComesAndGoes()
    {
        freshBus();
        constexpr int Lifetimes = 800;
        std::atomic<int> lifetimes{0};
        std::atomic<bool> stop{false};
        const auto waitForKernelDevices = [this, &stop](int count) {
            while (!stop && transport.kernelDevices(SensorPid) != count)
                std::this_thread::sleep_for(1ms);
        };
        std::thread comings([&] {
            std::minstd_rand random(7);
            const auto unit = std::make_shared<sim::SimSensor>();
            while (!stop && lifetimes < Lifetimes) {
                sim::SimBus::instance().plug(unit);
                waitForKernelDevices(1);
                // Its life counts from its node on: the kernel makes that a little later.
                while (!stop && sensorNode().isEmpty())
                    std::this_thread::sleep_for(1ms);
                std::this_thread::sleep_for(std::chrono::microseconds(random() % 20000));
                sim::SimBus::instance().unplug(unit.get());
                waitForKernelDevices(0);
                ++lifetimes;
            }
        });
        long scans = 0;
        long opens = 0;
        QElapsedTimer clock;
        clock.start();
        while (lifetimes < Lifetimes && clock.elapsed() < 180000) {
            hid_device_info* list = hid_enumerate(0, 0);
            for (hid_device_info* d = list; d; d = d->next) {
                if (hid_device* handle = d->vendor_id == sim::TestVendorId ? hid_open_path(d->path) : nullptr) {
                    ++opens;
                    hid_close(handle);
                }
            }
            hid_free_enumeration(list);
            ++scans;
        }
        stop = true;
        comings.join();
        qInfo("MEASURE unit coming and going: %d lifetimes, %ld scans, %ld opens in %.1f s", lifetimes.load(), scans, opens,
              static_cast<double>(clock.elapsed()) / 1000);
        QCOMPARE(lifetimes.load(), Lifetimes);
        // Not vacuous: the bus was scanned over and over, and the unit opened.
        QVERIFY(scans >= Lifetimes);
        QVERIFY(opens > 0);
        freshBus();
    }

    // A sensor that stops answering: each exchange ends at its time limit with an empty
    // reply, the tool stays responsive, and a new search does not hang on it.
    void deviceStopsAnswering()
    {
        QVERIFY(connectedSensor());
        sensor->setPersistentFault(sim::Fault::NoReply);
        unsigned char answer[TessaroLink::ReportBufferSize];
        bool ok = false;
        const double ms = timed([&] { ok = connection->sendCommand("pen:state;", answer); });
        qInfo("MEASURE exchange with a mute sensor: %.1f ms (limit %d ms)", ms, TessaroLink::CommandTimeoutMs);
        QVERIFY(ok);
        QCOMPARE(replyText(answer), QString());
        connection->hotplugWorker();
        QVERIFY(connection->isConnected);
        connection->disconnectDevice();
        transport.clearOutputs();
        QSignalSpy connected(connection, &tessaro::connected);
        double longest = 0;
        constexpr int Ticks = 10;
        for (int tick = 0; tick < Ticks; ++tick) {
            longest = qMax(longest, timed([this] { connection->hotplugWorker(); }));
            QTest::qWait(TessaroLink::HotPlugPeriodMs);
        }
        const auto asked = outputsOf(SensorPid).size();
        qInfo("MEASURE mute sensor: %zu version requests in %d search ticks, longest tick %.0f ms", asked, Ticks, longest);
        QCOMPARE(connected.count(), 0);
        QVERIFY2(longest < 5000, "a search tick hung on the mute sensor");
        // It failed its version check: not asked again at every tick (one round of the
        // catalogue's version pairs, and at most one more after a back-off).
        QVERIFY2(asked <= 8, qPrintable(QStringLiteral("%1 version requests").arg(asked)));
    }

    // sendCommand through the kernel with the model answering at once.
    void exchangeRate()
    {
        QVERIFY(connectedSensor());
        constexpr int Exchanges = 500;
        unsigned char answer[TessaroLink::ReportBufferSize];
        QElapsedTimer clock;
        clock.start();
        for (int i = 0; i < Exchanges; ++i)
            QVERIFY(connection->sendCommand("app:id;", answer));
        const double seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
        qInfo("MEASURE sendCommand through the kernel: %.0f exchanges/s (%.1f us each)",
              Exchanges / seconds, seconds / Exchanges * 1e6);
        QCOMPARE(replyText(answer), QStringLiteral("app:id:TS-000123;"));
    }
};

TESSARO_TEST_MAIN(tst_kernelhid)
#include "tst_kernelhid.moc"
