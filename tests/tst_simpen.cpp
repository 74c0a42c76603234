// The simulated sensor's live data through a real connection: the pen point, pen state,
// pen identity, calibration state and corner replies have the fields the data poll reads,
// and they move with time as a sensor's do (the pen wanders, the battery drains, the
// running time grows, pairing completes, a calibration walks its four points).
#include "device/tessaro.h"
#include "sim/simpen.h"
#include "simfixture.h"
#include "testmain.h"

#include <QElapsedTimer>

#include <atomic>
#include <cstring>
#include <optional>
#include <thread>

using namespace std::chrono_literals;

namespace {

// A calibration step long enough for the test to see every point, short enough to be quick.
constexpr auto QuickStep = 250ms;

QString corner(char axis, int n)
{
    return QStringLiteral("cal:read:%1%2;").arg(QLatin1Char(axis)).arg(n);
}

} // namespace

class tst_simpen : public QObject
{
    Q_OBJECT

private:
    std::optional<SimFixture> fixture;
    QPointer<tessaro> device;
    std::shared_ptr<sim::SimSensor> sensor;

    QString send(const QString& command, bool* ok = nullptr)
    {
        unsigned char reply[TessaroLink::ReportBufferSize];
        std::memset(reply, 0xAA, sizeof reply);
        const QByteArray bytes = command.toLocal8Bit();
        const bool result = device->sendCommand(bytes.constData(), reply);
        if (ok)
            *ok = result;
        return QString::fromLocal8Bit(reinterpret_cast<const char*>(reply));
    }

    // The reply's colon fields, parsed as the data poll parses them.
    QStringList fields(const QString& command)
    {
        unsigned char reply[TessaroLink::ReportBufferSize] = {};
        const QByteArray bytes = command.toLocal8Bit();
        if (!device->sendCommand(bytes.constData(), reply))
            return {};
        return colonFields(reply);
    }

    int field(const QString& command, int index)
    {
        const QStringList list = fields(command);
        return index < list.size() ? list.at(index).toInt() : -1;
    }

    // Corners as the poll reads them: x1, y1, x2, y2, ... and field 3 of each reply.
    sim::Corners readCorners()
    {
        sim::Corners c;
        for (int i = 1; i <= 4; ++i) {
            c.x[static_cast<std::size_t>(i - 1)] = fields(corner('x', i)).value(3).toInt();
            c.y[static_cast<std::size_t>(i - 1)] = fields(corner('y', i)).value(3).toInt();
        }
        return c;
    }

    static bool plausible(const sim::Corners& c)
    {
        for (std::size_t i = 0; i < 4; ++i) {
            if (c.x[i] < 1 || c.x[i] > 1023 || c.y[i] < 1 || c.y[i] > 767)
                return false;
        }
        // Top left, top right, bottom right, bottom left, each side of real length.
        return c.x[1] - c.x[0] > 400 && c.x[2] - c.x[3] > 400 && c.y[3] - c.y[0] > 300 && c.y[2] - c.y[1] > 300;
    }

    // Polls "cal:state;" until no calibration runs (or the time is up) and returns each
    // distinct point seen in order, 0 for the end.
    QList<int> watchCalibration(int timeoutMs)
    {
        QList<int> seen;
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < timeoutMs) {
            const QStringList f = fields(QStringLiteral("cal:state;"));
            if (f.size() != 4)
                return seen << -1;
            const int point = f.at(2) == QLatin1String("0") ? 0 : f.at(3).toInt();
            if (seen.isEmpty() || seen.last() != point)
                seen << point;
            if (point == 0)
                break;
            QTest::qWait(10);
        }
        return seen;
    }

    // One tick of the connection's hot-plug timer.
    void hotplugTick()
    {
        device->hotplugWorker();
    }

