// The device connection: arrival, version check, removal and the switch to the bootloader.
#include "device/tessaro.h"
#include "simfixture.h"
#include "testmain.h"

#include <QRegularExpression>
#include <QScopeGuard>
#include <QSignalSpy>

#include <optional>

namespace {

// Debug lines written while a test watches, and the handler they went to before.
QStringList* watchedLines = nullptr;
QtMessageHandler previousHandler = nullptr;

void noteLine(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (watchedLines && type == QtDebugMsg)
        *watchedLines << message;
    if (previousHandler)
        previousHandler(type, context, message);
}

} // namespace

class tst_tessaro : public QObject
{
    Q_OBJECT

private:
    // Records the connection's signals in the order they come.
    QStringList events;
    std::optional<SimFixture> fixture;
    QPointer<tessaro> device;

    void watch(tessaro* d)
    {
        connect(d, &tessaro::connected, this, [this] { events << QStringLiteral("connected"); });
        connect(d, &tessaro::connectedLoad, this, [this] { events << QStringLiteral("connectedLoad"); });
        connect(d, &tessaro::disconnected, this, [this] { events << QStringLiteral("disconnected"); });
    }

private slots:
    void init()
    {
        fixture.emplace();
        fixture->writeCatalogue({SimFixture::sensorEntry(),
                                 SimFixture::entry(QStringLiteral("bootloader"), 0x0002),
                                 SimFixture::entry(QStringLiteral("update"), 0x0003)});
        events.clear();
        device = new tessaro;
        watch(device);
    }

    void cleanup()
    {
        SimFixture::closeConnection(device);
        fixture.reset();
    }

    void arrivalAndRemovalInOrder()
    {
        auto sensor = fixture->plugSensor();
        QTRY_COMPARE(events, QStringList({"connected", "connectedLoad"}));
        QVERIFY(device->isConnected);
        QCOMPARE(device->deviceType, QStringLiteral("tessaro"));
        QCOMPARE(device->productId, 0x0001);
        QCOMPARE(device->configFile, QStringLiteral("tessaro.json"));
        QCOMPARE(SimFixture::commands(*sensor), QStringList({"app:version;"}));

        sim::SimBus::instance().unplug(sensor.get());
        QTRY_COMPARE(events, QStringList({"connected", "connectedLoad", "disconnected"}));
        QVERIFY(!device->isConnected);
        QVERIFY(device->handle == nullptr);
        // Back on the bus: a new arrival.
        sim::SimBus::instance().plug(sensor);
        QTRY_COMPARE(events.count(QStringLiteral("connected")), 2);
    }

    void versionRejected_data()
    {
        QTest::addColumn<QString>("reply");
        QTest::newRow("other firmware") << "app:version:HW 1.1:SW 9.9:x;";
        QTest::newRow("other hardware") << "app:version:HW 7:SW 2.4:x;";
        QTest::newRow("four fields") << "app:version:HW 1.1:SW 2.4;";
        QTest::newRow("case differs") << "app:version:hw 1.1:SW 2.4:x;";
        QTest::newRow("empty") << "";
    }

    void versionRejected()
    {
        QFETCH(QString, reply);
        device->SetHotPlugTimerState(false);
        device->setVersionRetryMs(200);
        auto sensor = fixture->plugSensor();
        sensor->setVersionReply(reply.toStdString());
        device->hotplugWorker();
        QVERIFY(events.isEmpty());
        QVERIFY(!device->isConnected);
        const auto versionRequests = [&] { return SimFixture::commands(*sensor).count(QStringLiteral("app:version;")); };
        QCOMPARE(versionRequests(), 1);
        // Left alone for a while: a device that fails its check is not asked at every tick...
        device->hotplugWorker();
        QCOMPARE(versionRequests(), 1);
        // ...but again once the back-off has passed, and at once when it is plugged in again.
        const auto tickUntilAskedAgain = [&] {
            if (versionRequests() < 2)
                device->hotplugWorker();
            return versionRequests() >= 2;
        };
        QTRY_VERIFY(tickUntilAskedAgain());
        QCOMPARE(versionRequests(), 2);
        sim::SimBus::instance().unplug(sensor.get());
        device->hotplugWorker();
        sim::SimBus::instance().plug(sensor);
        device->hotplugWorker();
        QCOMPARE(versionRequests(), 3);
        QVERIFY(events.isEmpty());
    }

