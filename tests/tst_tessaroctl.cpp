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
        QTest::addColumn<QString>("output");  // lines of standard output or error, split at '|'
        QTest::addColumn<QStringList>("writes"); // register writes the sensor received; "*": some
        QTest::addColumn<int>("commits");
        const Bench one = Bench::OneSensor, nothing = Bench::NoDevice, two = Bench::TwoSensors;
        const Bench fails = Bench::SensorFailsAtFirstCommand, closed = Bench::NotOpenable;
        const int ok = CtlExit::Ok, refused = CtlExit::RefusedInput, noDevice = CtlExit::NoDevice;
        const QStringList some{"*"};
        // Arguments split at ','.
        const auto row = [](const char* name, Bench bench, const char* arguments, int status, const char* output,
                            const QStringList& writes = {}, int commits = 0) {
            QTest::newRow(name) << bench << QString::fromUtf8(arguments).split(QLatin1Char(',')) << status
                                << QString::fromUtf8(output) << writes << commits;
        };
        row("list: two units", two, "list", ok,
            "sensor      sim/1209:0001:00  1209:0001  HW 1.1  SW 2.4  id TS-000123|sim/1209:0001:01");
        row("list: not openable, with the hint", closed, "list", ok, "udev rule 70-tessaroutility.rules");
        row("list: nothing", nothing, "list", noDevice, "no supported device found");
        row("info", one, "info", ok, "firmware:    SW 2.4|corners:");
        row("info: not openable", closed, "info", noDevice, "cannot be opened");
        row("info: two units", two, "info", CtlExit::MoreThanOneDevice, "choose one with --device");
        row("info: two units, --device", two, "info,--device,sim/1209:0001:00", ok, "device:      sim/1209:0001:00");
        row("info: device fails", fails, "info", CtlExit::DeviceError, "stopped answering");
        row("get", one, "get,gain,sens:fps", ok, "sens:fps = 100 (Normal)");
        row("get: all", one, "get", ok, "sens:pwrsave = 0");
        row("set", one, "set,gain=7,fps=Fast", ok, "sens:fps = 120 (Fast)", {"sens:write:gain:7;", "sens:write:fps:120;"});
        row("set --commit", one, "set,pen:hover=off,--commit", ok, "committed", {"pen:write:hover:0;"}, 1);
        row("set: out of range, nothing sent", one, "set,expo=500,gain=17", refused,
            "sens:gain: value \"17\" refused, accepted: 1..16");
        row("set: not a choice", one, "set,fps=90", refused, "accepted: 120 (Fast), 100 (Normal), 60 (Slow)");
        row("set: no value", one, "set,gain", refused, "\"gain\" is not NAME=VALUE");
        row("set: reads back wrong", Bench::GainReadsBackWrong, "set,gain=4,--commit", CtlExit::VerificationFailed,
            "reads back 3, not 4", {"sens:write:gain:4;"});
        row("set: device fails", fails, "set,gain=5", CtlExit::DeviceError, "writing sens:gain failed", {"sens:write:gain:5;"});
        row("preset", one, "preset,Dim room", ok, "preset \"Dim room\" applied", some, 1);
        row("preset: list", one, "preset", ok, "Bright room: ");
        row("preset: unknown", one, "preset,Disco", refused, "no preset \"Disco\"");
        row("easy", one, "easy", ok, "mode:     automatic");
        row("easy: position", one, "easy,0", ok, "position: 0", some, 1);
        row("easy: beyond the table", one, "easy,99", refused, "easy position 99 refused");
        row("monitor", one, "monitor,--count,3", ok, "calibration=idle");
        row("unknown command", one, "frobnicate", refused, "unknown command");
        row("unknown option", one, "list,--frob", refused, "Unknown option 'frob'.");
        row("help", nothing, "--help", ok, "Exit status: 0 ok, 1 device error, 2 refused input, 3 no device,");
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
        for (const QString& expected : output.split(QLatin1Char('|'))) {
            QVERIFY2(std::any_of(lines.cbegin(), lines.cend(), [&](const QString& line) { return line.contains(expected); }),
                     qPrintable(result.out + result.err));
        }
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
        QCOMPARE(writesReceived(*next).size(), QJsonDocument::fromJson(dumped.out.toUtf8()).object().value("registers").toObject().size());
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
        QTest::addColumn<int>("fault");  // sim::Fault, or -1 for a verify mismatch
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

    // From a running sensor: into its bootloader, flashed, back with the new version; or
    // refused before anything reaches the unit.
    void flashFromSensor_data()
    {
        QTest::addColumn<Bench>("bench");
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<bool>("terminal"); // standard input and output; asked, the user answers "n"
        QTest::addColumn<QString>("image"); // empty: a good image
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("progress");
        const QStringList yes{"--yes"};
        const Bench one = Bench::OneSensor;
        const int refused = CtlExit::RefusedInput;
        QTest::newRow("plain lines") << one << yes << false << "" << CtlExit::Ok << "write 50%";
        QTest::newRow("terminal bar") << one << yes << true << "" << CtlExit::Ok
                                      << "\rverify [##############################] 100%";
        QTest::newRow("not a terminal, no --yes") << one << QStringList() << false << "" << refused << "";
        QTest::newRow("asked, answered no") << one << QStringList() << true << "" << refused << "";
        // A unit in its bootloader besides the sensor: which one to flash is not guessed.
        QTest::newRow("sensor and bootloader present") << Bench::SensorAndBootloader << yes << false << ""
                                                       << CtlExit::MoreThanOneDevice << "";
        QTest::newRow("no device") << Bench::NoDevice << yes << false << "" << CtlExit::NoDevice << "";
        // Not a regular file (opening a pipe would block).
        QTest::newRow("a named pipe") << one << yes << false << "fifo" << refused << "";
        QTest::newRow("missing") << one << yes << false << "nothing.bin" << refused << "";
    }

    void flashFromSensor()
    {
        QFETCH(Bench, bench);
        QFETCH(QStringList, options);
        QFETCH(bool, terminal);
        QFETCH(QString, image);
        QFETCH(int, status);
        QFETCH(QString, progress);
        setUpBench(bench);
        if (sensor)
            sensor->setReenumerates(true, std::chrono::milliseconds(10));
        QString path = writeImage(firmware(ImageSize, "SW 2.5"));
        if (!image.isEmpty())
            path = fixture->dir() + QLatin1Char('/') + image;
        if (image == QLatin1String("fifo"))
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);

        const Result result = run(QStringList{QStringLiteral("flash"), path} + options, "n\n", terminal, terminal);
        QCOMPARE(result.status, status);
        if (sensor)
            QCOMPARE(sensor->bootloaderRequests(), status == CtlExit::Ok ? 1 : 0);
        if (status != CtlExit::Ok)
            return;
        QVERIFY2(result.out.contains(progress), qPrintable(result.out));
        QVERIFY(result.out.contains(QLatin1String("Updated succesfully!\n")));
        QVERIFY(result.out.endsWith(QLatin1String("sensor back at sim/1209:0001:00, firmware SW 2.5\n")));
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
