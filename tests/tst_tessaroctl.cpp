// tessaroctl against the simulated bus: every command, its JSON, each exit status, the
// flashing run with faults at its first, middle and last exchanges, two units present.
#include "cli/ctlexit.h"
#include "cli/tessaroctl.h"
#include "sim/simbootloader.h"
#include "sim/simbus.h"
#include "simfixture.h"
#include "testmain.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QProcess>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <optional>
#include <sys/stat.h>

using sim::SimBootloader;
using sim::SimSensor;

namespace {

struct Result {
    int status = -1;
    QString out;
    QString err;
};

// What a row puts on the bus besides one sensor.
enum class Bench {
    OneSensor,
    NoDevice,
    TwoSensors,
    SensorAndBootloader,
    NotOpenable,
    SensorFailsAtFirstCommand,  // the read or write after the scan's exchanges fails
    GainReadsBackWrong,
};

constexpr std::uint32_t ImageSize = 1024;
// Exchanges of a 1024-byte image with the simulated geometry: GETINFO, 56 page erases,
// 32 writes, 32 reads, RUN_APPLICATION.
constexpr int FirstErase = 2;
constexpr int MiddleWrite = 2 + 56 + 16;
constexpr int LastRead = 1 + 56 + 32 + 32;
constexpr int RunApplication = LastRead + 1;
// The scan's exchanges with a sensor: two version checks (the shipped catalogue lists
// "HW 1.0" before the simulated "HW 1.1"), then the identity's "app:id;" and "app:version;".
constexpr int ScanExchanges = 4;

QJsonObject parsed(const QString& text)
{
    return QJsonDocument::fromJson(text.toUtf8()).object();
}

} // namespace

Q_DECLARE_METATYPE(Bench)

class tst_tessaroctl : public QObject
{
    Q_OBJECT

private:
    std::optional<SimFixture> fixture;
    std::shared_ptr<SimSensor> sensor;

    static sim::DeviceInfo secondSensorInfo()
    {
        sim::DeviceInfo info = SimSensor::defaultInfo();
        info.path = "sim/1209:0001:01";
        info.serial = L"SIM0002";
        return info;
    }

    void setUpBench(Bench bench)
    {
        if (bench == Bench::NoDevice)
            return;
        sensor = fixture->plugSensor();
        switch (bench) {
        case Bench::TwoSensors:
            fixture->plugSensor(secondSensorInfo());
            break;
        case Bench::SensorAndBootloader:
            sim::SimBus::instance().plug(std::make_shared<SimBootloader>());
            break;
        case Bench::NotOpenable:
            sensor->setOpenable(false);
            break;
        case Bench::SensorFailsAtFirstCommand:
            sensor->injectFault(ScanExchanges + 1, sim::Fault::ReadFails);
            break;
        case Bench::GainReadsBackWrong:
            sensor->setReply("sens:read:gain;", "sens:read:gain:3:ok;");
            break;
        default:
            break;
        }
    }

    Result run(const QStringList& arguments, const QByteArray& input = {}, bool interactive = false,
               bool terminal = false)
    {
        QBuffer in;
        in.setData(input);
        in.open(QIODevice::ReadOnly);
        QBuffer out;
        QBuffer err;
        out.open(QIODevice::WriteOnly);
        err.open(QIODevice::WriteOnly);
        Result result;
        {
            tessaroCtl ctl(&in, &out, &err);
            ctl.setInteractive(interactive);
            ctl.setTerminal(terminal);
            ctl.setSettleTimeMs(0);
            ctl.setReturnTimeoutMs(3000);
            ctl.setPollPeriodMs(10);
            result.status = ctl.run(arguments);
        }
        result.out = QString::fromUtf8(out.data());
        result.err = QString::fromUtf8(err.data());
        return result;
    }

    QStringList writesReceived(const SimSensor& device) const
    {
        return SimFixture::commands(device).filter(QStringLiteral(":write:"));
    }

    QString writeImage(const QByteArray& content, const QString& name = QStringLiteral("image.0001.bin"))
    {
        fixture->writeFile(name, content);
        return fixture->dir() + QLatin1Char('/') + name;
    }