    void versionAcceptedWithMoreFields()
    {
        device->SetHotPlugTimerState(false);
        auto sensor = fixture->plugSensor();
        sensor->setVersionReply("app:version:HW 1.1:SW 2.4:a:b:c:d;tail:more");
        device->hotplugWorker();
        QCOMPARE(events, QStringList({"connected", "connectedLoad"}));
    }

    void writeFailureDuringVersionCheck()
    {
        device->SetHotPlugTimerState(false);
        auto sensor = fixture->plugSensor();
        sensor->injectFault(1, sim::Fault::WriteFails);
        device->hotplugWorker();
        QCOMPARE(events, QStringList({"disconnected"}));
        QVERIFY(!device->isConnected);
        // The next tick connects normally.
        device->hotplugWorker();
        QCOMPARE(events, QStringList({"disconnected", "connected", "connectedLoad"}));
    }

    void openAndStartUpgrade_data()
    {
        QTest::addColumn<int>("productId");
        QTest::addColumn<QString>("type");
        QTest::newRow("sensor: asked for its version, told to switch") << 0x0001 << "tessaro";
        QTest::newRow("bootloader: no commands") << 0x0002 << "bootloader";
        QTest::newRow("older device: no commands, its upgrade report") << 0x0003 << "update";
    }

    void openAndStartUpgrade()
    {
        QFETCH(int, productId);
        QFETCH(QString, type);
        sim::DeviceInfo info = sim::SimSensor::defaultInfo();
        info.productId = static_cast<std::uint16_t>(productId);
        auto unit = fixture->plugSensor(info);
        QTRY_COMPARE(events, QStringList({"connected", "connectedLoad"}));
        QCOMPARE(device->deviceType, type);
        QCOMPARE(device->productId, productId);
        const auto sensorOnly = [productId](const char* command) {
            return productId == 1 ? QStringList(QLatin1String(command)) : QStringList();
        };
        QCOMPARE(SimFixture::commands(*unit), sensorOnly("app:version;"));
        unit->clearLog();
        device->startUpgrade();
        QVERIFY(device->isConnected);
        sim::Report upgrade{};
        upgrade[0] = 0x09;
        const auto reports = unit->receivedReports();
        if (productId == 3)
            QVERIFY(reports.size() == 1 && reports[0] == upgrade);
        else
            QCOMPARE(SimFixture::commands(*unit), sensorOnly("app:bootloader;"));
    }

    // One scan of the bus however many entries the catalogue has.
    void oneBusScanPerTick()
    {
        device->SetHotPlugTimerState(false);
        const int before = sim::SimBus::instance().enumerations();
        device->hotplugWorker();
        QCOMPARE(sim::SimBus::instance().enumerations() - before, 1);
        QVERIFY(events.isEmpty());
    }

    // The catalogue's order, not the bus's, decides which device is opened; devices of
    // other makers are passed over.
    void catalogueOrderDecidesBetweenDevices()
    {
        device->SetHotPlugTimerState(false);
        sim::DeviceInfo foreign = sim::SimSensor::defaultInfo();
        foreign.vendorId = 0x046d;
        foreign.path = "sim/foreign";
        auto stranger = fixture->plugSensor(foreign);
        sim::DeviceInfo info = sim::SimSensor::defaultInfo();
        info.productId = 0x0002;
        info.path = "sim/bootloader";
        auto loader = fixture->plugSensor(info);
        auto sensor = fixture->plugSensor();
        info.productId = 0x0001;
        info.path = "sim/second";
        auto second = fixture->plugSensor(info);
        device->hotplugWorker();
        QCOMPARE(events, QStringList({"connected", "connectedLoad"}));
        QCOMPARE(device->deviceType, QStringLiteral("tessaro"));
        QCOMPARE(SimFixture::commands(*sensor), QStringList({"app:version;"}));
        // While open a tick only probes.
        device->hotplugWorker();
        QCOMPARE(events.count(QStringLiteral("connected")), 1);
        for (const auto& other : {stranger, loader, second})
            QVERIFY(other->receivedCommands().empty());
    }

