// The simulated sensor as the tool sees it: malformed commands are refused, replies set by
// a test reach the tool while the model still acts, the report log stays bounded, and its
// live data as the data poll reads it: the exact replies of a held model with and without
// the pen, time moving the pen, battery, running time, pairing and a calibration's four points.
#include "device/tessaro.h"
#include "sim/simpen.h"
#include "simfixture.h"
#include "testmain.h"

#include <optional>

using namespace std::chrono_literals;

class tst_simsensor : public QObject
{
    Q_OBJECT

private:
    std::optional<SimFixture> fixture;
    QPointer<tessaro> device;
    std::shared_ptr<sim::SimSensor> sensor;

    QString send(const QString& command) { return SimFixture::reply(device, command.toLocal8Bit()); }

    // Field index of the reply as a number (not the last field, which ends in ';').
    int field(const QString& command, int index)
    {
        return send(command).split(QLatin1Char(':')).value(index, QStringLiteral("-1")).toInt();
    }

    // Corners as the poll reads them: field 3 of "cal:read:x1;", "cal:read:y1;" and so on.
    sim::Corners readCorners()
    {
        sim::Corners c;
        for (std::size_t i = 0; i < 4; ++i) {
            c.x[i] = field(QStringLiteral("cal:read:x%1;").arg(i + 1), 3);
            c.y[i] = field(QStringLiteral("cal:read:y%1;").arg(i + 1), 3);
        }
        return c;
    }

private slots:
    void init()
    {
        fixture.emplace();
        device = fixture->connectSensor(sensor);
        QVERIFY(device);
        // Time passes only through advanceTime() unless a test lets the clock run.
        sensor->setLiveMotion(false);
    }

    void cleanup() { fixture.reset(); }

    void reportLogKeepsOnlyTheNewest()
    {
        // A long demo run must not grow without end.
        unsigned char reply[TessaroLink::ReportBufferSize];
        for (std::size_t i = 0; i < sim::MaxLoggedReports; ++i)
            QVERIFY(device->sendCommand("sens:point;", reply));
        QVERIFY(device->sendCommand("app:id;", reply));
        QCOMPARE(sensor->receivedReports().size(), sim::MaxLoggedReports);
        QCOMPARE(SimFixture::commands(*sensor).constLast(), QStringLiteral("app:id;"));
    }

    // Held pen data, so that every reply is exact.
    void commandReplies_data()
    {
        QTest::addColumn<bool>("pen");
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("reply");
        QTest::addColumn<QString>("counted");  // the action the sensor counts, if any
        QTest::newRow("commit") << true << "sens:commit;" << "sens:commit:ok;" << "commit";
        QTest::newRow("reset") << true << "sens:reset;" << "sens:reset:ok;" << "reset";
        QTest::newRow("bootloader") << true << "app:bootloader;" << "app:bootloader:ok;" << "bootloader";
        QTest::newRow("unknown register") << true << "sens:read:bogus;" << "sens:read:bogus:err;" << "";
        QTest::newRow("register of another module") << true << "pen:read:conf1thr;" << "pen:read:conf1thr:err;" << "";
        QTest::newRow("no semicolon") << true << "sens:read:gain" << "sens:read:gain:err;" << "";
        QTest::newRow("write without value") << true << "sens:write:gain;" << "sens:write:gain:err;" << "";
        QTest::newRow("write of empty value") << true << "sens:write:gain:;" << "sens:write:gain::err;" << "";
        QTest::newRow("value with colon") << true << "sens:write:gain:1:2;" << "sens:write:gain:1:2:err;" << "";
        QTest::newRow("commit with argument") << true << "sens:commit:now;" << "sens:commit:now:err;" << "";
        QTest::newRow("bootloader with argument") << true << "app:bootloader:now;" << "app:bootloader:now:err;" << "";
        QTest::newRow("empty") << true << ";" << ":err;" << "";
        QTest::newRow("point") << true << "sens:point;" << "sens:point:512:384:10:1;" << "";
        QTest::newRow("point, no pen") << false << "sens:point;" << "sens:point:0:0:0:0;" << "";
        QTest::newRow("pen state") << true << "pen:state;" << "pen:2:100:7200;" << "";
        QTest::newRow("pen state, no pen") << false << "pen:state;" << "pen:0:0:0;" << "";
        QTest::newRow("pen id") << true << "pen:id;" << "pen:id:50:P-9:00A3;" << "";
        QTest::newRow("pen id, no pen") << false << "pen:id;" << "pen:id:0::0000;" << "";
        QTest::newRow("calibration state") << true << "cal:state;" << "cal:state:0:0;" << "";
        QTest::newRow("corner x2") << true << "cal:read:x2;" << "cal:read:x2:900:ok;" << "";
        QTest::newRow("corner y3, no pen") << false << "cal:read:y3;" << "cal:read:y3:700:ok;" << "";
        QTest::newRow("corner 0") << true << "cal:read:x0;" << "cal:read:x0:err;" << "";
        QTest::newRow("corner 5") << true << "cal:read:x5;" << "cal:read:x5:err;" << "";
        QTest::newRow("corner with leading zero") << true << "cal:read:x01;" << "cal:read:x01:err;" << "";
        QTest::newRow("corner of another axis") << true << "cal:read:z1;" << "cal:read:z1:err;" << "";
        QTest::newRow("corner with a value") << true << "cal:read:x1:5;" << "cal:read:x1:5:err;" << "";
        QTest::newRow("point with a value") << true << "sens:point:1;" << "sens:point:1:err;" << "";
        QTest::newRow("calibration start with a value") << true << "cal:start:now;" << "cal:start:now:err;" << "";
    }