    static QByteArray firmware(std::size_t size, const std::string& version)
    {
        const std::vector<std::uint8_t> image = sim::makeFirmwareImage(size, version);
        return QByteArray(reinterpret_cast<const char*>(image.data()), static_cast<int>(image.size()));
    }

private slots:
    void init()
    {
        fixture.emplace();
        fixture->useShippedCatalogue();
        QFile model(QStringLiteral(TESSARO_SOURCE_DIR "/data/sensors/tessaro_t1.json"));
        QVERIFY(model.open(QIODevice::ReadOnly));
        fixture->writeFile(QStringLiteral("sensors/tessaro_t1.json"), model.readAll());
    }

    void cleanup()
    {
        sensor.reset();
        fixture.reset();
    }

    void commands_data()
    {
        QTest::addColumn<Bench>("bench");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("output");   // a line of standard output, or of standard error
        QTest::addColumn<QStringList>("writes");  // register writes the sensor received
        QTest::addColumn<int>("commits");

        const QStringList none;
        QTest::newRow("list") << Bench::OneSensor << QStringList{"list"} << CtlExit::Ok
                              << "sensor      sim/1209:0001:00  1209:0001  HW 1.1  SW 2.4  id TS-000123" << none << 0;
        QTest::newRow("list: not openable, with the hint")
            << Bench::NotOpenable << QStringList{"list"} << CtlExit::Ok << "udev rule 70-tessaroutility.rules" << none
            << 0;
        QTest::newRow("list: nothing") << Bench::NoDevice << QStringList{"list"} << CtlExit::NoDevice
                                       << "no supported device found" << none << 0;
        QTest::newRow("list: two units") << Bench::TwoSensors << QStringList{"list"} << CtlExit::Ok
                                         << "sim/1209:0001:01" << none << 0;
        QTest::newRow("info") << Bench::OneSensor << QStringList{"info"} << CtlExit::Ok << "firmware:    SW 2.4"
                              << none << 0;
        QTest::newRow("info: corners") << Bench::OneSensor << QStringList{"info"} << CtlExit::Ok << "corners:"
                                       << none << 0;
        QTest::newRow("info: no device") << Bench::NoDevice << QStringList{"info"} << CtlExit::NoDevice
                                         << "no supported device found" << none << 0;
        QTest::newRow("info: not openable") << Bench::NotOpenable << QStringList{"info"} << CtlExit::NoDevice
                                            << "cannot be opened" << none << 0;
        QTest::newRow("info: two units") << Bench::TwoSensors << QStringList{"info"} << CtlExit::MoreThanOneDevice
                                         << "choose one with --device" << none << 0;
        QTest::newRow("info: two units, --device")
            << Bench::TwoSensors << QStringList{"info", "--device", "sim/1209:0001:00"} << CtlExit::Ok
            << "device:      sim/1209:0001:00" << none << 0;
        QTest::newRow("info: device fails") << Bench::SensorFailsAtFirstCommand << QStringList{"info"}
                                            << CtlExit::DeviceError << "stopped answering" << none << 0;
        QTest::newRow("get") << Bench::OneSensor << QStringList{"get", "gain", "sens:fps"} << CtlExit::Ok
                             << "sens:fps = 100 (Normal)" << none << 0;
        QTest::newRow("get: all") << Bench::OneSensor << QStringList{"get"} << CtlExit::Ok << "sens:pwrsave = 0"
                                  << none << 0;
        QTest::newRow("get: unknown") << Bench::OneSensor << QStringList{"get", "bogus"} << CtlExit::RefusedInput
                                      << "unknown register \"bogus\"" << none << 0;
        QTest::newRow("set") << Bench::OneSensor << QStringList{"set", "gain=7", "fps=Fast"} << CtlExit::Ok
                             << "sens:fps = 120 (Fast)" << QStringList{"sens:write:gain:7;", "sens:write:fps:120;"}
                             << 0;
        QTest::newRow("set --commit") << Bench::OneSensor << QStringList{"set", "pen:hover=off", "--commit"}
                                      << CtlExit::Ok << "committed" << QStringList{"pen:write:hover:0;"} << 1;
        QTest::newRow("set: out of range, nothing sent")
            << Bench::OneSensor << QStringList{"set", "expo=500", "gain=17"} << CtlExit::RefusedInput
            << "sens:gain: value \"17\" refused, accepted: 1..16" << none << 0;
        QTest::newRow("set: not a choice") << Bench::OneSensor << QStringList{"set", "fps=90"}
                                           << CtlExit::RefusedInput << "accepted: 120 (Fast), 100 (Normal), 60 (Slow)"
                                           << none << 0;
        QTest::newRow("set: no value") << Bench::OneSensor << QStringList{"set", "gain"} << CtlExit::RefusedInput
                                       << "\"gain\" is not NAME=VALUE" << none << 0;
        QTest::newRow("set: reads back wrong") << Bench::GainReadsBackWrong
                                               << QStringList{"set", "gain=4", "--commit"}
                                               << CtlExit::VerificationFailed << "reads back 3, not 4"
                                               << QStringList{"sens:write:gain:4;"} << 0;
        QTest::newRow("set: device fails") << Bench::SensorFailsAtFirstCommand << QStringList{"set", "gain=5"}
                                           << CtlExit::DeviceError << "writing sens:gain failed"
                                           << QStringList{"sens:write:gain:5;"} << 0;
        QTest::newRow("preset") << Bench::OneSensor << QStringList{"preset", "Dim room"} << CtlExit::Ok
                                << "preset \"Dim room\" applied" << QStringList{"*"} << 1;
        QTest::newRow("preset: list") << Bench::OneSensor << QStringList{"preset"} << CtlExit::Ok << "Bright room: "
                                      << none << 0;
        QTest::newRow("preset: unknown") << Bench::OneSensor << QStringList{"preset", "Disco"}
                                         << CtlExit::RefusedInput << "no preset \"Disco\"" << none << 0;
        QTest::newRow("easy") << Bench::OneSensor << QStringList{"easy"} << CtlExit::Ok << "mode:     automatic"
                              << none << 0;
        QTest::newRow("easy: position") << Bench::OneSensor << QStringList{"easy", "0"} << CtlExit::Ok
                                        << "position: 0" << QStringList{"*"} << 1;
        QTest::newRow("easy: beyond the table") << Bench::OneSensor << QStringList{"easy", "99"}
                                                << CtlExit::RefusedInput << "easy position 99 refused" << none << 0;
        QTest::newRow("monitor") << Bench::OneSensor << QStringList{"monitor", "--count", "3"} << CtlExit::Ok
                                 << "calibration=idle" << none << 0;
        QTest::newRow("unknown command") << Bench::OneSensor << QStringList{"frobnicate"} << CtlExit::RefusedInput
                                         << "unknown command" << none << 0;
        QTest::newRow("unknown option") << Bench::OneSensor << QStringList{"list", "--frob"}
                                        << CtlExit::RefusedInput << "Unknown option 'frob'." << none << 0;
        QTest::newRow("help") << Bench::NoDevice << QStringList{"--help"} << CtlExit::Ok
                              << "Exit status: 0 ok, 1 device error, 2 refused input, 3 no device," << none << 0;
    }

