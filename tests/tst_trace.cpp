// The recorder at the HID boundary and the trace reader: faults recorded as they happened
// without changing the program's outcome, untrusted names kept exact, the size cap, an
// unwritable trace, and hostile trace files refused with the line named.
#include "device/tessaro.h"
#include "sim/simreplay.h"
#include "simfixture.h"
#include "testmain.h"
#include "trace/hidrecorder.h"
#include "trace/tracedhid.h"
#include "trace/tracereader.h"

#include <QFile>
#include <QRegularExpression>
#include <QScopeGuard>

#include <cerrno>
#include <cstdio>

#include <optional>

class tst_trace : public QObject
{
    Q_OBJECT

private:
    std::optional<SimFixture> fixture;

    QString startRecording(qint64 cap = HidRecorder::DefaultCap)
    {
        const QString path = fixture->dir() + QStringLiteral("/session.trace");
        QString error;
        return HidRecorder::start(path, {QStringLiteral("tst_trace"), QStringLiteral("0"), QByteArray("{}")}, &error, cap)
            ? path : error;
    }

    static QByteArray content(const QString& path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

private slots:
    void init() { fixture.emplace(); }

    void cleanup()
    {
        HidRecorder::stop();
        fixture.reset();
    }

    // The same exchange with and without recording: the same reply and link state, and
    // the trace holds what went wrong.
    void faultsRecordedUnchanged_data()
    {
        QTest::addColumn<int>("fault");
        QTest::addColumn<QString>("recorded");
        QTest::newRow("time-out") << int(sim::Fault::NoReply) << "\"result\":0,\"data\":\"\",\"timedOut\":true";
        QTest::newRow("garbage") << int(sim::Fault::Garbage) << "\"result\":64,\"data\":\"21282f36";
        QTest::newRow("unplugged") << int(sim::Fault::Unplug) << "\"result\":-1,\"data\":\"006170703a69643b00";
        QTest::newRow("read fails") << int(sim::Fault::ReadFails)
                                    << "\"result\":-1,\"data\":\"\",\"error\":\"simulated HID error\"";
        QTest::newRow("write fails") << int(sim::Fault::WriteFails) << "\"result\":-1,\"data\":\"006170703a69643b00";
        // Late, but within a second wait: a time-out the recording swallowed would show.
        QTest::newRow("late reply") << int(sim::Fault::LateReply) << "\"result\":0,\"data\":\"\",\"timedOut\":true";
    }

    void faultsRecordedUnchanged()
    {
        QFETCH(int, fault);
        QFETCH(QString, recorded);
        QStringList outcomes;
        QString trace;
        for (const bool recording : {false, true}) {
            fixture.emplace();
            std::shared_ptr<sim::SimSensor> sensor;
            tessaro* link = fixture->connectSensor(sensor);
            QVERIFY(link);
            sensor->injectFault(1, static_cast<sim::Fault>(fault));
            sensor->setLateReplyDelay(std::chrono::milliseconds(TessaroLink::CommandTimeoutMs * 3 / 2));
            if (recording)
                trace = startRecording();
            outcomes << SimFixture::reply(link, "app:id;") + QString::number(link->isConnected);
            HidRecorder::stop();
        }
        QCOMPARE(outcomes.at(1), outcomes.at(0));
        QVERIFY2(content(trace).contains(recorded.toUtf8()), content(trace).constData());
    }

    // Paths and serial numbers come from devices: quotes, controls and bytes that are no
    // UTF-8 are escaped, and the reader gets the path's bytes back exactly.
    void untrustedNamesKeptExact()
    {
        sim::DeviceInfo info = sim::SimSensor::defaultInfo();
        info.path = "sim/\"q\\\n\x01\xc3\xff";
        info.serial = std::wstring(L"S\"\\\x01\x7f\x00e9") + wchar_t(0xd800);
        fixture->plugSensor(info);
        const QString trace = startRecording();
        TracedHid::freeEnumeration(TracedHid::enumerate());
        HidRecorder::stop();
        TraceReader reader;
        QVERIFY2(reader.readFile(trace), qPrintable(reader.errorText()));
        QCOMPARE(reader.events().size(), std::size_t(1));
        const TraceDevice& device = reader.events().front().devices.at(0);
        QCOMPARE(device.path, QByteArray(info.path.c_str()));
        QCOMPARE(QString::fromStdWString(device.serial), QString::fromStdWString(L"S\"\\\x01\x7f\x00e9\xfffd"));
    }

    // Past the cap the oldest events go; the first line and the newest events stay.
    void sizeCapKeepsNewest()
    {
        constexpr qint64 Cap = 4096;
        std::shared_ptr<sim::SimSensor> sensor;
        tessaro* link = fixture->connectSensor(sensor);
        const QString trace = startRecording(Cap);
        for (int i = 0; i < 100; ++i)
            SimFixture::reply(link, "app:id;");
        SimFixture::reply(link, "app:version;");
        HidRecorder::stop();
        const QByteArray written = content(trace);
        QVERIFY(written.size() <= Cap);
        TraceReader reader;
        QVERIFY2(reader.parse(written), qPrintable(reader.errorText()));
        QCOMPARE(reader.header().value("program").toString(), QStringLiteral("tst_trace"));
        QCOMPARE(TraceReader::reportText(reader.events().back().data), QStringLiteral("\"app:version:HW 1.1:SW 2.4:2026:11:20;\""));
    }

    // A trace that cannot be written is refused at the start, or reported once when a later
    // write fails; the exchanges go on as before.
    void unwritableTraceReportedOnce()
    {
        std::shared_ptr<sim::SimSensor> sensor;
        tessaro* link = fixture->connectSensor(sensor);
        QString error;
        QVERIFY(!HidRecorder::start(QStringLiteral("/dev/full"), {}, &error));
        QCOMPARE(error, QStringLiteral("cannot write /dev/full: No space left on device"));
        startRecording();
        const auto restore = qScopeGuard([] { HidRecorder::writeBytes = std::fwrite; });
        HidRecorder::writeBytes = [](const void*, std::size_t, std::size_t, std::FILE*) -> std::size_t {
            errno = ENOSPC;
            return 0;
        };
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^Recording stopped: could not write .*session.trace: No space left on device$"));
        for (int round = 0; round < 3; ++round) {
            QCOMPARE(SimFixture::reply(link, "app:id;"), QStringLiteral("app:id:TS-000123;"));
            HidRecorder::active()->flush();
        }
    }

    void hostileTraceRefused_data()
    {
        QTest::addColumn<QByteArray>("trace");
        QTest::addColumn<QString>("error");
        const QByteArray start = "{\"event\":\"start\",\"format\":1}" "\n";
        QTest::newRow("empty file") << QByteArray() << "line 1: empty file";
        QTest::newRow("not a trace") << QByteArray("\x7f" "ELF\x02\x01\n") << "line 1: not a JSON object";
        QTest::newRow("other format") << QByteArray("{\"event\":\"start\",\"format\":2}") << "line 1: trace format not known";
        QTest::newRow("garbage line") << start + "{\"t\":1,\"event\":\"write\"\n" << "line 2: not a JSON object";
        QTest::newRow("huge line") << start + "{\"event\":\"close\",\"handle\":1}\n" + QByteArray(TraceReader::MaxLineBytes + 1, 'x')
                                   << "line 3: longer than";
        QTest::newRow("unknown event") << start + "{\"event\":\"\\u001b[2J\"}" << "line 2: unknown event \"\xef\xbf\xbd[2J\"";
        QTest::newRow("write without data") << start + "{\"event\":\"write\",\"handle\":1,\"result\":65}"
                                            << "line 2: write without a valid \"data\"";
        QTest::newRow("odd hex") << start + "{\"event\":\"write\",\"handle\":1,\"result\":1,\"data\":\"abc\"}"
                                 << "line 2: write without a valid \"data\"";
        QTest::newRow("read longer than its result") << start + "{\"event\":\"read\",\"handle\":1,\"timeout\":0,\"result\":1,\"data\":\"0102\"}"
                                                     << "line 2: read whose \"data\" is not \"result\" bytes long";
        QTest::newRow("negative time") << start + "{\"t\":-1,\"event\":\"close\",\"handle\":1}" << "line 2: close without a valid \"t\"";
        QTest::newRow("handle out of range") << start + "{\"event\":\"close\",\"handle\":1e300}" << "line 2: close without a valid \"handle\"";
        QTest::newRow("device without path") << start + "{\"event\":\"enumerate\",\"devices\":[{\"vendor\":1,\"product\":1,\"interface\":0,\"serial\":\"\"}]}"
                                             << "line 2: enumerate with a device that lacks";
    }

    void hostileTraceRefused()
    {
        QFETCH(QByteArray, trace);
        QFETCH(QString, error);
        fixture->writeFile(QStringLiteral("hostile.trace"), trace);
        QString message;
        QVERIFY(!sim::SimReplay::start(fixture->dir() + QStringLiteral("/hostile.trace"), &message));
        QVERIFY2(message.contains(error), qPrintable(message));
        QVERIFY(!sim::SimReplay::active());
    }
};

TESSARO_TEST_MAIN(tst_trace)
#include "tst_trace.moc"