    void stoppedPollingMissesRemoval()
    {
        auto sensor = fixture->plugSensor();
        QTRY_VERIFY(device->isConnected);
        device->SetHotPlugTimerState(false);
        QVERIFY(!device->hotplugTimer->isActive());
        sim::SimBus::instance().unplug(sensor.get());
        QTest::qWait(300);
        QVERIFY(device->isConnected);
        QVERIFY(!events.contains(QStringLiteral("disconnected")));
        device->SetHotPlugTimerState(true);
        QCOMPARE(device->hotplugTimer->interval(), 100);
        QTRY_VERIFY(events.contains(QStringLiteral("disconnected")));
    }

    void whileClosedOnlyTheSignal()
    {
        device->startUpgrade();
        QVERIFY(device->disconnectDevice());
        QCOMPARE(events, QStringList({"disconnected"}));
    }

    void unusableDeviceIsLoggedOncePerChange_data()
    {
        QTest::addColumn<QString>("problem");
        QTest::addColumn<int>("state");
        QTest::newRow("firmware not listed") << "unsupported" << int(tessaroDeviceState::Unsupported);
        QTest::newRow("no answer") << "silent" << int(tessaroDeviceState::Silent);
        QTest::newRow("cannot be opened") << "closed" << int(tessaroDeviceState::NotOpenable);
    }

    // Such a device is searched at every tick while it stays plugged in; its lines are
    // written when the bus changes, not ten times a second.
    void unusableDeviceIsLoggedOncePerChange()
    {
        QFETCH(QString, problem);
        QFETCH(int, state);
        device->SetHotPlugTimerState(false);
        device->setVersionRetryMs(0);  // asked again at every tick
        auto sensor = fixture->plugSensor();
        if (problem == QLatin1String("unsupported"))
            sensor->setVersionReply("app:version:HW 7:SW 9.9:x;");
        else if (problem == QLatin1String("silent"))
            sensor->setPersistentFault(sim::Fault::NoReply);
        else
            sensor->setOpenable(false);
        QSignalSpy stateChanges(device.data(), &tessaro::busStateChanged);

        QStringList lines;
        watchedLines = &lines;
        previousHandler = qInstallMessageHandler(noteLine);
        const auto finish = qScopeGuard([] {
            qInstallMessageHandler(previousHandler);
            watchedLines = nullptr;
        });
        const auto deviceLines = [&lines] {
            return lines.filter(QRegularExpression(QStringLiteral("^Type: "))).size();
        };
        for (int tick = 0; tick < 5; ++tick)
            device->hotplugWorker();
        QCOMPARE(deviceLines(), 1);
        QCOMPARE(int(device->busState().kind()), state);
        QCOMPARE(stateChanges.count(), 1);
        if (problem != QLatin1String("closed"))
            QVERIFY(SimFixture::commands(*sensor).count(QStringLiteral("app:version;")) >= 5);

        // Gone and back: written again.
        sim::SimBus::instance().unplug(sensor.get());
        device->hotplugWorker();
        QCOMPARE(device->busState().kind(), tessaroDeviceState::NoDevice);
        sim::SimBus::instance().plug(sensor);
        device->hotplugWorker();
        device->hotplugWorker();
        QCOMPARE(deviceLines(), 2);
        QVERIFY(events.isEmpty());
    }

};

TESSARO_TEST_MAIN(tst_tessaro)
#include "tst_tessaro.moc"