private slots:
    void init()
    {
        fixture.emplace();
        fixture->writeCatalogue({SimFixture::sensorEntry()});
        sensor = fixture->plugSensor();
        device = new tessaro;
        device->SetHotPlugTimerState(false);
        hotplugTick();
        QVERIFY(device->isConnected);
        sensor->clearLog();
    }

    void cleanup()
    {
        if (device)
            device->disconnectDevice();
        delete device;
        sensor.reset();
        fixture.reset();
    }

    // --- the shapes the poll reads ---

    void everyPollReplyParses()
    {
        // One poll tick with a corner read, checked field by field as the poll reads it.
        const QStringList point = fields(QStringLiteral("sens:point;"));
        QCOMPARE(point.size(), 6);
        QCOMPARE(point.mid(0, 2), QStringList({"sens", "point"}));
        for (int i = 2; i <= 5; ++i) {
            bool ok = false;
            point.at(i).toInt(&ok);
            QVERIFY2(ok, qPrintable(point.join(QLatin1Char(':'))));
        }
        QVERIFY(point.at(2).toInt() >= 1 && point.at(2).toInt() <= 1023);
        QVERIFY(point.at(3).toInt() >= 1 && point.at(3).toInt() <= 767);
        QVERIFY(point.at(4).toInt() > 0);
        QCOMPARE(point.at(5), QStringLiteral("1"));

        // The pen state carries no action echo: its state is field 1.
        const QStringList state = fields(QStringLiteral("pen:state;"));
        QCOMPARE(state.size(), 4);
        QCOMPARE(state.at(0), QStringLiteral("pen"));
        QCOMPARE(state.at(1), QStringLiteral("2"));
        QVERIFY(state.at(2).toFloat() > 0.0f);
        QVERIFY(state.at(3).toInt() > 0);

        const QStringList id = fields(QStringLiteral("pen:id;"));
        QCOMPARE(id.size(), 5);
        bool ok = false;
        id.at(2).toInt(&ok);
        QVERIFY(ok);
        QVERIFY(!id.at(3).isEmpty());
        QCOMPARE(id.at(4), QStringLiteral("0105"));
        QCOMPARE(id.at(4).toInt(&ok, 16), 0x0105);
        QVERIFY(ok);

        const QStringList cal = fields(QStringLiteral("cal:state;"));
        QCOMPARE(cal, QStringList({"cal", "state", "0", "0"}));

        for (int i = 1; i <= 4; ++i) {
            for (char axis : {'x', 'y'}) {
                const QStringList c = fields(corner(axis, i));
                QCOMPARE(c.size(), 5);
                QCOMPARE(c.at(2), QStringLiteral("%1%2").arg(QLatin1Char(axis)).arg(i));
                QVERIFY(c.at(3).toInt(&ok) > 0);
                QVERIFY(ok);
                QCOMPARE(c.at(4), QStringLiteral("ok"));
            }
        }
        QCOMPARE(SimFixture::commands(*sensor).size(), 12);
    }

    void exactReplies()
    {
        sensor->setLiveMotion(false);
        sensor->setPenPoint(512, 384, 10, 1);
        sensor->setBatteryReading(100);
        sensor->setRunningSeconds(7200);
        sensor->setPairing(50);
        sensor->setPenId("P-9");
        sensor->setPenVersion(0x1A03);
        QCOMPARE(send(QStringLiteral("sens:point;")), QStringLiteral("sens:point:512:384:10:1;"));
        QCOMPARE(send(QStringLiteral("pen:state;")), QStringLiteral("pen:2:100:7200;"));
        QCOMPARE(send(QStringLiteral("pen:id;")), QStringLiteral("pen:id:50:P-9:1A03;"));
        QCOMPARE(send(QStringLiteral("cal:state;")), QStringLiteral("cal:state:0:0;"));
        QCOMPARE(send(QStringLiteral("cal:read:x2;")), QStringLiteral("cal:read:x2:900:ok;"));
        QCOMPARE(send(QStringLiteral("cal:read:y3;")), QStringLiteral("cal:read:y3:700:ok;"));
        sensor->setPenVersion(7);
        QCOMPARE(send(QStringLiteral("pen:id;")), QStringLiteral("pen:id:50:P-9:0007;"));
    }

    void batteryReadingGivesTheVoltage()
    {
        sensor->setLiveMotion(false);
        sensor->setBatteryReading(100);
        const float r = fields(QStringLiteral("pen:state;")).at(2).toFloat();
        // The tool's formula, 256 / r * 1.2, is 307.2 / r: about 3.07 V at the start.
        QVERIFY(qAbs(256.0 / double(r) * double(1.2f) - 3.072) < 1e-6);
    }

    void noPenGivesZeros()
    {
        sensor->setPenPresent(false);
        QVERIFY(!sensor->penPresent());
        QCOMPARE(send(QStringLiteral("sens:point;")), QStringLiteral("sens:point:0:0:0:0;"));
        const QStringList state = fields(QStringLiteral("pen:state;"));
        QCOMPARE(state.size(), 4);
        QVERIFY(state.at(1) != QLatin1String("2"));
        QCOMPARE(send(QStringLiteral("pen:state;")), QStringLiteral("pen:0:0:0;"));
        QCOMPARE(send(QStringLiteral("pen:id;")), QStringLiteral("pen:id:0::0000;"));
        // A held point is not reported either while the pen is away.
        sensor->setPenPoint(10, 20, 3, 1);
        QCOMPARE(send(QStringLiteral("sens:point;")), QStringLiteral("sens:point:0:0:0:0;"));
        sensor->setPenPresent(true);
        QCOMPARE(send(QStringLiteral("sens:point;")), QStringLiteral("sens:point:10:20:3:1;"));
        QCOMPARE(fields(QStringLiteral("pen:state;")).at(1), QStringLiteral("2"));
    }

    void cornersBeforeAnyCalibration()
    {
        const sim::Corners before = readCorners();
        QCOMPARE(before, sim::PenModel::defaultCorners());
        QVERIFY(plausible(before));
        QCOMPARE(sensor->corners(), before);
    }

    void cornerReadsOutsideOneToFour_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("reply");
        QTest::newRow("x0") << "cal:read:x0;" << "cal:read:x0:err;";
        QTest::newRow("x5") << "cal:read:x5;" << "cal:read:x5:err;";
        QTest::newRow("y9") << "cal:read:y9;" << "cal:read:y9:err;";
        QTest::newRow("x12") << "cal:read:x12;" << "cal:read:x12:err;";
        QTest::newRow("leading zero") << "cal:read:x01;" << "cal:read:x01:err;";
        QTest::newRow("other axis") << "cal:read:z1;" << "cal:read:z1:err;";
        QTest::newRow("no number") << "cal:read:x;" << "cal:read:x:err;";
    }

    void cornerReadsOutsideOneToFour()
    {
        QFETCH(QString, command);
        QFETCH(QString, reply);
        QCOMPARE(send(command), reply);
        // The poll reads field 3 as 0: no corner.
        QCOMPARE(fields(command).value(3).toInt(), 0);
    }

    void calRegistersStillAnswer()
    {
        QCOMPARE(send(QStringLiteral("cal:read:margin;")), QStringLiteral("cal:read:margin:8:ok;"));
        QCOMPARE(send(QStringLiteral("cal:write:margin:9;")), QStringLiteral("cal:write:margin:9:ok;"));
        QCOMPARE(send(QStringLiteral("cal:read:margin;")), QStringLiteral("cal:read:margin:9:ok;"));
    }

    void malformedLiveCommandsAreRefused_data()
    {
        QTest::addColumn<QString>("command");
        QTest::newRow("point") << "sens:point:1;";
        QTest::newRow("pen state") << "pen:state:x;";
        QTest::newRow("pen id") << "pen:id:2;";
        QTest::newRow("cal state") << "cal:state:1;";
        QTest::newRow("cal start") << "cal:start:now;";
        QTest::newRow("cal abort") << "cal:abort:now;";
        QTest::newRow("point of another module") << "pen:point;";
        QTest::newRow("corner with a value") << "cal:read:x1:5;";
    }

    void malformedLiveCommandsAreRefused()
    {
        QFETCH(QString, command);
        QCOMPARE(send(command), command.left(command.size() - 1) + QStringLiteral(":err;"));
        QVERIFY(!sensor->calibrationRunning());
    }

    // --- what time does ---

    void penPointMoves()
    {
        const QString first = send(QStringLiteral("sens:point;"));
        QTRY_VERIFY_WITH_TIMEOUT(send(QStringLiteral("sens:point;")) != first, 2000);
        // Every point on the way stays inside the range and off 0.
        for (int i = 0; i < 20; ++i) {
            const QStringList p = fields(QStringLiteral("sens:point;"));
            QVERIFY(p.at(2).toInt() >= 1 && p.at(2).toInt() <= 1023);
            QVERIFY(p.at(3).toInt() >= 1 && p.at(3).toInt() <= 767);
            QTest::qWait(5);
        }
    }

    void heldPointStaysAndPathResumes()
    {
        sensor->setPenPoint(300, 200, 12, 1);
        sensor->advanceTime(5s);
        QCOMPARE(send(QStringLiteral("sens:point;")), QStringLiteral("sens:point:300:200:12:1;"));
        QCOMPARE(sensor->penPoint(), (sim::PenPoint{300, 200, 12, 1}));
        sensor->followPenPath();
        const QString resumed = send(QStringLiteral("sens:point;"));
        QVERIFY(resumed != QLatin1String("sens:point:300:200:12:1;"));
        QTRY_VERIFY_WITH_TIMEOUT(send(QStringLiteral("sens:point;")) != resumed, 2000);
    }

    void batteryDrains()
    {
        const int start = field(QStringLiteral("pen:state;"), 2);
        QVERIFY(start >= 100 && start <= 101);  // about 3.07 V a moment after plug-in
        sensor->setBatteryDrainTime(20ms);
        QTRY_VERIFY_WITH_TIMEOUT(field(QStringLiteral("pen:state;"), 2) >= start + 3, 3000);
        // The reading only climbs: the voltage only falls.
        int previous = field(QStringLiteral("pen:state;"), 2);
        for (int i = 0; i < 10; ++i) {
            QTest::qWait(10);
            const int now = field(QStringLiteral("pen:state;"), 2);
            QVERIFY(now >= previous);
            previous = now;
        }
    }

    void batteryStopsWhenEmpty()
    {
        sensor->setLiveMotion(false);
        sensor->setBatteryDrainTime(1000ms);
        sensor->setBatteryReading(sim::PenModel::EmptyBatteryReading - 2);
        sensor->advanceTime(1500ms);
        QCOMPARE(field(QStringLiteral("pen:state;"), 2), sim::PenModel::EmptyBatteryReading - 1);
        sensor->advanceTime(60s);
        QCOMPARE(field(QStringLiteral("pen:state;"), 2), sim::PenModel::EmptyBatteryReading);
        // No reading stays no reading.
        sensor->setBatteryReading(0);
        sensor->advanceTime(60s);
        QCOMPARE(field(QStringLiteral("pen:state;"), 2), 0);
    }

    void runningTimeGrows()
    {
        sensor->setRunningSeconds(100);
        QCOMPARE(field(QStringLiteral("pen:state;"), 3), 100);
        QTRY_VERIFY_WITH_TIMEOUT(field(QStringLiteral("pen:state;"), 3) >= 101, 3000);
        QVERIFY(sensor->runningSeconds() <= 103);
    }

    void frozenRepliesStayPut()
    {
        sensor->setBatteryDrainTime(10ms);
        sensor->setPairingStepTime(10ms);
        sensor->setLiveMotion(false);
        QVERIFY(!sensor->liveMotion());
        const QStringList commands{"sens:point;", "pen:state;", "pen:id;", "cal:state;"};
        QStringList before;
        for (const QString& c : commands)
            before << send(c);
        QTest::qWait(150);  // longer than many steps of everything that moves
        for (int i = 0; i < commands.size(); ++i)
            QCOMPARE(send(commands.at(i)), before.at(i));
        sensor->setLiveMotion(true);
        QTRY_VERIFY_WITH_TIMEOUT(send(QStringLiteral("pen:state;")) != before.at(1), 2000);
    }

    void advanceTimeMovesAFrozenModel()
    {
        sensor->setLiveMotion(false);
        sensor->setBatteryDrainTime(1000ms);
        sensor->setBatteryReading(100);
        sensor->setRunningSeconds(0);
        sensor->setPairing(0);
        sensor->setPairingStepTime(100ms);
        sensor->advanceTime(5500ms);
        QCOMPARE(send(QStringLiteral("pen:state;")), QStringLiteral("pen:2:105:5;"));
        QCOMPARE(field(QStringLiteral("pen:id;"), 2), 55);
        sensor->advanceTime(500ms);
        QCOMPARE(send(QStringLiteral("pen:state;")), QStringLiteral("pen:2:106:6;"));
        sensor->advanceTime(60s);
        QCOMPARE(sensor->pairing(), sim::PenModel::PairingComplete);
    }

    void nothingMovesWithoutPen()
    {
        sensor->setLiveMotion(false);
        sensor->setRunningSeconds(50);
        sensor->setBatteryReading(100);
        sensor->setPenPresent(false);
        sensor->advanceTime(60s);
        sensor->setPenPresent(true);
        QCOMPARE(send(QStringLiteral("pen:state;")), QStringLiteral("pen:2:100:50;"));
    }

    void pairingPassesFortyNine()
    {
        // Right after plug-in the pen is still pairing; a few seconds later it is ready.
        const int start = field(QStringLiteral("pen:id;"), 2);
        QVERIFY2(start >= 0 && start <= 49, qPrintable(QString::number(start)));
        QTRY_VERIFY_WITH_TIMEOUT(field(QStringLiteral("pen:id;"), 2) > 49, 5000);
        QTRY_COMPARE_WITH_TIMEOUT(field(QStringLiteral("pen:id;"), 2), sim::PenModel::PairingComplete, 5000);
    }

    void pairingRestartsWithThePen()
    {
        sensor->setLiveMotion(false);
        sensor->setPairing(80);
        sensor->setPenPresent(false);
        QCOMPARE(field(QStringLiteral("pen:id;"), 2), 0);
        sensor->setPenPresent(true);
        QCOMPARE(field(QStringLiteral("pen:id;"), 2), 0);
        sensor->setPairingStepTime(10ms);
        sensor->advanceTime(500ms);
        QCOMPARE(field(QStringLiteral("pen:id;"), 2), 50);
    }

    void replugRestartsPairingAndCalibration()
    {
        sensor->setPairing(100);
        device->execCommand(QStringLiteral("cal:start;"));
        QVERIFY(sensor->calibrationRunning());
        sim::SimBus::instance().unplug(sensor.get());
        hotplugTick();  // the probe notices
        QVERIFY(!device->isConnected);
        sim::SimBus::instance().plug(sensor);
        hotplugTick();
        QVERIFY(device->isConnected);
        QVERIFY(field(QStringLiteral("pen:id;"), 2) <= 49);
        QCOMPARE(send(QStringLiteral("cal:state;")), QStringLiteral("cal:state:0:0;"));
        QCOMPARE(sensor->calibrationsFinished(), 0);
    }

    // --- calibration ---

    void calibrationWalksTheFourPoints()
    {
        sensor->setCalibrationStepTime(QuickStep);
        const sim::Corners before = readCorners();
        device->execCommand(QStringLiteral("cal:start;"));
        QCOMPARE(SimFixture::commands(*sensor).last(), QStringLiteral("cal:start;"));
        QCOMPARE(watchCalibration(5000), QList<int>({1, 2, 3, 4, 0}));
        QVERIFY(!sensor->calibrationRunning());
        QCOMPARE(sensor->calibrationsFinished(), 1);
        // The finished calibration stored new corners.
        const sim::Corners after = readCorners();
        QVERIFY(after != before);
        QVERIFY(plausible(after));
        QCOMPARE(after, sensor->corners());
        // Done stays done.
        sensor->advanceTime(10s);
        QCOMPARE(send(QStringLiteral("cal:state;")), QStringLiteral("cal:state:0:0;"));
    }

    void calibrationStepByStep()
    {
        sensor->setLiveMotion(false);
        sensor->setCalibrationStepTime(2000ms);
        QCOMPARE(send(QStringLiteral("cal:start;")), QStringLiteral("cal:start:ok;"));
        QVERIFY(sensor->calibrationRunning());
        for (int point = 1; point <= 4; ++point) {
            QCOMPARE(fields(QStringLiteral("cal:state;")), QStringList({"cal", "state", "1", QString::number(point)}));
            QCOMPARE(sensor->calibrationPoint(), point);
            sensor->advanceTime(1999ms);
            QCOMPARE(sensor->calibrationPoint(), point);
            sensor->advanceTime(1ms);
        }
        QCOMPARE(send(QStringLiteral("cal:state;")), QStringLiteral("cal:state:0:0;"));
        QCOMPARE(sensor->calibrationPoint(), 0);
    }

    void consecutiveCalibrationsDiffer()
    {
        sensor->setLiveMotion(false);
        sensor->setCalibrationStepTime(100ms);
        sim::Corners previous = readCorners();
        for (int round = 1; round <= 5; ++round) {
            device->execCommand(QStringLiteral("cal:start;"));
            sensor->advanceTime(400ms);
            QCOMPARE(sensor->calibrationsFinished(), round);
            const sim::Corners now = readCorners();
            QVERIFY(now != previous);
            QVERIFY(plausible(now));
            previous = now;
        }
    }

    void abortStopsTheCalibration()
    {
        sensor->setCalibrationStepTime(QuickStep);
        const sim::Corners before = readCorners();
        device->execCommand(QStringLiteral("cal:start;"));
        QTRY_COMPARE_WITH_TIMEOUT(field(QStringLiteral("cal:state;"), 3), 2, 2000);
        QCOMPARE(send(QStringLiteral("cal:abort;")), QStringLiteral("cal:abort:ok;"));
        QCOMPARE(send(QStringLiteral("cal:state;")), QStringLiteral("cal:state:0:0;"));
        QVERIFY(!sensor->calibrationRunning());
        // It stays stopped, and the corners are those from before.
        sensor->advanceTime(10s);
        QCOMPARE(send(QStringLiteral("cal:state;")), QStringLiteral("cal:state:0:0;"));
        QCOMPARE(readCorners(), before);
        QCOMPARE(sensor->calibrationsFinished(), 0);
    }

    void restartBeginsAtTheFirstPoint()
    {
        sensor->setLiveMotion(false);
        device->execCommand(QStringLiteral("cal:start;"));
        sensor->advanceTime(5s);
        QCOMPARE(sensor->calibrationPoint(), 3);
        // The calibration window's restart button: abort, then start.
        device->execCommand(QStringLiteral("cal:abort;"));
        device->execCommand(QStringLiteral("cal:start;"));
        QCOMPARE(send(QStringLiteral("cal:state;")), QStringLiteral("cal:state:1:1;"));
        // A start while running begins again too.
        sensor->advanceTime(2s);
        QCOMPARE(sensor->calibrationPoint(), 2);
        device->execCommand(QStringLiteral("cal:start;"));
        QCOMPARE(sensor->calibrationPoint(), 1);
    }

    void calibrationWaitsForThePen()
    {
        sensor->setLiveMotion(false);
        sensor->setPenPresent(false);
        device->execCommand(QStringLiteral("cal:start;"));
        sensor->advanceTime(30s);
        QCOMPARE(send(QStringLiteral("cal:state;")), QStringLiteral("cal:state:1:1;"));
        sensor->setPenPresent(true);
        sensor->advanceTime(2s);
        QCOMPARE(send(QStringLiteral("cal:state;")), QStringLiteral("cal:state:1:2;"));
    }

    void cornersCanBeSet()
    {
        const sim::Corners set{{120, 880, 870, 130}, {90, 95, 680, 675}};
        sensor->setCorners(set);
        QCOMPARE(readCorners(), set);
        QCOMPARE(send(QStringLiteral("cal:read:y2;")), QStringLiteral("cal:read:y2:95:ok;"));
    }

    // --- interplay with the rest of the sensor ---

    void fixedRepliesStillWin()
    {
        sensor->setReply("pen:state;", "pen:1:0:0;");
        sensor->setReply("cal:start;", "cal:start:busy;");
        QCOMPARE(send(QStringLiteral("pen:state;")), QStringLiteral("pen:1:0:0;"));
        // The model still acts on a command whose reply is replaced.
        QCOMPARE(send(QStringLiteral("cal:start;")), QStringLiteral("cal:start:busy;"));
        QVERIFY(sensor->calibrationRunning());
        sensor->clearReply("pen:state;");
        QCOMPARE(fields(QStringLiteral("pen:state;")).at(1), QStringLiteral("2"));
        sensor->queueReply("sens:point:1:1:1:1;");
        QCOMPARE(send(QStringLiteral("sens:point;")), QStringLiteral("sens:point:1:1:1:1;"));
    }

    void controlWhileExchanging()
    {
        // The test thread drives the model while the connection polls: every reply is whole.
        std::atomic<bool> stop{false};
        std::thread driver([this, &stop] {
            int i = 0;
            while (!stop.load()) {
                sensor->setPenPoint(100 + i % 2, 200, 5, 1);
                sensor->setBatteryReading(i % 2 ? 100 : 120);
                sensor->setPenPresent(i % 3 != 0);
                (void)sensor->calibrationPoint();
                ++i;
            }
        });
        bool whole = true;
        for (int i = 0; i < 200 && whole; ++i) {
            const QStringList p = fields(QStringLiteral("sens:point;"));
            const QStringList s = fields(QStringLiteral("pen:state;"));
            whole = p.size() == 6 && s.size() == 4;
        }
        stop = true;
        driver.join();
        QVERIFY(whole);
    }

    // --- the model on its own ---

    void pathStaysInRange()
    {
        for (int ms = 0; ms < 120000; ms += 37) {
            const sim::PenPoint p = sim::PenModel::pathPoint(std::chrono::milliseconds(ms));
            QVERIFY(p.x >= 1 && p.x <= sim::PenModel::MaxX);
            QVERIFY(p.y >= 1 && p.y <= sim::PenModel::MaxY);
            QVERIFY(p.size > 0);
            QCOMPARE(p.number, 1);
        }
    }

    void measuredCornersArePlausible()
    {
        sim::Corners previous = sim::PenModel::defaultCorners();
        for (int n = 1; n <= 200; ++n) {
            const sim::Corners c = sim::PenModel::measuredCorners(n);
            QVERIFY2(plausible(c), qPrintable(QString::number(n)));
            QVERIFY2(c != previous, qPrintable(QString::number(n)));
            previous = c;
        }
    }

    void zeroStepTimesDoNotHang()
    {
        sim::PenModel model;
        model.setCalibrationStepTime(0ms);
        model.setBatteryDrainTime(0ms);
        model.setPairingStepTime(0ms);
        model.startCalibration();
        model.advance(10s);
        QVERIFY(!model.calibrationRunning());
        QCOMPARE(model.batteryReading(), sim::PenModel::EmptyBatteryReading);
        QCOMPARE(model.pairing(), sim::PenModel::PairingComplete);
    }
};

TESSARO_TEST_MAIN(tst_simpen)
#include "tst_simpen.moc"
