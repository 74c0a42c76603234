// Text commands over HID reports: framing, time limits, failures and stale replies.
#include "device/replymatcher.h"
#include "device/tessaro.h"
#include "simfixture.h"
#include "testmain.h"

#include <QElapsedTimer>
#include <QSignalSpy>

#include <cstring>
#include <optional>

class tst_commandchannel : public QObject
{
    Q_OBJECT

private:
    std::optional<SimFixture> fixture;
    QPointer<tessaro> device;
    std::shared_ptr<sim::SimSensor> sensor;
    unsigned char reply[TessaroLink::ReportBufferSize];
    bool sendOk = false; // what the last send() returned

    QString send(const char* command)
    {
        std::memset(reply, 0xAA, sizeof reply);
        sendOk = device->sendCommand(command, reply);
        return QString::fromLatin1(reinterpret_cast<const char*>(reply));
    }

private slots:
    void init()
    {
        fixture.emplace();
        device = fixture->connectSensor(sensor);
        QVERIFY(device);
    }

    void cleanup() { fixture.reset(); }

    void reportFraming_data()
    {
        QTest::addColumn<QByteArray>("command");
        QTest::newRow("short") << QByteArray("app:version;");
        QTest::newRow("64 bytes") << QByteArray(63, 'b') + ';';
        QTest::newRow("65 bytes, refused") << QByteArray(64, 'c') + ';';
    }

    void reportFraming()
    {
        QFETCH(QByteArray, command);
        QSignalSpy lost(device, &tessaro::disconnected);
        const bool fits = command.size() <= TessaroLink::ReportSize;
        send(command.constData());
        device->execCommand(QString::fromLatin1(command));
        // A whole report, zeros after the command: hidraw pads nothing. A longer command
        // is not cut (that could write a wrong value) but refused, and the link stays.
        QCOMPARE(sendOk, fits);
        QVERIFY(sensor->receivedReportLengths() == std::vector<size_t>(fits ? 2 : 0, sim::ReportSize));
        sim::Report expected{};
        std::memcpy(expected.data(), command.constData(), static_cast<size_t>(qMin(command.size(), TessaroLink::ReportSize)));
        for (const sim::Report& report : sensor->receivedReports())
            QVERIFY(report == expected);
        QVERIFY(device->isConnected);
        QCOMPARE(lost.count(), 0);
        QCOMPARE(send("app:id;"), QStringLiteral("app:id:TS-000123;"));
    }

    void replyContents_data()
    {
        QTest::addColumn<QByteArray>("sent");
        QTest::addColumn<QByteArray>("seen");
        QTest::addColumn<QStringList>("fields"); // colonFields of what was seen
        QTest::newRow("64 non-zero bytes") << QByteArray(64, 'z') << QByteArray(64, 'z') << QStringList(QString(64, 'z'));
        QTest::newRow("embedded zero") << QByteArray("ab\0cd;", 6) << QByteArray("ab") << QStringList({"ab"});
        QTest::newRow("empty fields kept, after ';' ignored") << QByteArray("a::c:;b:d;") << QByteArray("a::c:;b:d;") << QStringList({"a", "", "c", ""});
        QTest::newRow("none at all") << QByteArray("(silent)") << QByteArray() << QStringList({""});
    }

    void replyContents()
    {
        QFETCH(QByteArray, sent);
        QFETCH(QByteArray, seen);
        QFETCH(QStringList, fields);
        const bool silent = sent == "(silent)";
        if (silent)
            sensor->injectFault(1, sim::Fault::NoReply);
        else
            sensor->queueReply(sent.toStdString());
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(send("x;").toLatin1(), seen);
        QVERIFY(sendOk);
        QCOMPARE(reply[seen.size()], static_cast<unsigned char>(0));
        QCOMPARE(colonFields(reply), fields);
        // Silence is an empty reply after the whole wait (50 ms; 500 for execCommand), and
        // the link stays.
        QVERIFY(!silent || (clock.elapsed() >= 45 && sensor->emptyReadLimits().back() <= TessaroLink::CommandTimeoutMs));
        if (silent) {
            sensor->injectFault(1, sim::Fault::NoReply);
            clock.restart();
            device->execCommand(QStringLiteral("sens:commit;"));
            QVERIFY(clock.elapsed() >= 495);
        }
        QVERIFY(device->isConnected);
    }

    void replyMatchingRule_data()
    {
        QTest::addColumn<QByteArrayList>("earlier");
        QTest::addColumn<QByteArray>("command");
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<bool>("accepted");
        const QByteArrayList none;
        const QByteArrayList poll{"sens:point;", "pen:state;", "pen:id;", "cal:state;"};
        // The register read first, then 30 other commands: with the command itself, 32 are remembered.
        QByteArrayList reads{"sens:read:conf1thr;"};
        for (int i = 0; i < 30; ++i)
            reads << "app:other" + QByteArray::number(i) + ';';
        QTest::newRow("register read, own") << none << QByteArray("sens:read:conf1thr;") << QByteArray("sens:read:conf1thr:29:ok;") << true;
        QTest::newRow("register read, other register") << none << QByteArray("sens:read:conf1;") << QByteArray("sens:read:conf1thr:136:ok;") << false;
        QTest::newRow("version, id reply") << none << QByteArray("app:version;") << QByteArray("app:id:TS-1;") << false;
        QTest::newRow("open form, garbage") << poll << QByteArray("pen:state;") << QByteArray(64, '!') << true;
        QTest::newRow("open form, late answer of earlier") << poll << QByteArray("pen:state;") << QByteArray("sens:point:1:2:3:4;") << false;
        QTest::newRow("open form, late read among the last 32") << reads << QByteArray("sens:commit;") << QByteArray("sens:read:conf1thr:136:ok;") << false;
        QTest::newRow("open form, read older than the last 32") << reads + QByteArrayList{"app:other30;"} << QByteArray("sens:commit;") << QByteArray("sens:read:conf1thr:136:ok;") << true;
        QTest::newRow("open form, bare echo of itself") << none << QByteArray("sens:commit;") << QByteArray("sens:commit;") << true;
    }

