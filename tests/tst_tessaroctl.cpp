// tessaroctl against the simulated bus: every command, its JSON, each exit status, the
// flashing run with faults at its first, middle and last exchanges, two units present.
#include "cli/ctlexit.h"
#include "cli/tessaroctl.h"
#include "device/updatelock.h"
#include "sim/busreplay.h"
#include "sim/simbootloader.h"
#include "sim/simbus.h"
#include "sim/simreplay.h"
#include "simfixture.h"
#include "testmain.h"
#include "trace/hidrecorder.h"
#include "update/flashlog.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QProcess>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLoggingCategory>
#include <QScopeGuard>

#include <cerrno>
#include <csignal>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

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
    Bootloader,
    TwoSensors,
    SensorAndBootloader,
    NotOpenable,
    SensorFailsAtFirstCommand,  // the read or write after the scan's exchanges fails
    ReadsBackWrong,  // gain and the easy register thrauto read back 3
    ValuesThatDoNotConvert,  // gain "abc", expo "99999999999", mirror and thrauto empty
    IdentityNotRead,  // garbage to "app:id;"
    ResetRefused,
    ControlsInReplies,  // a terminal escape, a line break and a C1 control in the id, an escape in the build
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
    std::shared_ptr<SimBootloader> loader;  // a unit that is in its bootloader from the start

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
        if (bench == Bench::Bootloader) {
            loader = std::make_shared<SimBootloader>();
            loader->setRestartDelay(std::chrono::milliseconds(10));
            sim::SimBus::instance().plug(loader);
            return;
        }
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
        case Bench::ReadsBackWrong:
            sensor->setReply("sens:read:gain;", "sens:read:gain:3:ok;");
            sensor->setReply("sens:read:thrauto;", "sens:read:thrauto:3:ok;");
            break;
        case Bench::ValuesThatDoNotConvert:
            sensor->setRegister("sens", "gain", "abc");
            sensor->setRegister("sens", "expo", "99999999999");
            sensor->setRegister("sens", "mirror", "");
            sensor->setRegister("sens", "thrauto", "");
            break;
        case Bench::IdentityNotRead:
            sensor->setIdReply("app:garbage");
            break;
        case Bench::ResetRefused:
            sensor->setReply("sens:reset;", "sens:reset:err;");
            break;
        case Bench::ControlsInReplies:
            sensor->setIdReply("app:id:TS\x1b[2J\nfake\xc2\x85;");
            sensor->setVersionReply("app:version:HW 1.1:SW 2.4:2026:\x1b[1mBOLD\x07;");
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

    static QByteArray logged()
    {
        QFile log(FlashLog::filePath());
        return log.open(QIODevice::ReadOnly) ? log.readAll() : QByteArray();
    }

    // The blocks of the update log: a header line starting "== ", then lines indented.
    static int runsIn(const QByteArray& log)
    {
        return log.count("\n== ") + (log.startsWith("== ") ? 1 : 0);
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
        QVERIFY(fixture->useShippedModel());
        QFile::remove(FlashLog::filePath());
    }

    void cleanup()
    {
        sensor.reset();
        loader.reset();
        fixture.reset();
    }

    // A session recorded at the HID boundary, played back with nothing on the bus: the same
    // output and status, every request of the trace played (the sensor's trip into its
    // bootloader and back included); a changed order ends it, naming the first request
    // that differs.
    void recordedSessionReplays_data()
    {
        QTest::addColumn<QStringList>("recorded");
        QTest::addColumn<QStringList>("replayed");
        QTest::addColumn<QString>("diverges");  // the trace's request where the replay ends
        QTest::newRow("connect and identity") << QStringList{"info"} << QStringList{"info"} << "";
        QTest::newRow("register edit and commit") << QStringList{"set", "gain=5", "--commit"}
                                                  << QStringList{"set", "gain=5", "--commit"} << "";
        QTest::newRow("whole update") << QStringList{"flash", "IMAGE", "--yes"} << QStringList{"flash", "IMAGE", "--yes"} << "";
        QTest::newRow("changed command order") << QStringList{"get", "gain", "expo"} << QStringList{"get", "expo", "gain"}
                                               << "write \"sens:read:gain;\"";
    }

    void recordedSessionReplays()
    {
        QFETCH(QStringList, recorded);
        QFETCH(QStringList, replayed);
        QFETCH(QString, diverges);
        setUpBench(Bench::OneSensor);
        sensor->setReenumerates(true, std::chrono::milliseconds(10));
        const QString image = writeImage(firmware(ImageSize, "SW 2.5"));
        recorded.replaceInStrings(QStringLiteral("IMAGE"), image);
        replayed.replaceInStrings(QStringLiteral("IMAGE"), image);
        const QString trace = fixture->dir() + QStringLiteral("/session.trace");
        QString error;
        QVERIFY(HidRecorder::start(trace, {}, &error));
        const Result original = run(recorded);
        HidRecorder::stop();
        // The first run's update lock goes with its objects.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        sim::SimBus::instance().reset();
        sensor.reset();
        QFile file(trace);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArrayList lines = file.readAll().split('\n');
        // Played at the hidapi boundary, then by devices on the bus as tessaro-uhid plays it
        // on a kernel.
        for (const bool onBus : {false, true}) {
            std::shared_ptr<sim::BusReplay> bus = onBus ? sim::BusReplay::start(trace, &error) : nullptr;
            QVERIFY2(onBus ? bool(bus) : sim::SimReplay::start(trace, &error), qPrintable(error));
            // The second run's debug lines would only repeat the first's, and count against
            // the test's message limit.
            QLoggingCategory::setFilterRules(onBus ? QStringLiteral("*.debug=false") : QString());
            const auto stopReplay = qScopeGuard([] {
                QLoggingCategory::setFilterRules(QString());
                sim::SimReplay::stop();
                sim::SimBus::instance().reset();
            });
            const Result again = run(replayed);
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            const auto replay = sim::SimReplay::active();
            const QString divergence = bus ? bus->state().divergence : replay->divergence();
            if (diverges.isEmpty()) {
                QVERIFY2(again.out == original.out, qPrintable(again.err + original.err));
                QCOMPARE(again.status, original.status);
                QVERIFY2(bus ? bus->state().finished : replay->finished(), qPrintable(again.err));
                continue;
            }
            const QByteArray request = "\"data\":\"00" + QByteArray("sens:read:gain;").toHex();
            const auto line = std::find_if(lines.begin(), lines.end(), [&](const QByteArray& l) { return l.contains(request); });
            QVERIFY2(divergence.contains(QStringLiteral("line %1: the trace has %2 there")
                                             .arg(line - lines.begin() + 1).arg(diverges)),
                     qPrintable(divergence));
            QCOMPARE(again.status, int(CtlExit::DeviceError));
        }
    }

    // Sessions recorded once and kept: the program today must make the same requests.
    // A legitimate change of the requests needs the trace recorded again
    // (tessaroctl-sim --record tests/traces/NAME.trace COMMAND).
    void keptTracesReplay_data()
    {
        QTest::addColumn<QString>("trace");
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("connect and info") << "info.trace" << QStringList{"info"};
        QTest::newRow("register edit and commit") << "set-commit.trace" << QStringList{"set", "gain=5", "--commit"};
        // IMAGE: a 1 KiB image of firmware "SW 2.5", written by the test.
        QTest::newRow("whole update") << "flash.trace" << QStringList{"flash", "IMAGE", "--yes"};
    }

    void keptTracesReplay()
    {
        QFETCH(QString, trace);
        QFETCH(QStringList, arguments);
        arguments.replaceInStrings(QRegularExpression(QStringLiteral("^IMAGE$")), writeImage(firmware(ImageSize, "SW 2.5")));
        QString error;
        QVERIFY2(sim::SimReplay::start(QStringLiteral(TESSARO_SOURCE_DIR "/tests/traces/") + trace, &error), qPrintable(error));
        const auto stopReplay = qScopeGuard([] { sim::SimReplay::stop(); });
        const Result result = run(arguments);
        QCOMPARE(result.status, int(CtlExit::Ok));
        QVERIFY2(sim::SimReplay::active()->finished(), qPrintable(sim::SimReplay::active()->divergence()));
    }

    // The support report: every part it lists and nothing else, the unit's registers as a
    // dump reads them, and the newest trace events while the program records.
    void supportReport_data()
    {
        QTest::addColumn<bool>("recording");
        QTest::newRow("recording") << true;
        QTest::newRow("not recording") << false;
    }

    void supportReport()
    {
        QFETCH(bool, recording);
        setUpBench(Bench::OneSensor);
        QString error;
        if (recording)
            QVERIFY(HidRecorder::start(fixture->dir() + QStringLiteral("/session.trace"), {}, &error));
        const Result result = run({QStringLiteral("report"), QStringLiteral("support.json")});
        HidRecorder::stop();
        QCOMPARE(result.status, int(CtlExit::Ok));
        QFile file(fixture->dir() + QStringLiteral("/support.json"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QJsonObject report = QJsonDocument::fromJson(file.readAll()).object();
        QCOMPARE(report.keys(), QStringList({"catalogue", "created", "debug", "format", "kernel", "os", "program", "report",
                                             "state", "trace", "unit", "updateLog", "version"}));
        const QJsonObject dumped = QJsonDocument::fromJson(run({QStringLiteral("dump")}).out.toUtf8()).object();
        QCOMPARE(report.value("unit").toObject().value("registers"), dumped.value("registers"));
        QCOMPARE(report.value("state").toString(), QStringLiteral("sensor sim/1209:0001:00: ready"));
        const QByteArray idRequest = "00" + QByteArray("app:id;").toHex();
        const QJsonArray events = report.value("trace").toArray();
        QCOMPARE(std::any_of(events.begin(), events.end(),
                             [&](const QJsonValue& event) { return event.toObject().value("data").toString().startsWith(idRequest); }),
                 recording);
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
        const Bench wrong = Bench::ReadsBackWrong, noValues = Bench::ValuesThatDoNotConvert;
        const Bench noIdentity = Bench::IdentityNotRead, resetRefused = Bench::ResetRefused;
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
        row("info: identity not read", noIdentity, "info", CtlExit::DeviceError, "identity not read");
        row("info: terminal controls from the device", Bench::ControlsInReplies, "info", ok,
            "id:          TS\uFFFD[2J\uFFFDfake|build:       2026:\uFFFD[1mBOLD\uFFFD");
        row("report: terminal controls from the device, escaped", Bench::ControlsInReplies, "report", ok,
            "\"TS\\u001b[2J\\nfake|\\u0085\"");
        row("get", one, "get,gain,sens:fps", ok, "sens:fps = 100 (Normal)");
        row("get: all", one, "get", ok, "sens:pwrsave = 0");
        row("get: values that do not convert", noValues, "get,gain,expo,mirror", CtlExit::DeviceError,
            "sens:gain = ?|sens:expo = ?|sens:mirror = ?");
        row("set", one, "set,gain=7,fps=fAST", ok, "sens:fps = 120 (Fast)", {"sens:write:gain:7;", "sens:write:fps:120;"});
        row("set --commit", one, "set,pen:hover=off,--commit", ok, "committed", {"pen:write:hover:0;"}, 1);
        row("set: out of range, nothing sent", one, "set,expo=500,gain=17", refused,
            "sens:gain: value \"17\" refused, accepted: 1..16");
        row("set: not a choice", one, "set,fps=90", refused, "accepted: 120 (Fast), 100 (Normal), 60 (Slow)");
        row("set: no value", one, "set,gain", refused, "\"gain\" is not NAME=VALUE");
        row("set: a register named twice, nothing sent", one, "set,sens:gain=6,gain=7", refused, "sens:gain is named twice");
        row("set --commit: reset refused", resetRefused, "set,pen:hover=off,--commit", CtlExit::DeviceError,
            "the sensor did not acknowledge sens:reset; (it answered \"sens:reset:err;\")", {"pen:write:hover:0;"}, 1);
        row("set: reads back wrong", wrong, "set,gain=4,--commit", CtlExit::VerificationFailed,
            "reads back 3, not 4", {"sens:write:gain:4;"});
        row("set: device fails", fails, "set,gain=5", CtlExit::DeviceError, "writing sens:gain failed", {"sens:write:gain:5;"});
        row("preset, as a choice: any letter case, spaces around", one, "preset, dim ROOM ", ok, "sens:gain = 6|preset \"Dim room\" applied", some, 1);
        row("preset: reads back wrong", wrong, "preset,Default", CtlExit::VerificationFailed,
            "sens:thrauto reads back 3, not 20; nothing committed", some);
        row("preset: reset refused", resetRefused, "preset,Default", CtlExit::DeviceError, "did not acknowledge sens:reset;", some, 1);
        row("preset: list", one, "preset", ok, "Bright room: ");
        row("preset: unknown", one, "preset,Disco", refused, "no preset \"Disco\"");
        row("easy", one, "easy", ok, "mode:     automatic");
        row("easy: position", one, "easy,0", ok, "position: 0", some, 1);
        row("easy: beyond the table", one, "easy,99", refused, "easy position 99 refused");
        row("easy: reads back wrong", wrong, "easy,0", CtlExit::VerificationFailed, "sens:thrauto reads back 3, not 0", some);
        row("easy: no value", noValues, "easy", CtlExit::DeviceError, "no value for sens:thrauto");
        row("monitor", one, "monitor,--count,3", ok, "calibration=idle");
        row("unknown command", one, "frobnicate", refused, "unknown command");
        row("unknown option", one, "list,--frob", refused, "Unknown option 'frob'.");
        row("unknown option --json", one, "list,--json,--frob", refused, "\"error\": \"Unknown option 'frob'.");
        row("help", nothing, "--help", ok, "Exit status: 0 ok, 1 device error, 2 refused input, 3 no device,|"
            "-d, --device|-y, --yes|-n, --count|-v, --verbose|--commit                  set/load: store in the sensor permanently");
        // A dump to load: '@' and the file's content, '+' standing for ',', '%' for 1 MiB of spaces.
        row("load: not JSON", one, "load,@gain=4", refused, "not a register dump");
        row("load: out of range, nothing sent", one, R"(load,@{"registers":{"sens:gain":4+"sens:expo":5000}})", refused,
            "sens:expo: value 5000 refused, accepted: 10..1000");
        row("load: not a number", one, R"(load,@{"registers":{"sens:gain":"4"}})", refused, "value \"4\" refused");
        row("load: short names, written as checked", one, R"(load,@{"registers":{"expo":300+"gain":6}})", ok,
            "sens:expo = 300", {"sens:write:gain:6;", "sens:write:expo:300;"});
        row("load: a register twice", one, R"(load,@{"registers":{"gain":6+"sens:gain":7}})", refused,
            "sens:gain is in the dump twice");
        row("load: no value", one, R"(load,@{"registers":{"sens:gain":null}})", refused, "sens:gain: no value in the dump");
        row("load: another model", one, R"(load,@{"configfile":"tessaro_t9.json"+"registers":{"sens:gain":4}})", refused,
            "is a dump of the model \"tessaro_t9.json\", this sensor's is tessaro_t1.json; --force loads it anyway");
        row("load --force: another model", one, R"(load,@{"configfile":"tessaro_t9.json"+"registers":{"sens:gain":4}},--force)",
            ok, "sens:gain = 4", {"sens:write:gain:4;"});
        row("load: over 1 MiB, not read", one, R"(load,@{"registers":{"sens:gain":4}}%)", refused, "larger than 1 MiB");
        row("load: another model's register", one, R"(load,@{"registers":{"sens:laser":1}})", refused,
            "unknown register \"sens:laser\"");
        row("load: a key with terminal controls", one, "load,@{\"registers\":{\"sens:\\u001b[2J\\u202e\":1}}", refused,
            "unknown register \"sens:\uFFFD[2J\uFFFD\"");
        // The same key in JSON: escaped, so that a reader gets it back whole and a terminal shows it inert.
        row("load --json: a key with terminal controls", one, "load,@{\"registers\":{\"sens:\\u001b[2J\\u202e\":1}},--json",
            refused, "sens:\\u001b[2J\\u202e");
        // The keys of each JSON document (the pen present).
        row("list --json", one, "list,--json", ok, R"("devices"|"path"|"type"|"state"|"firmware")");
        row("info --json", one, "info,--json", ok,
            R"("id"|"hardware"|"firmware"|"build"|"point"|"x"|"data"|"battery"|"running"|"corners"|"y")");
        row("get --json", one, "get,gain,--json", ok, R"("registers"|"sens:gain")");
        row("set --json", one, "set,gain=5,--json", ok, R"("registers"|"committed")", {"sens:write:gain:5;"});
        row("dump --json", one, "dump,--json", ok, R"("configfile"|"firmware"|"cal:keep")");
        row("dump: values that do not convert", noValues, "dump", CtlExit::DeviceError, R"("sens:gain": null|"sens:mirror": null)");
        row("dump: identity not read", noIdentity, "dump", CtlExit::DeviceError, "identity not read");
        row("preset --json", one, "preset,Default,--json", ok, R"("preset"|"writes"|"committed")", some, 1);
        row("easy --json", one, "easy,--json", ok, R"("mode"|"register"|"table"|"value"|"position")");
        // One compact object per line, with a time stamp, the same keys each tick, numbers as the device gives them.
        row("monitor --json", one, "monitor,--count,1,--json", ok, "\"corners\":null|\"battery\":100,|\"size\"|\"volts\":3.07}|\"time\":\"20");
        row("monitor --json: device fails", fails, "monitor,--count,1,--json", CtlExit::DeviceError,
            "{\"error\":\"the sensor at sim/1209:0001:00 stopped answering\",\"status\":1}");
        row("refused --json", one, "get,bogus,--json", refused, R"("error"|"status")");
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
        if (sensor)
            sensor->setPenPresent(arguments.contains(QLatin1String("--json")));
        for (QString& argument : arguments) {
            if (argument.startsWith(QLatin1Char('@')))
                argument = writeImage(argument.mid(1).replace(QLatin1Char('+'), QLatin1Char(','))
                                          .replace(QLatin1Char('%'), QString(1 << 20, QLatin1Char(' '))).toUtf8(),
                                      "config.json");
        }

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
            QCOMPARE(result.out.count(QLatin1Char('\n')), arguments.at(2).toInt());
    }

    // Names in a parameter file are letters, digits and '_': a row with another character is
    // refused with a message and nothing is sent for it, nor for a preset holding it.
    void parameterFileNamesAreNames_data()
    {
        QTest::addColumn<QString>("module");
        QTest::addColumn<QString>("regname");
        QTest::addColumn<QString>("hostile");  // in no command sent
        QTest::newRow(";") << "sens" << "gain;app:bootloader" << "gain;app";
        QTest::newRow(":") << "sens" << "gain:write:expo:1" << "gain:write";
        QTest::newRow("space") << "sens" << "gain x" << "gain x";
        QTest::newRow("; in the module") << "app:bootloader;sens" << "gain" << "bootloader;sens";
        QTest::newRow("empty") << "sens" << "" << ":read:;";
    }

    void parameterFileNamesAreNames()
    {
        QFETCH(QString, module);
        QFETCH(QString, regname);
        QFETCH(QString, hostile);
        QFile shipped(QStringLiteral(TESSARO_SOURCE_DIR "/data/sensors/tessaro_t1.json"));
        QVERIFY(shipped.open(QIODevice::ReadOnly));
        QJsonObject model = QJsonDocument::fromJson(shipped.readAll()).object();
        const QJsonObject row{{"name", "Evil"}, {"type", "int"}, {"module", module}, {"regname", regname},
                              {"min", "0"}, {"max", "9"}, {"value", "1"}};
        QJsonArray advanced = model.value("parameters_advanced").toArray();
        advanced.append(row);
        model.insert("parameters_advanced", advanced);
        QJsonArray presets = model.value("parameters_simple").toArray();
        presets.append(QJsonObject{{"name", "Evil"}, {"parameters", QJsonArray{QJsonObject{
            {"module", "sens"}, {"regname", "gain"}, {"value", "2"}}, row}}});
        model.insert("parameters_simple", presets);
        fixture->writeFile(QStringLiteral("sensors/tessaro_t1.json"), QJsonDocument(model).toJson());
        setUpBench(Bench::OneSensor);
        const Result all = run({"dump"});
        QCOMPARE(all.status, int(CtlExit::Ok));
        QVERIFY2(all.err.contains(QStringLiteral("row \"%1:%2\" refused: module and register names hold only letters, "
                                                 "digits and _").arg(module, regname)), qPrintable(all.err));
        QCOMPARE(run({"preset", "Evil"}).status, int(CtlExit::RefusedInput));
        const QStringList sent = SimFixture::commands(*sensor);
        QVERIFY(!sent.isEmpty());
        for (const QString& command : sent)
            QVERIFY2(command.count(QLatin1Char(';')) == 1 && !command.contains(hostile), qPrintable(command));
        QCOMPARE(writesReceived(*sensor), QStringList());
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

    // From a running sensor (into its bootloader, flashed, back with the new version) or a
    // unit already in its bootloader with a fault at one of its exchanges: never success, and
    // what cannot be flashed is refused before anything is erased.
    void flash_data()
    {
        QTest::addColumn<Bench>("bench");
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<bool>("terminal"); // standard input and output; asked, the user answers "n"
        QTest::addColumn<QString>("image"); // empty: a good image
        QTest::addColumn<int>("exchange");
        QTest::addColumn<int>("fault"); // sim::Fault at that exchange, -1 for a verify mismatch, -2: another program holds the unit's update lock
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("progress");
        const QStringList yes{"--yes"}, no;
        const Bench one = Bench::OneSensor, inBootloader = Bench::Bootloader;
        const int ok = CtlExit::Ok, refused = CtlExit::RefusedInput, fails = CtlExit::DeviceError;
        const int readFails = int(sim::Fault::ReadFails), writeFails = int(sim::Fault::WriteFails);
        QTest::newRow("plain lines") << one << yes << false << "" << 0 << 0 << ok << "write 100%";
        QTest::newRow("terminal bar") << one << yes << true << "" << 0 << 0 << ok << "\rverify [##############################] 100%";
        QTest::newRow("not a terminal, no --yes") << one << no << false << "" << 0 << 0 << refused << "";
        QTest::newRow("asked, answered no") << one << no << true << "" << 0 << 0 << refused << "";
        // A unit in its bootloader besides the sensor: which one to flash is not guessed.
        QTest::newRow("sensor and bootloader present") << Bench::SensorAndBootloader << yes << false << "" << 0 << 0
                                                       << int(CtlExit::MoreThanOneDevice) << "";
        QTest::newRow("no device") << Bench::NoDevice << yes << false << "" << 0 << 0 << int(CtlExit::NoDevice) << "";
        // Not a regular file (opening a pipe would block).
        QTest::newRow("a named pipe") << one << yes << false << "fifo" << 0 << 0 << refused << "";
        QTest::newRow("missing") << one << yes << false << "nothing.bin" << 0 << 0 << refused << "";
        // Refused by the bootloader it was sent to: started again on the firmware it had.
        QTest::newRow("sensor, image too large") << one << yes << false << "large" << 0 << 0 << refused
                                                 << "the unit is back on its old firmware SW 2.4 at sim/1209:0001:00";
        QTest::newRow("sensor, geometry refused") << one << yes << false << "geometry" << 0 << 0 << refused << "the unit is back on its old firmware SW 2.4";
        QTest::newRow("bootloader: clean run") << inBootloader << yes << false << "" << 0 << 0 << ok << "write 50%";
        QTest::newRow("first exchange (geometry)") << inBootloader << yes << false << "" << 1 << readFails << fails << "";
        // A request lost on its way never reaches the unit.
        QTest::newRow("first erase") << inBootloader << yes << false << "" << FirstErase << writeFails << fails << "";
        QTest::newRow("middle write") << inBootloader << yes << false << "" << MiddleWrite << readFails << fails << "";
        QTest::newRow("last verify read") << inBootloader << yes << false << "" << LastRead << readFails << fails << "";
        QTest::newRow("verify mismatch") << inBootloader << yes << false << "" << 0 << -1 << int(CtlExit::VerificationFailed) << "";
        QTest::newRow("start of the application lost") << inBootloader << yes << false << "" << RunApplication << writeFails << fails << "";
        QTest::newRow("image larger than the application area") << inBootloader << yes << false << "large" << 0 << 0 << refused << "";
        QTest::newRow("empty image") << inBootloader << yes << false << "empty" << 0 << 0 << refused << "";
        QTest::newRow("sensor another program updates") << one << yes << false << "" << 0 << -2 << fails << "";
        QTest::newRow("bootloader another program updates") << inBootloader << yes << false << "" << 0 << -2 << fails << "";
    }

    void flash()
    {
        QFETCH(Bench, bench);
        QFETCH(QStringList, options);
        QFETCH(bool, terminal);
        QFETCH(QString, image);
        QFETCH(int, exchange);
        QFETCH(int, fault);
        QFETCH(int, status);
        QFETCH(QString, progress);
        setUpBench(bench);
        // A whole flash per row: its debug lines would take the run past Qt Test's message limit.
        QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
        const auto loud = qScopeGuard([] { QLoggingCategory::setFilterRules(QString()); });
        if (sensor)
            sensor->setReenumerates(true, std::chrono::milliseconds(10));
        if (image == QLatin1String("geometry"))  // a page size that is not whole write blocks
            sensor->setBootloaderGeometry({32768, 16, 0, 4096});
        UpdateLock otherProgram;
        if (fault == -2)
            QVERIFY(otherProgram.acquire(UpdateLock::unitName(0x1209, QStringLiteral("SIM0001"))));
        if (fault == -1)
            loader->setReadCorruption(ImageSize / 2);
        else if (fault > 0)
            loader->injectFault(exchange, static_cast<sim::Fault>(fault));
        // One byte more than the application area, or nothing.
        QString path = writeImage(image == QLatin1String("large") ? QByteArray(28673, '\x11')
                                  : image == QLatin1String("empty") ? QByteArray() : firmware(ImageSize, "SW 2.5"));
        if (image == QLatin1String("fifo") || image == QLatin1String("nothing.bin"))
            path = fixture->dir() + QLatin1Char('/') + image;
        if (image == QLatin1String("fifo"))
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);

        const Result result = run(QStringList{QStringLiteral("flash"), path} + options, "n\n", terminal, terminal);
        QCOMPARE(result.status, status);
        const bool backOnOldFirmware = sensor && (image == QLatin1String("large") || image == QLatin1String("geometry"));
        if (sensor)
            QCOMPARE(sensor->bootloaderRequests(), status == CtlExit::Ok || backOnOldFirmware ? 1 : 0);
        if (backOnOldFirmware)
            QVERIFY2(result.err.contains(progress) && sensor->plugged(), qPrintable(result.err));
        // Erased only when the image was fit and the erase requests reached the unit.
        if (loader)
            QCOMPARE(loader->requestCount(SimBootloader::ErasePage) > 0,
                     status != CtlExit::RefusedInput && exchange != 1 && exchange != FirstErase && fault != -2);
        if (fault == -2) {
            QVERIFY2(result.err.contains(QLatin1String(UpdateLock::HeldText)), qPrintable(result.err));
            QCOMPARE(loader ? loader->requestCount(SimBootloader::GetInfo) : 0, 0);
        }
        QCOMPARE(result.out.contains(QLatin1String("sensor back at")), status == CtlExit::Ok);
        // Every run that reached a unit is recorded, with the unit, its firmware before and
        // after, and this program.
        const QByteArray log = logged();
        const bool reached = status == CtlExit::Ok || backOnOldFirmware
                             || (bench == Bench::Bootloader && image != QLatin1String("empty") && fault != -2);
        QCOMPARE(runsIn(log), reached ? 1 : 0);
        const QString unit = bench == Bench::Bootloader ? "unit unknown | hardware unknown | firmware unknown"
                                                     : "unit TS-000123 | hardware HW 1.1 | firmware SW 2.4";
        const QString header = QStringLiteral("%1 | %2 -> %3 | program tessaroctl " TESSARO_VERSION "\n")
                                   .arg(status == CtlExit::Ok ? "): verified" : "", unit,
                                        status == CtlExit::Ok ? "SW 2.5" : backOnOldFirmware ? "SW 2.4" : "not back");
        if (reached)
            QVERIFY2(log.contains(header.toUtf8()), log.constData());
        if (status != CtlExit::Ok)
            return;
        QVERIFY2(result.out.contains(progress), qPrintable(result.out));
        QVERIFY(result.out.contains(QLatin1String("Updated succesfully!\n")));
        if (loader)
            QCOMPARE(loader->applicationVersion(), std::string("SW 2.5"));
        else
            QVERIFY(result.out.endsWith(QLatin1String("sensor back at sim/1209:0001:00, firmware SW 2.5\nUpdated succesfully!\n")));
    }

    // The log holds whole runs, with what a file name or the device said kept on its line;
    // it is never written through a link, and a disk that fills up part-way leaves it as it was.
    void flashLogHoldsWholeRuns_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<bool>("recorded");
        QTest::newRow("newline in the image name") << "newline" << true;
        QTest::newRow("full log drops its oldest runs") << "full" << true;
        QTest::newRow("link at the log's path") << "link" << false;
        QTest::newRow("link to nothing at the log's path") << "link, dangling" << false;
        QTest::newRow("disk full part-way") << "diskfull" << false;
    }

    void flashLogHoldsWholeRuns()
    {
        QFETCH(QString, setup);
        QFETCH(bool, recorded);
        setUpBench(Bench::Bootloader);
        const QString path = FlashLog::filePath();
        const QString target = fixture->dir() + QStringLiteral("/elsewhere");
        const QByteArray earlier = "== 2026-01-01T00:00:00 image old.bin (1 bytes): verified\n   Updated succesfully!\n";
        const QByteArray before = setup == "full" ? earlier.repeated(int(FlashLog::MaxBytes / earlier.size())) : earlier;
        QFile file(setup.startsWith("link") ? target : path);
        QVERIFY(QDir().mkpath(QFileInfo(path).path()) && file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(before), before.size());
        file.close();
        if (setup.startsWith("link"))
            QVERIFY(QFile::link(setup == "link" ? target : target + "-gone", path));
        // Whole flashes: their device lines would use up the run's budget of messages.
        QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
        const auto restore = qScopeGuard([] { FlashLog::writeBytes = ::write; QLoggingCategory::setFilterRules(QString()); });
        if (setup == "diskfull") {
            FlashLog::writeBytes = [](int fd, const void* data, size_t size) -> ssize_t {
                if (::write(fd, data, size / 2) >= 0)
                    errno = ENOSPC;
                return -1;
            };
        }
        const QString name = setup == "newline" ? QStringLiteral("x\n== forged: verified\n.0001.bin") : QStringLiteral("x.0001.bin");
        const Result result = run({QStringLiteral("flash"), writeImage(firmware(ImageSize, "SW 2.5"), name), QStringLiteral("--yes")});
        QCOMPARE(result.status, CtlExit::Ok);
        QCOMPARE(result.err.contains(QLatin1String("could not record the run in")), !recorded);
        QFile after(setup.startsWith("link") ? target : path);
        QVERIFY(after.open(QIODevice::ReadOnly));
        const QByteArray content = after.readAll();
        if (!recorded) {
            QCOMPARE(content, before);
            QCOMPARE(QFileInfo(path).isSymLink(), setup.startsWith("link"));
            QVERIFY(!QFile::exists(target + "-gone"));
            return;
        }
        // Older runs whole (some dropped when full), then this one, each line of it indented.
        QVERIFY(content.startsWith(earlier) && content.size() <= FlashLog::MaxBytes);
        QCOMPARE(content.size() < before.size(), setup == "full");
        const QByteArray newest = content.mid(content.lastIndexOf("\n== ") + 1);
        QCOMPARE(runsIn(newest), 1);
        QVERIFY(newest.endsWith("   Updated succesfully!\n"));
        QVERIFY(newest.left(newest.indexOf('\n')).contains(QString(name).replace(QLatin1Char('\n'), QChar(QChar::ReplacementCharacter)).toUtf8()));
    }

    // The program itself over the simulated sensor: debug lines only with --verbose, the
    // result on standard output, the status as exit code; a signal once a line has come out
    // (a flash goes on through it and says so, a monitor stops); output that is lost.
    void program_data()
    {
        QTest::addColumn<QStringList>("arguments"); // IMAGE: a good image
        QTest::addColumn<QString>("event");  // "SIG@line": a signal after that line ("ctrlc": typed); "full", "closed": standard output; "head": piped into head -n 6
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("out");  // each part between '|' is in it
        QTest::addColumn<QString>("err");  // empty: standard error stays empty; else as out
        QTest::addColumn<QString>("inLog");  // the update log holds it (empty: not checked)
        const QString held = "the flash cannot be interrupted now; it goes on to its end";
        const QString lost = "tessaroctl: could not write standard output";

        QTest::newRow("list") << QStringList{"list"} << "" << CtlExit::Ok << "sensor      sim/1209:0001:00" << "" << "";
        // A relative trace file is where the user is, not beside the program.
        QTest::newRow("list, recorded") << QStringList{"--record", "session.trace", "list"} << "" << CtlExit::Ok
                                        << "sensor      sim/1209:0001:00" << "" << "";
        QTest::newRow("list --verbose") << QStringList{"list", "--verbose"} << "" << CtlExit::Ok << "sensor"
                                        << "Path:          sim/1209:0001:00" << "";
        QTest::newRow("set refused") << QStringList{"set", "gain=99"} << "" << CtlExit::RefusedInput << ""
                                     << "tessaroctl: sens:gain: value \"99\" refused, accepted: 1..16" << "";
        QTest::newRow("monitor until terminated") << QStringList{"monitor"} << "TERM@calibration" << CtlExit::Ok
                                                  << "calibration=idle" << "" << "";
        QTest::newRow("monitor until interrupted") << QStringList{"monitor"} << "INT@calibration" << CtlExit::Ok
                                                   << "calibration=idle" << "" << "";
        QTest::newRow("dump to a full disk") << QStringList{"dump"} << "full" << CtlExit::DeviceError << "" << lost << "";
        QTest::newRow("info --json, output closed") << QStringList{"info", "--json"} << "closed" << CtlExit::DeviceError
                                                    << "" << "standard output is closed" << "";
        // On a terminal (script(1) gives it one), Ctrl+C typed at the question.
        QTest::newRow("flash: Ctrl+C at the question") << QStringList{"flash", "IMAGE"} << "ctrlc@[y/N]"
                                                       << CtlExit::RefusedInput << "interrupted; nothing sent" << "" << "";
        QTest::newRow("flash: hang-up while writing") << QStringList{"flash", "IMAGE", "--yes"} << "HUP@Start flashing"
                                                      << CtlExit::Ok << "waiting 5 s for the bootloader to settle before erasing|sensor back at" << "hang-up (SIGHUP): " + held
                                                      << "): verified";
        QTest::newRow("flash: terminated while writing") << QStringList{"flash", "IMAGE", "--yes"} << "TERM@Start flashing"
                                                         << CtlExit::Ok << "sensor back at" << "SIGTERM: " + held
                                                         << "SIGTERM: " + held;
        QTest::newRow("flash | head: the reader leaves while erasing")
            << QStringList{"flash", "IMAGE", "--yes"} << "head" << CtlExit::Ok << "Start flash erase"
            << "standard output closed (SIGPIPE): " + held + "|" + lost + "|status 1" << "): verified";
    }

    void program()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, event);
        QFETCH(int, status);
        QFETCH(QString, out);
        QFETCH(QString, err);
        QFETCH(QString, inLog);
        arguments.replaceInStrings(QStringLiteral("IMAGE"), writeImage(firmware(ImageSize, "SW 2.5")));
        QString command = QCoreApplication::applicationDirPath() + QStringLiteral("/tessaroctl-sim");
        // The program's own status is shown on standard error after a pipe.
        const QString shell = event == QLatin1String("closed") ? QStringLiteral("exec \"$0\" \"$@\" >&-")
            : event == QLatin1String("head") ? QStringLiteral("{ \"$0\" \"$@\"; echo \"status $?\" >&2; } | head -n 6")
                                             : QString();
        if (!shell.isEmpty()) {
            arguments = QStringList{QStringLiteral("-c"), shell, command} + arguments;
            command = QStringLiteral("/bin/sh");
        }
        const bool typed = event.startsWith(QLatin1String("ctrlc"));
        if (typed) {
            if (!QFileInfo::exists(QStringLiteral("/usr/bin/script")))
                QSKIP("needs script(1) for a terminal");
            // exec: a shell left waiting (dash, when $SHELL is unset) dies of the typed Ctrl+C itself.
            arguments = QStringList{QStringLiteral("-qec"),
                                    (QStringList{QStringLiteral("exec"), command} + arguments).join(QLatin1Char(' ')),
                                    QStringLiteral("/dev/null")};
            command = QStringLiteral("/usr/bin/script");
        }
        QProcess program;
        if (event == QLatin1String("full"))
            program.setStandardOutputFile(QStringLiteral("/dev/full"));
        program.start(command, arguments);
        QVERIFY(program.waitForStarted());
        QString output;
        const QString trigger = event.section(QLatin1Char('@'), 1);
        if (!trigger.isEmpty()) {
            QTRY_VERIFY_WITH_TIMEOUT((output += QString::fromUtf8(program.readAll())).contains(trigger), 20000);
            const QString action = event.section(QLatin1Char('@'), 0, 0);
            if (typed)
                program.write("\x03");
            else
                QCOMPARE(::kill(static_cast<pid_t>(program.processId()),
                                action == "HUP" ? SIGHUP : action == "INT" ? SIGINT : SIGTERM), 0);
        }
        QVERIFY(program.waitForFinished(60000));
        output += QString::fromUtf8(program.readAllStandardOutput());
        const QString errors = QString::fromUtf8(program.readAllStandardError());
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), status);
        for (const QString& part : out.split(QLatin1Char('|')))
            QVERIFY2(output.contains(part), qPrintable(output));
        if (err.isEmpty())
            QVERIFY2(errors.isEmpty(), qPrintable(errors));
        for (const QString& part : err.split(QLatin1Char('|'), Qt::SkipEmptyParts))
            QVERIFY2(errors.contains(part), qPrintable(errors));
        QVERIFY2(inLog.isEmpty() || logged().contains(inLog.toUtf8()), logged().constData());
        const int record = arguments.indexOf(QStringLiteral("--record"));
        QVERIFY(record < 0 || QFileInfo(QDir::current().filePath(arguments.value(record + 1))).size() > 0);
    }
};

TESSARO_TEST_MAIN(tst_tessaroctl)
#include "tst_tessaroctl.moc"
