// Matching of enumerated interfaces against the catalogue of supported devices.
#include "device/tessaro.h"
#include "simfixture.h"
#include "testmain.h"

#include <QJsonDocument>
#include <QSignalSpy>

#include <optional>

class tst_catalogue : public QObject
{
    Q_OBJECT

private:
    std::optional<SimFixture> fixture;
    QPointer<tessaro> device;

    // One search with the polling stopped, so the test decides when ticks happen.
    bool search()
    {
        device->hotplugWorker();
        return device->isConnected;
    }

    static sim::DeviceInfo sensorAt(int interfaceNumber, const std::string& path = "sim/if")
    {
        sim::DeviceInfo info = sim::SimSensor::defaultInfo();
        info.interfaceNumber = interfaceNumber;
        info.path = path;
        return info;
    }

private slots:
    void init()
    {
        fixture.emplace();
        device = new tessaro;
        device->SetHotPlugTimerState(false);
    }

    void cleanup()
    {
        SimFixture::closeConnection(device);
        fixture.reset();
    }

    void versionAttemptsSwOuterHwInner_data()
    {
        QTest::addColumn<QString>("version");
        QTest::addColumn<int>("attempts");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("sw1 hw1") << "app:version:H1:S1:b;" << 1 << true;
        QTest::newRow("sw1 hw2") << "app:version:H2:S1:b;" << 2 << true;
        QTest::newRow("sw2 hw1") << "app:version:H1:S2:b;" << 3 << true;
        QTest::newRow("sw2 hw2") << "app:version:H2:S2:b;" << 4 << true;
        QTest::newRow("sw3 hw2") << "app:version:H2:S3:b;" << 6 << true;
        QTest::newRow("unlisted") << "app:version:H9:S9:b;" << 6 << false;
    }

    void versionAttemptsSwOuterHwInner()
    {
        QFETCH(QString, version);
        QFETCH(int, attempts);
        QFETCH(bool, accepted);
        fixture->writeCatalogue({SimFixture::sensorEntry({"S1", "S2", "S3"}, {"H1", "H2"})});
        auto sensor = fixture->plugSensor();
        sensor->setVersionReply(version.toStdString());
        QCOMPARE(search(), accepted);
        QStringList expected;
        for (int i = 0; i < attempts; ++i)
            expected << QStringLiteral("app:version;");
        QCOMPARE(SimFixture::commands(*sensor), expected);
    }

    // One catalogue entry and one device: whether they connect, and how many version
    // checks that took.
    void entryMatching_data()
    {
        QTest::addColumn<QJsonObject>("entry");
        QTest::addColumn<int>("deviceInterface");
        QTest::addColumn<bool>("connects");
        QTest::addColumn<int>("versionChecks");
        const auto with = [](QJsonObject e, const QString& key, const QJsonValue& value) {
            if (value.isUndefined())
                e.remove(key);
            else
                e.insert(key, value);
            return e;
        };
        const QJsonObject loader = SimFixture::entry(QStringLiteral("bootloader"), sim::SensorProductId);
        const QJsonValue none(QJsonValue::Undefined);
        QTest::newRow("interface same") << with(loader, "interface", "1") << 1 << true << 0;
        QTest::newRow("interface in hex") << with(loader, "interface", "a") << 10 << true << 0;
        QTest::newRow("interface other") << with(loader, "interface", "1") << 0 << false << 0;
        QTest::newRow("device without number") << with(loader, "interface", "3") << -1 << true << 0;
        QTest::newRow("interface left out, 0") << with(loader, "interface", none) << 0 << true << 0;
        QTest::newRow("interface left out, 2") << with(loader, "interface", none) << 2 << false << 0;
        QTest::newRow("interface left out, no number") << with(loader, "interface", none) << -1 << true << 0;
        QTest::newRow("interface a number") << with(loader, "interface", 2) << 2 << false << 0;
        QTest::newRow("vendor a number") << with(loader, "vendorId", 0x1209) << 0 << false << 0;
        QTest::newRow("unknown type") << with(loader, "type", "printer") << 0 << false << 0;
        const QJsonObject sensor = SimFixture::sensorEntry();
        QTest::newRow("sensor") << sensor << 0 << true << 1;
        QTest::newRow("default sensor: no version check")
            << with(SimFixture::sensorEntry({}, {}), "default", true) << 0 << true << 0;
        QTest::newRow("default must be boolean") << with(SimFixture::sensorEntry({}, {}), "default", "true") << 0
                                                 << false << 0;
        QTest::newRow("no sw") << SimFixture::sensorEntry({}, {"HW 1.1"}) << 0 << false << 0;
        QTest::newRow("no hw") << SimFixture::sensorEntry({"SW 2.4"}, {}) << 0 << false << 0;
    }