    void commandReplies()
    {
        QFETCH(bool, pen);
        QFETCH(QString, command);
        QFETCH(QString, reply);
        QFETCH(QString, counted);
        sensor->setPenPoint(512, 384, 10, 1);
        sensor->setBatteryReading(100);
        sensor->setRunningSeconds(7200);
        sensor->setPairing(50);
        sensor->setPenId("P-9");
        sensor->setPenVersion(0xA3);
        sensor->setPenPresent(pen);
        QCOMPARE(send(command), reply);
        QCOMPARE(sensor->commitCount(), int(counted == QLatin1String("commit")));
        QCOMPARE(sensor->resetCount(), int(counted == QLatin1String("reset")));
        QCOMPARE(sensor->bootloaderRequests(), int(counted == QLatin1String("bootloader")));
        QCOMPARE(sensor->registerValue("sens", "gain"), std::optional<std::string>("4"));
        QCOMPARE(sensor->registerValue("sens", "bogus"), std::nullopt);
        QVERIFY(!sensor->calibrationRunning());
    }

    void replacedRepliesStillAct()
    {
        // The reply a test sets reaches the tool, and the model still acts on the command.
        sensor->setReply("sens:commit;", "sens:commit:busy;");
        QCOMPARE(send("sens:commit;"), QStringLiteral("sens:commit:busy;"));
        QCOMPARE(sensor->commitCount(), 1);
        sensor->clearReply("sens:commit;");
        QCOMPARE(send("sens:commit;"), QStringLiteral("sens:commit:ok;"));
    }

    void timeMovesTheModel()
    {
        // Live, the clock moves the pen and drains the battery.
        sensor->setBatteryDrainTime(10ms);
        const QString point = send(QStringLiteral("sens:point;"));
        const int battery = field(QStringLiteral("pen:state;"), 2);
        sensor->setLiveMotion(true);
        QTRY_VERIFY(send(QStringLiteral("sens:point;")) != point);
        QTRY_VERIFY(field(QStringLiteral("pen:state;"), 2) >= battery + 3);
        // Held, only advanceTime() moves it: by whole steps, up to the ends.
        sensor->setLiveMotion(false);
        sensor->setBatteryDrainTime(1000ms);
        sensor->setBatteryReading(100);
        sensor->setRunningSeconds(0);
        sensor->setPairing(0);
        sensor->setPairingStepTime(100ms);
        QTest::qWait(50);
        QCOMPARE(send(QStringLiteral("pen:state;")), QStringLiteral("pen:2:100:0;"));
        sensor->advanceTime(5500ms);
        QCOMPARE(send(QStringLiteral("pen:state;")), QStringLiteral("pen:2:105:5;"));
        QCOMPARE(field(QStringLiteral("pen:id;"), 2), 55);
        sensor->advanceTime(60s);
        QCOMPARE(send(QStringLiteral("pen:state;")), QStringLiteral("pen:2:%1:65;").arg(sim::PenModel::EmptyBatteryReading));
        QCOMPARE(field(QStringLiteral("pen:id;"), 2), sim::PenModel::PairingComplete);
    }

    void calibrationWalksTheFourPoints()
    {
        const sim::Corners before = readCorners();
        QCOMPARE(before, sim::PenModel::defaultCorners());
        // Aborted at the third point: it stays stopped, with the corners from before.
        device->execCommand(QStringLiteral("cal:start;"));
        sensor->advanceTime(5s);
        QCOMPARE(send(QStringLiteral("cal:state;")), QStringLiteral("cal:state:1:3;"));
        QCOMPARE(send(QStringLiteral("cal:abort;")), QStringLiteral("cal:abort:ok;"));
        sensor->advanceTime(10s);
        QCOMPARE(send(QStringLiteral("cal:state;")), QStringLiteral("cal:state:0:0;"));
        QCOMPARE(readCorners(), before);
        // A start while one runs begins at the first point again; each point takes 2 s of
        // pen presence.
        QCOMPARE(send(QStringLiteral("cal:start;")), QStringLiteral("cal:start:ok;"));
        sensor->advanceTime(2s);
        device->execCommand(QStringLiteral("cal:start;"));
        sensor->setPenPresent(false);
        sensor->advanceTime(30s);
        sensor->setPenPresent(true);
        for (int point = 1; point <= 4; ++point) {
            QCOMPARE(send(QStringLiteral("cal:state;")), QStringLiteral("cal:state:1:%1;").arg(point));
            sensor->advanceTime(1999ms);
            QCOMPARE(sensor->calibrationPoint(), point);
            sensor->advanceTime(1ms);
        }
        QCOMPARE(send(QStringLiteral("cal:state;")), QStringLiteral("cal:state:0:0;"));
        QCOMPARE(sensor->calibrationsFinished(), 1);
        // The finished calibration stored new corners.
        QVERIFY(readCorners() != before);
    }
};

TESSARO_TEST_MAIN(tst_simsensor)
#include "tst_simsensor.moc"