    void commands()
    {
        QFETCH(Bench, bench);
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        QFETCH(QString, output);
        QFETCH(QStringList, writes);
        QFETCH(int, commits);
        setUpBench(bench);

        const Result result = run(arguments);
        QCOMPARE(result.status, status);
        const QStringList lines = (result.out + result.err).split(QLatin1Char('\n'));
        QVERIFY2(std::any_of(lines.cbegin(), lines.cend(), [&](const QString& line) { return line.contains(output); }),
                 qPrintable(result.out + result.err));
        if (!sensor)
            return;
        const QStringList received = writesReceived(*sensor);
        if (writes == QStringList{"*"})
            QVERIFY(!received.isEmpty());
        else
            QCOMPARE(received, writes);
        QCOMPARE(sensor->commitCount(), commits);
        QCOMPARE(sensor->resetCount(), commits);
        if (arguments.constFirst() == QLatin1String("monitor"))
            QCOMPARE(result.out.count(QLatin1Char('\n')), 3);
    }

    void jsonShape_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("shape");  // the document's keys, nested ones as "key.key"

        QTest::newRow("list") << QStringList{"list"} << CtlExit::Ok
                              << "devices devices.0.path devices.0.type devices.0.state devices.0.firmware";
        QTest::newRow("info") << QStringList{"info"} << CtlExit::Ok
                              << "id hardware firmware build point.x pen.data pen.battery calibration.running corners.3.y";
        QTest::newRow("get") << QStringList{"get", "gain"} << CtlExit::Ok << "registers.sens:gain";
        QTest::newRow("set") << QStringList{"set", "gain=5"} << CtlExit::Ok << "registers.sens:gain committed";
        QTest::newRow("dump") << QStringList{"dump"} << CtlExit::Ok << "configfile firmware registers.cal:keep";
        QTest::newRow("preset") << QStringList{"preset", "Default"} << CtlExit::Ok << "preset writes committed";
        QTest::newRow("easy") << QStringList{"easy"} << CtlExit::Ok << "mode register table.0 value position";
        QTest::newRow("monitor: first line") << QStringList{"monitor", "--count", "1"} << CtlExit::Ok
                                             << "point.size pen.volts calibration.point";
        QTest::newRow("refused") << QStringList{"get", "bogus"} << CtlExit::RefusedInput << "error status";
    }

    void jsonShape()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        QFETCH(QString, shape);
        sensor = fixture->plugSensor();
        sensor->setPenPresent(true);

        const Result result = run(arguments << QStringLiteral("--json"));
        QCOMPARE(result.status, status);
        QJsonParseError error{};
        const QJsonDocument document = QJsonDocument::fromJson(result.out.toUtf8(), &error);
        QVERIFY2(error.error == QJsonParseError::NoError, qPrintable(result.out));
        const QStringList keys = shape.split(QLatin1Char(' '));
        for (const QString& key : keys) {
            QJsonValue value = document.object();
            const QStringList path = key.split(QLatin1Char('.'));
            for (const QString& step : path) {
                bool index = false;
                const int n = step.toInt(&index);
                value = index ? value.toArray().at(n) : value.toObject().value(step);
            }
            QVERIFY2(!value.isUndefined(), qPrintable(key + QStringLiteral(" missing in ") + result.out));
        }
        if (status == CtlExit::Ok)
            QCOMPARE(document.object().value(QStringLiteral("status")).toInt(CtlExit::Ok), CtlExit::Ok);
    }

    void dumpCopiesOneSensorToAnother()
    {
        sensor = fixture->plugSensor();
        sensor->setRegister("sens", "gain", 9);
        sensor->setRegister("pen", "mode", 1);
        const Result dumped = run({QStringLiteral("dump")});
        QCOMPARE(dumped.status, CtlExit::Ok);
        const QString file = writeImage(dumped.out.toUtf8(), QStringLiteral("config.json"));

        sim::SimBus::instance().unplugAll();
        auto next = fixture->plugSensor(secondSensorInfo());
        const Result loaded = run({QStringLiteral("load"), file, QStringLiteral("--commit")});
        QCOMPARE(loaded.status, CtlExit::Ok);
        QCOMPARE(next->registerValue("sens", "gain"), std::optional<std::string>("9"));
        QCOMPARE(next->savedRegisterValue("pen", "mode"), std::optional<std::string>("1"));
        QCOMPARE(writesReceived(*next).size(), parsed(dumped.out).value("registers").toObject().size());
    }

    void loadRefusesBadDumps_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("message");
        QTest::newRow("not JSON") << QByteArray("gain=4") << "not a register dump";
        QTest::newRow("out of range") << QByteArray(R"({"registers":{"sens:gain":4,"sens:expo":5000}})")
                                      << "sens:expo: value 5000 refused, accepted: 10..1000";
        QTest::newRow("not a number") << QByteArray(R"({"registers":{"sens:gain":"4"}})") << "value \"4\" refused";
        QTest::newRow("another model's register") << QByteArray(R"({"registers":{"sens:laser":1}})")
                                                  << "unknown register \"sens:laser\"";
    }

    void loadRefusesBadDumps()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, message);
        sensor = fixture->plugSensor();
        const Result result = run({QStringLiteral("load"), writeImage(content, QStringLiteral("config.json"))});
        QCOMPARE(result.status, CtlExit::RefusedInput);
        QVERIFY2(result.err.contains(message), qPrintable(result.err));
        QVERIFY(writesReceived(*sensor).isEmpty());
    }

    // A unit already in its bootloader, a fault at one of its exchanges: never success, and
    // an image that cannot be written is refused before any erase.
    void flashFaults_data()
    {
        QTest::addColumn<int>("exchange");
        QTest::addColumn<int>("fault");  // sim::Fault, or -1 for a verify mismatch, -2 a refusal
        QTest::addColumn<QByteArray>("image");
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("erased");

        const QByteArray good = firmware(ImageSize, "SW 2.5");
        const int readFails = static_cast<int>(sim::Fault::ReadFails);
        const int writeFails = static_cast<int>(sim::Fault::WriteFails);
        QTest::newRow("clean run") << 0 << 0 << good << CtlExit::Ok << true;
        QTest::newRow("first exchange (geometry)") << 1 << readFails << good << CtlExit::DeviceError << false;
        // A request lost on its way never reaches the unit.
        QTest::newRow("first erase") << FirstErase << writeFails << good << CtlExit::DeviceError << false;
        QTest::newRow("middle write") << MiddleWrite << readFails << good << CtlExit::DeviceError << true;
        QTest::newRow("middle write refused") << MiddleWrite << -2 << good << CtlExit::DeviceError << true;
        QTest::newRow("last verify read") << LastRead << readFails << good << CtlExit::DeviceError << true;
        QTest::newRow("verify mismatch") << 0 << -1 << good << CtlExit::VerificationFailed << true;
        QTest::newRow("start of the application lost") << RunApplication << writeFails << good << CtlExit::DeviceError
                                                        << true;
        QTest::newRow("image larger than the application area")
            << 0 << 0 << QByteArray(28673, '\x11') << CtlExit::RefusedInput << false;
        QTest::newRow("empty image") << 0 << 0 << QByteArray() << CtlExit::RefusedInput << false;
    }

    void flashFaults()
    {
        QFETCH(int, exchange);
        QFETCH(int, fault);
        QFETCH(QByteArray, image);
        QFETCH(int, status);
        QFETCH(bool, erased);
        auto loader = std::make_shared<SimBootloader>();
        loader->setRestartDelay(std::chrono::milliseconds(10));
        if (fault == -1)
            loader->setReadCorruption(ImageSize / 2);
        else if (fault == -2)
            loader->injectRefusal(exchange);
        else if (fault > 0)
            loader->injectFault(exchange, static_cast<sim::Fault>(fault));
        sim::SimBus::instance().plug(loader);

        const Result result = run({QStringLiteral("flash"), writeImage(image), QStringLiteral("--yes")});
        QCOMPARE(result.status, status);
        QCOMPARE(result.out.contains(QLatin1String("sensor back at")), status == CtlExit::Ok);
        QCOMPARE(loader->requestCount(SimBootloader::ErasePage) > 0, erased);
        if (status == CtlExit::Ok)
            QCOMPARE(loader->applicationVersion(), std::string("SW 2.5"));
    }

    // From a running sensor: into its bootloader, flashed, back with the new version.
    void flashFromSensor_data()
    {
        QTest::addColumn<bool>("terminal");
        QTest::addColumn<QString>("progress");
        QTest::newRow("plain lines") << false << "write 50%";
        QTest::newRow("terminal bar") << true << "\rverify [##############################] 100%";
    }

    void flashFromSensor()
    {
        QFETCH(bool, terminal);
        QFETCH(QString, progress);
        sensor = fixture->plugSensor();
        sensor->setReenumerates(true, std::chrono::milliseconds(10));
        const QString image = writeImage(firmware(ImageSize, "SW 2.5"));

        const Result result = run({QStringLiteral("flash"), image, QStringLiteral("--yes")}, {}, false, terminal);
        QCOMPARE(result.status, CtlExit::Ok);
        QVERIFY2(result.out.contains(progress), qPrintable(result.out));
        QVERIFY(result.out.contains(QLatin1String("Updated succesfully!\n")));
        QVERIFY(result.out.endsWith(QLatin1String("sensor back at sim/1209:0001:00, firmware SW 2.5\n")));
        QCOMPARE(sensor->bootloaderRequests(), 1);
    }

    // Refusals before anything reaches the unit.
    void flashRefusals_data()
    {
        QTest::addColumn<Bench>("bench");
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<bool>("interactive");
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QString>("image");  // empty: a good image
        QTest::addColumn<int>("status");

        QTest::newRow("not a terminal, no --yes") << Bench::OneSensor << QStringList() << false << QByteArray() << ""
                                                  << CtlExit::RefusedInput;
        QTest::newRow("asked, answered no") << Bench::OneSensor << QStringList() << true << QByteArray("n\n") << ""
                                            << CtlExit::RefusedInput;
        QTest::newRow("sensor and bootloader present")
            << Bench::SensorAndBootloader << QStringList{"--yes"} << false << QByteArray() << ""
            << CtlExit::MoreThanOneDevice;
        QTest::newRow("two sensors present") << Bench::TwoSensors << QStringList{"--yes"} << false << QByteArray()
                                             << "" << CtlExit::MoreThanOneDevice;
        QTest::newRow("no device") << Bench::NoDevice << QStringList{"--yes"} << false << QByteArray() << ""
                                   << CtlExit::NoDevice;
        QTest::newRow("a folder") << Bench::OneSensor << QStringList{"--yes"} << false << QByteArray() << "sensors"
                                  << CtlExit::RefusedInput;
        QTest::newRow("a named pipe") << Bench::OneSensor << QStringList{"--yes"} << false << QByteArray() << "fifo"
                                      << CtlExit::RefusedInput;
        QTest::newRow("missing") << Bench::OneSensor << QStringList{"--yes"} << false << QByteArray() << "nothing.bin"
                                 << CtlExit::RefusedInput;
    }

    void flashRefusals()
    {
        QFETCH(Bench, bench);
        QFETCH(QStringList, options);
        QFETCH(bool, interactive);
        QFETCH(QByteArray, answer);
        QFETCH(QString, image);
        QFETCH(int, status);
        setUpBench(bench);
        if (sensor)
            sensor->setReenumerates(true, std::chrono::milliseconds(10));
        QString path = writeImage(firmware(ImageSize, "SW 2.5"));
        if (!image.isEmpty())
            path = fixture->dir() + QLatin1Char('/') + image;
        if (image == QLatin1String("fifo"))
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);

        const Result result = run(QStringList{QStringLiteral("flash"), path} + options, answer, interactive);
        QCOMPARE(result.status, status);
        if (sensor)
            QCOMPARE(sensor->bootloaderRequests(), 0);
    }

    // The program itself over the simulated sensor: debug lines only with --verbose, the
    // result on standard output, the status as exit code, a monitor ended by a signal.
    void program_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("out");
        QTest::addColumn<QString>("err");  // empty: standard error stays empty

        QTest::newRow("list") << QStringList{"list"} << CtlExit::Ok << "sensor      sim/1209:0001:00" << "";
        QTest::newRow("list --verbose") << QStringList{"list", "--verbose"} << CtlExit::Ok << "sensor"
                                        << "Path:          sim/1209:0001:00";
        QTest::newRow("get --json") << QStringList{"get", "gain", "--json"} << CtlExit::Ok << "\"sens:gain\": 4" << "";
        QTest::newRow("set refused") << QStringList{"set", "gain=99"} << CtlExit::RefusedInput << ""
                                     << "tessaroctl: sens:gain: value \"99\" refused, accepted: 1..16";
        QTest::newRow("monitor until terminated") << QStringList{"monitor"} << CtlExit::Ok << "calibration=idle" << "";
    }

    void program()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        QFETCH(QString, out);
        QFETCH(QString, err);
        QProcess program;
        program.start(QCoreApplication::applicationDirPath() + QStringLiteral("/tessaroctl-sim"), arguments);
        QVERIFY(program.waitForStarted());
        if (arguments.constFirst() == QLatin1String("monitor")) {
            QTRY_VERIFY(program.canReadLine());
            program.terminate();
        }
        QVERIFY(program.waitForFinished(20000));
        const QString output = QString::fromUtf8(program.readAllStandardOutput());
        const QString errors = QString::fromUtf8(program.readAllStandardError());
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), status);
        QVERIFY2(output.contains(out), qPrintable(output));
        if (err.isEmpty())
            QVERIFY2(errors.isEmpty(), qPrintable(errors));
        else
            QVERIFY2(errors.contains(err), qPrintable(errors));
    }
};

TESSARO_TEST_MAIN(tst_tessaroctl)
#include "tst_tessaroctl.moc"
