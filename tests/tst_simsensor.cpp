// The simulated sensor as the tool sees it: malformed commands are refused, replies set by
// a test reach the tool while the model still acts, and the report log stays bounded.
#include "device/tessaro.h"
#include "simfixture.h"
#include "testmain.h"

#include <cstring>
#include <optional>

class tst_simsensor : public QObject
{
    Q_OBJECT

private:
    std::optional<SimFixture> fixture;
    QPointer<tessaro> device;
    std::shared_ptr<sim::SimSensor> sensor;

    QString send(const QByteArray& command)
    {
        unsigned char reply[TessaroLink::ReportBufferSize];
        std::memset(reply, 0xAA, sizeof reply);
        if (!device->sendCommand(command.constData(), reply))
            return QStringLiteral("(failed)");
        return QString::fromLocal8Bit(reinterpret_cast<const char*>(reply));
    }

private slots:
    void init()
    {
        fixture.emplace();
        fixture->writeCatalogue({SimFixture::sensorEntry()});
        sensor = fixture->plugSensor();
        device = SimFixture::openConnection();
        QVERIFY(device);
    }

    void cleanup()
    {
        SimFixture::closeConnection(device);
        sensor.reset();
        fixture.reset();
    }

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

    void commandReplies_data()
    {
        QTest::addColumn<QByteArray>("command");
        QTest::addColumn<QString>("reply");
        QTest::addColumn<QString>("counted");  // the action the sensor counts, if any
        QTest::newRow("commit") << QByteArray("sens:commit;") << "sens:commit:ok;" << "commit";
        QTest::newRow("reset") << QByteArray("sens:reset;") << "sens:reset:ok;" << "reset";
        QTest::newRow("bootloader") << QByteArray("app:bootloader;") << "app:bootloader:ok;" << "bootloader";
        QTest::newRow("unknown register") << QByteArray("sens:read:bogus;") << "sens:read:bogus:err;" << "";
        QTest::newRow("register of another module") << QByteArray("pen:read:conf1thr;") << "pen:read:conf1thr:err;" << "";
        QTest::newRow("no semicolon") << QByteArray("sens:read:gain") << "sens:read:gain:err;" << "";
        QTest::newRow("write without value") << QByteArray("sens:write:gain;") << "sens:write:gain:err;" << "";
        QTest::newRow("write of empty value") << QByteArray("sens:write:gain:;") << "sens:write:gain::err;" << "";
        QTest::newRow("value with colon") << QByteArray("sens:write:gain:1:2;") << "sens:write:gain:1:2:err;" << "";
        QTest::newRow("commit with argument") << QByteArray("sens:commit:now;") << "sens:commit:now:err;" << "";
        QTest::newRow("bootloader with argument") << QByteArray("app:bootloader:now;") << "app:bootloader:now:err;" << "";
        QTest::newRow("empty") << QByteArray(";") << ":err;" << "";
    }

    void commandReplies()
    {
        QFETCH(QByteArray, command);
        QFETCH(QString, reply);
        QFETCH(QString, counted);
        QCOMPARE(send(command), reply);
        QCOMPARE(sensor->commitCount(), int(counted == QLatin1String("commit")));
        QCOMPARE(sensor->resetCount(), int(counted == QLatin1String("reset")));
        QCOMPARE(sensor->bootloaderRequests(), int(counted == QLatin1String("bootloader")));
        QCOMPARE(sensor->registerValue("sens", "gain"), std::optional<std::string>("4"));
        QCOMPARE(sensor->registerValue("sens", "bogus"), std::nullopt);
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
};

TESSARO_TEST_MAIN(tst_simsensor)
#include "tst_simsensor.moc"
