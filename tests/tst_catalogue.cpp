// Matching of enumerated interfaces against the catalogue of supported devices.
#include "device/datafile.h"
#include "device/tessaro.h"
#include "sensor/parameterfile.h"
#include "simfixture.h"
#include "testmain.h"

#include <QJsonDocument>

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

    // One catalogue entry and one device: whether they connect, and how many version checks
    // that took (sw outer, hw inner: each pair is one "app:version;").
    void entryMatching_data()
    {
        QTest::addColumn<QJsonObject>("entry");
        QTest::addColumn<int>("deviceInterface");
        QTest::addColumn<QString>("version"); // the sensor's reply, when not its default, or "(unopenable)"
        QTest::addColumn<bool>("connects");
        QTest::addColumn<int>("versionChecks");
        // An undefined value removes the key.
        const auto with = [](QJsonObject e, const QString& key, const QJsonValue& value) { e.insert(key, value); return e; };
        const QJsonObject loader = SimFixture::entry(QStringLiteral("bootloader"), sim::SensorProductId);
        const QJsonValue none(QJsonValue::Undefined);
        QTest::newRow("interface in hex") << with(loader, "interface", "a") << 10 << "" << true << 0;
        QTest::newRow("interface other") << with(loader, "interface", "1") << 0 << "" << false << 0;
        QTest::newRow("device without number") << with(loader, "interface", "3") << -1 << "" << true << 0;
        QTest::newRow("interface left out, 0") << with(loader, "interface", none) << 0 << "" << true << 0;
        QTest::newRow("interface left out, 2") << with(loader, "interface", none) << 2 << "" << false << 0;
        QTest::newRow("vendor a number") << with(loader, "vendorId", 0x1209) << 0 << "" << false << 0;
        QTest::newRow("unknown type") << with(loader, "type", "printer") << 0 << "" << false << 0;
        QTest::newRow("sensor") << SimFixture::sensorEntry() << 0 << "" << true << 1;
        QTest::newRow("sensor, unopenable") << SimFixture::sensorEntry() << 0 << "(unopenable)" << false << 0;
        QTest::newRow("bootloader, unopenable") << loader << 0 << "(unopenable)" << false << 0;
        const QJsonObject versions = SimFixture::sensorEntry({"S1", "S2", "S3"}, {"H1", "H2"});
        QTest::newRow("sw1 hw2") << versions << 0 << "app:version:H2:S1:b;" << true << 2;
        QTest::newRow("sw2 hw1") << versions << 0 << "app:version:H1:S2:b;" << true << 3;
        QTest::newRow("sw3 hw2") << versions << 0 << "app:version:H2:S3:b;" << true << 6;
        QTest::newRow("unlisted") << versions << 0 << "app:version:H9:S9:b;" << false << 6;
        QTest::newRow("default sensor: no version check") << with(SimFixture::sensorEntry({}, {}), "default", true) << 0 << "" << true << 0;
        QTest::newRow("default must be boolean") << with(SimFixture::sensorEntry({}, {}), "default", "true") << 0 << "" << false << 0;
        QTest::newRow("no sw") << SimFixture::sensorEntry({}, {"HW 1.1"}) << 0 << "" << false << 0;
        QTest::newRow("no hw") << SimFixture::sensorEntry({"SW 2.4"}, {}) << 0 << "" << false << 0;
    }

    void entryMatching()
    {
        QFETCH(QJsonObject, entry);
        QFETCH(int, deviceInterface);
        QFETCH(QString, version);
        QFETCH(bool, connects);
        QFETCH(int, versionChecks);
        fixture->writeCatalogue({entry});
        sim::DeviceInfo info = sim::SimSensor::defaultInfo();
        info.interfaceNumber = deviceInterface;
        auto sensor = fixture->plugSensor(info);
        const bool unopenable = version == "(unopenable)";
        sensor->setOpenable(!unopenable);
        if (!version.isEmpty() && !unopenable)
            sensor->setVersionReply(version.toStdString());
        QCOMPARE(search(), connects);
        QCOMPARE(SimFixture::commands(*sensor), QStringList(QVector<QString>(versionChecks, QStringLiteral("app:version;")).toList()));
        if (connects)
            QCOMPARE(device->configFile, entry.value(QStringLiteral("configfile")).toString());
        // An open that failed is not remembered: the next tick tries again.
        sensor->setOpenable(true);
        QCOMPARE(search(), connects || unopenable);
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

    // A catalogue that cannot be read connects nothing; one stray byte does not hide the rest.
    void badCatalogue_data()
    {
        QTest::addColumn<QByteArray>("content"); // null: no file
        QTest::addColumn<bool>("connects");
        QTest::newRow("missing") << QByteArray() << false;
        QTest::newRow("not json") << QByteArray("{\"devlist\": [") << false;
        QTest::newRow("array at top") << QByteArray("[1,2,3]") << false;
        QTest::newRow("entries not objects") << QByteArray("{\"devlist\": [1, \"x\", null, []]}") << false;
        QTest::newRow("wrong types")
            << QByteArray("{\"devlist\": [{\"vendorId\": \"1209\", \"productId\": \"0001\", \"type\": \"tessaro\","
                          "\"sw\": \"SW 2.4\", \"hw\": 7, \"default\": 1, \"configfile\": []}]}") << false;
        // A Latin-1 "é" in a note: replaced when decoded, the rest still read.
        QTest::newRow("stray byte") << QJsonDocument(QJsonObject{{QStringLiteral("devlist"), QJsonArray{SimFixture::sensorEntry()}}})
                                           .toJson().replace("\"devlist\"", "\"note\": \"caf\xe9\", \"devlist\"") << true;
        QTest::newRow("over 1 MiB") << QJsonDocument(QJsonObject{{QStringLiteral("devlist"), QJsonArray{SimFixture::sensorEntry()}}})
                                           .toJson().leftJustified(DataFile::MaxBytes + 1, ' ') << false;
    }

    // The catalogue names a parameter file of sensors/, not one elsewhere.
    void parameterFileIsOneOfTheFolder_data()
    {
        QTest::addColumn<QString>("configfile");
        QTest::addColumn<bool>("read");
        QTest::newRow("bare name") << "tessaro.json" << true;
        QTest::newRow("parent folder") << "../tessaro.json" << false;
        QTest::newRow("sub-folder") << "sub/tessaro.json" << false;
    }

    void parameterFileIsOneOfTheFolder()
    {
        QFETCH(QString, configfile);
        for (const char* path : {"sensors/tessaro.json", "tessaro.json", "sensors/sub/tessaro.json"})
            fixture->writeFile(QString::fromLatin1(path), "{}");
        QTEST(!ParameterFile::read(configfile).isNull(), "read");
    }

    void badCatalogue()
    {
        QFETCH(QByteArray, content);
        QFETCH(bool, connects);
        if (!content.isNull())
            fixture->writeFile(QStringLiteral("sensors/supported.json"), content);
        fixture->plugSensor();
        QCOMPARE(search(), connects);
        QCOMPARE(search(), connects);
        // Not cached: a mended catalogue takes effect at the next tick.
        fixture->writeCatalogue({SimFixture::sensorEntry()});
        QVERIFY(search());
    }
};

TESSARO_TEST_MAIN(tst_catalogue)
#include "tst_catalogue.moc"