    // The rule kept in one place: when a reply read during a command's wait is its answer.
    void replyMatchingRule()
    {
        QFETCH(QByteArrayList, earlier);
        QFETCH(QByteArray, command);
        QFETCH(QByteArray, answer);
        QFETCH(bool, accepted);
        ReplyMatcher matcher;
        for (const QByteArray& sent : qAsConst(earlier))
            matcher.commandSent(sent);
        matcher.commandSent(command);
        QCOMPARE(matcher.accepts(command, answer), accepted);
    }

    void lateReplies_data()
    {
        QTest::addColumn<QByteArray>("late");   // the command whose reply comes late
        QTest::addColumn<int>("delayMs");       // when its reply comes
        QTest::addColumn<int>("waitMs");        // before the next command goes out
        QTest::addColumn<bool>("probe");        // the removal probe runs first
        QTest::addColumn<QByteArray>("next");
        QTest::addColumn<QString>("answer");
        // Comes with the next command however late that goes out (the device sends it on the
        // next report): passed over because it is not that command's (a read wants its own fields).
        QTest::newRow("lands in the next wait") << QByteArray("app:id;") << 1000 << 0 << false << QByteArray("sens:read:gain;") << "sens:read:gain:4:ok;";
        // Waiting before the next command: drained, though it does not repeat its command's fields.
        QTest::newRow("waits for the next command") << QByteArray("pen:state;") << 80 << 120 << false << QByteArray("sens:commit;") << "sens:commit:ok;";
        // Waiting when the probe runs: taken without blocking, or only the unplug at 3 s ends it.
        QTest::newRow("waits for the probe") << QByteArray("app:id;") << 60 << 100 << true << QByteArray("app:version;") << "app:version:HW 1.1:SW 2.4:2026:11:20;";
    }

    void lateReplies()
    {
        QFETCH(QByteArray, late);
        QFETCH(int, delayMs);
        QFETCH(int, waitMs);
        QFETCH(bool, probe);
        QFETCH(QByteArray, next);
        QFETCH(QString, answer);
        sensor->setLateReplyDelay(std::chrono::milliseconds(delayMs));
        sensor->injectFault(1, sim::Fault::LateReply);
        QCOMPARE(send(late.constData()), QString());
        QVERIFY(sendOk);
        QTest::qWait(waitMs);
        if (probe) {
            const std::shared_ptr<sim::SimSensor> unit = sensor;
            sim::SimBus::instance().schedule(std::chrono::milliseconds(3000), [unit] { sim::SimBus::instance().unplug(unit.get()); });
            device->hotplugWorker();
            QVERIFY(unit->plugged());
            QVERIFY(device->isConnected);
        }
        QCOMPARE(send(next.constData()), answer);
        QCOMPARE(send("app:id;"), QStringLiteral("app:id:TS-000123;"));
    }

    void failureClosesLink_data()
    {
        QTest::addColumn<int>("fault");
        QTest::addColumn<bool>("exec");
        QTest::newRow("write fails") << int(sim::Fault::WriteFails) << false;
        QTest::newRow("read fails") << int(sim::Fault::ReadFails) << false;
        QTest::newRow("unplugged") << int(sim::Fault::Unplug) << false;
        QTest::newRow("read fails in execCommand") << int(sim::Fault::ReadFails) << true;
        QTest::newRow("closed by the program") << int(sim::Fault::None) << false;
    }

    void failureClosesLink()
    {
        QFETCH(int, fault);
        QFETCH(bool, exec);
        QSignalSpy lost(device, &tessaro::disconnected);
        // disconnected() comes after the mutex is released: a receiver may try again. The
        // receiver ends with this test (the fixture's clean-up disconnects again).
        int refusals = 0;
        QObject receiver;
        connect(device, &tessaro::disconnected, &receiver, [this, &refusals] {
            unsigned char buffer[TessaroLink::ReportBufferSize];
            refusals += device->sendCommand("app:id;", buffer) ? 0 : 1;
        });
        sensor->injectFault(1, static_cast<sim::Fault>(fault));
        if (fault == int(sim::Fault::None)) {
            device->disconnectDevice();
        } else if (exec) {
            device->execCommand(QStringLiteral("sens:commit;"));
        } else {
            send("app:id;");
            QVERIFY(!sendOk);
        }
        QCOMPARE(lost.count(), 1);
        QCOMPARE(refusals, 1);
        QVERIFY(!device->isConnected);
        QVERIFY(device->handle == nullptr);
        // Later exchanges are refused without touching the closed handle.
        sensor->clearLog();
        send("app:id;");
        QVERIFY(!sendOk);
        device->execCommand(QStringLiteral("sens:commit;"));
        QCOMPARE(lost.count(), 1);
        QVERIFY(sensor->receivedReports().empty());
    }
};

TESSARO_TEST_MAIN(tst_commandchannel)
#include "tst_commandchannel.moc"