    void entryMatching()
    {
        QFETCH(QJsonObject, entry);
        QFETCH(int, deviceInterface);
        QFETCH(bool, connects);
        QFETCH(int, versionChecks);
        fixture->writeCatalogue({entry});
        auto sensor = fixture->plugSensor(sensorAt(deviceInterface));
        QCOMPARE(search(), connects);
        QCOMPARE(SimFixture::commands(*sensor).count(QStringLiteral("app:version;")), versionChecks);
        if (connects)
            QCOMPARE(device->configFile, entry.value(QStringLiteral("configfile")).toString());
    }

    void firstSuccessfulEntryDecidesRole()
    {
        // The sensor entry fails its version check, so the later entry's role wins.
        fixture->writeCatalogue({SimFixture::sensorEntry({"SW 0"}),
                                 SimFixture::entry(QStringLiteral("update"), sim::SensorProductId)});
        fixture->plugSensor();
        QVERIFY(search());
        QCOMPARE(device->deviceType, QStringLiteral("update"));
    }

    void unopenableDeviceIsNoMatch_data()
    {
        QTest::addColumn<QJsonObject>("entry");
        QTest::newRow("sensor") << SimFixture::sensorEntry();
        QTest::newRow("bootloader") << SimFixture::entry(QStringLiteral("bootloader"), sim::SensorProductId);
    }

    void unopenableDeviceIsNoMatch()
    {
        QFETCH(QJsonObject, entry);
        fixture->writeCatalogue({entry});
        auto sensor = fixture->plugSensor();
        sensor->setOpenable(false);
        QVERIFY(!search());
        sensor->setOpenable(true);
        QVERIFY(search());
    }

    void badCatalogue_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("present");
        QTest::newRow("missing") << QByteArray() << false;
        QTest::newRow("empty") << QByteArray() << true;
        QTest::newRow("not json") << QByteArray("{\"devlist\": [") << true;
        QTest::newRow("binary") << QByteArray("\x00\xff\xfe{", 4) << true;
        QTest::newRow("array at top") << QByteArray("[1,2,3]") << true;
        QTest::newRow("devlist not array") << QByteArray("{\"devlist\": 5}") << true;
        QTest::newRow("entries not objects") << QByteArray("{\"devlist\": [1, \"x\", null, []]}") << true;
        QTest::newRow("numbers as numbers")
            << QByteArray("{\"devlist\": [{\"vendorId\": 4617, \"productId\": 1, \"type\": \"bootloader\"}]}") << true;
        QTest::newRow("missing keys") << QByteArray("{\"devlist\": [{}]}") << true;
        QTest::newRow("wrong types")
            << QByteArray("{\"devlist\": [{\"vendorId\": \"1209\", \"productId\": \"0001\", \"type\": \"tessaro\","
                          "\"sw\": \"SW 2.4\", \"hw\": 7, \"default\": 1, \"configfile\": []}]}")
            << true;
    }

    void badCatalogue()
    {
        QFETCH(QByteArray, content);
        QFETCH(bool, present);
        if (present)
            fixture->writeFile(QStringLiteral("sensors/supported.json"), content);
        fixture->plugSensor();
        QVERIFY(!search());
        QVERIFY(!search());
        // Not cached: a mended catalogue takes effect at the next tick.
        fixture->writeCatalogue({SimFixture::sensorEntry()});
        QVERIFY(search());
    }

    void strayByteDoesNotHideTheCatalogue()
    {
        // A Latin-1 "é" in a note: replaced when decoded, the rest still read.
        QByteArray content = QJsonDocument(QJsonObject{{QStringLiteral("devlist"), QJsonArray{SimFixture::sensorEntry()}}}).toJson();
        content.replace("\"devlist\"", "\"note\": \"caf\xe9\", \"devlist\"");
        fixture->writeFile(QStringLiteral("sensors/supported.json"), content);
        fixture->plugSensor();
        QVERIFY(search());
    }
};

TESSARO_TEST_MAIN(tst_catalogue)
#include "tst_catalogue.moc"
