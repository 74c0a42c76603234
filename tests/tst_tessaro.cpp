// The device connection: arrival, version check, removal and the switch to the bootloader.
#include "device/tessaro.h"
#include "simfixture.h"
#include "testmain.h"

#include <QSignalSpy>

#include <optional>
#include <utility>

namespace {

// The first of a search's device lines, as written; and the handler they go on to.
QStringList deviceLines;
QtMessageHandler previousHandler = nullptr;

void noteLine(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (message.startsWith(QLatin1String("Type: ")))
        deviceLines << message;
    previousHandler(type, context, message);
}

} // namespace

class tst_tessaro : public QObject
{
    Q_OBJECT

private:
    QStringList events; // the connection's signals in the order they come
    std::optional<SimFixture> fixture;
    QPointer<tessaro> device;

    // A device at a path of its own, by default the sensor's maker's.
    std::shared_ptr<sim::SimSensor> plug(int productId, const char* path, int vendorId = 0)
    {
        sim::DeviceInfo info = sim::SimSensor::defaultInfo();
        info.productId = static_cast<std::uint16_t>(productId);
        info.vendorId = vendorId ? static_cast<std::uint16_t>(vendorId) : info.vendorId;
        info.path = path;
        return fixture->plugSensor(info);
    }

private slots:
    void initTestCase() { previousHandler = qInstallMessageHandler(noteLine); }

    // The tests tick the search by hand, but for the one that checks the polling.
    void init()
    {
        fixture.emplace();
        fixture->writeCatalogue({SimFixture::sensorEntry(), SimFixture::entry(QStringLiteral("bootloader"), 0x0002),
                                 SimFixture::entry(QStringLiteral("update"), 0x0003)});
        events.clear();
        deviceLines.clear();
        device = new tessaro;
        connect(device, &tessaro::connected, this, [this] { events << QStringLiteral("connected"); });
        connect(device, &tessaro::connectedLoad, this, [this] { events << QStringLiteral("connectedLoad"); });
        connect(device, &tessaro::disconnected, this, [this] { events << QStringLiteral("disconnected"); });
        QVERIFY(device->hotplugTimer->isActive());
        device->SetHotPlugTimerState(false);
    }

    void cleanup()
    {
        SimFixture::closeConnection(device);
        fixture.reset();
    }

    void pollingFindsArrivalAndRemoval()
    {
        device->SetHotPlugTimerState(true);
        QCOMPARE(device->hotplugTimer->interval(), 100);
        auto sensor = fixture->plugSensor();
        QTRY_COMPARE(events, QStringList({"connected", "connectedLoad"}));
        QCOMPARE(device->configFile, QStringLiteral("tessaro.json"));
        sim::SimBus::instance().unplug(sensor.get());
        QTRY_COMPARE(events, QStringList({"connected", "connectedLoad", "disconnected"}));
        // Stopped, the polling misses a removal until it runs again.
        sim::SimBus::instance().plug(sensor);
        QTRY_VERIFY(device->isConnected);
        device->SetHotPlugTimerState(false);
        sim::SimBus::instance().unplug(sensor.get());
        QTest::qWait(300);
        QVERIFY(device->isConnected);
        device->SetHotPlugTimerState(true);
        QTRY_COMPARE(events.count(QStringLiteral("disconnected")), 2);
        // Closed, a switch sends nothing and a disconnect only signals.
        device->startUpgrade();
        QVERIFY(device->disconnectDevice());
        QCOMPARE(events.count(QStringLiteral("disconnected")), 3);
    }

    void versionCheck_data()
    {
        QTest::addColumn<QString>("problem"); // the version reply, or a fault
        QTest::addColumn<int>("state");       // the bus state while the device is refused
        QTest::newRow("more fields: accepted") << "app:version:HW 1.1:SW 2.4:a:b:c:d;tail:more" << -1;
        QTest::newRow("write fails: accepted at the next tick") << "write fails" << -1;
        QTest::newRow("other firmware") << "app:version:HW 1.1:SW 9.9:x;" << int(tessaroDeviceState::Unsupported);
        QTest::newRow("other hardware") << "app:version:HW 7:SW 2.4:x;" << int(tessaroDeviceState::Unsupported);
        QTest::newRow("four fields") << "app:version:HW 1.1:SW 2.4;" << int(tessaroDeviceState::Unsupported);
        QTest::newRow("case differs") << "app:version:hw 1.1:SW 2.4:x;" << int(tessaroDeviceState::Unsupported);
        QTest::newRow("empty reply") << "" << int(tessaroDeviceState::Silent);
        QTest::newRow("no answer") << "silent" << int(tessaroDeviceState::Silent);
        QTest::newRow("cannot be opened") << "closed" << int(tessaroDeviceState::NotOpenable);
    }

    // A refused device rests: it is asked again once the back-off has passed or when it is
    // plugged in again, not at every tick. Its search lines are written when the bus
    // changes, not ten times a second.
    void versionCheck()
    {
        QFETCH(QString, problem);
        QFETCH(int, state);
        device->setVersionRetryMs(200);
        auto sensor = fixture->plugSensor();
        const auto versionRequests = [&sensor] { return SimFixture::commands(*sensor).count(QStringLiteral("app:version;")); };
        if (problem == QLatin1String("write fails")) {
            sensor->injectFault(1, sim::Fault::WriteFails);
            device->hotplugWorker();
            QCOMPARE(std::exchange(events, {}), QStringList({"disconnected"}));
        } else if (problem == QLatin1String("silent")) {
            sensor->setPersistentFault(sim::Fault::NoReply);
        } else if (problem == QLatin1String("closed")) {
            sensor->setOpenable(false);
        } else {
            sensor->setVersionReply(problem.toStdString());
        }
        QSignalSpy stateChanges(device.data(), &tessaro::busStateChanged);
        for (int tick = 0; tick < 5; ++tick)
            device->hotplugWorker();
        QCOMPARE(events, state < 0 ? QStringList({"connected", "connectedLoad"}) : QStringList());
        if (state < 0)
            return;
        QCOMPARE(int(device->busState().kind()), state);
        QCOMPARE(stateChanges.count(), 1);
        QCOMPARE(deviceLines.size(), 1);
        const int asks = problem == QLatin1String("closed") ? 0 : 1;
        QCOMPARE(versionRequests(), asks);
        QTest::qWait(250);
        device->hotplugWorker();
        QCOMPARE(versionRequests(), 2 * asks);
        sim::SimBus::instance().unplug(sensor.get());
        device->hotplugWorker();
        QCOMPARE(device->busState().kind(), tessaroDeviceState::NoDevice);
        sim::SimBus::instance().plug(sensor);
        device->hotplugWorker();
        QCOMPARE(versionRequests(), 3 * asks);
        QCOMPARE(deviceLines.size(), 2);
        QVERIFY(events.isEmpty());
    }

    // One scan of the bus however many entries the catalogue has; the catalogue's order,
    // not the bus's, decides which device is opened; devices of other makers are passed
    // over. The switch to the bootloader goes by the type opened.
    void catalogueOrderAndTheSwitch()
    {
        auto stranger = plug(0x0001, "sim/foreign", 0x046d);
        auto loader = plug(0x0002, "sim/bootloader");
        auto sensor = plug(0x0001, "sim/sensor");
        auto second = plug(0x0001, "sim/second");
        const int before = sim::SimBus::instance().enumerations();
        device->hotplugWorker();
        QCOMPARE(sim::SimBus::instance().enumerations() - before, 1);
        QCOMPARE(device->deviceType, QStringLiteral("tessaro"));
        device->hotplugWorker(); // while open a tick only probes
        QCOMPARE(events, QStringList({"connected", "connectedLoad"}));
        device->startUpgrade();
        QCOMPARE(SimFixture::commands(*sensor), QStringList({"app:version;", "app:bootloader;"}));
        // Without sensors the bootloader is next: it is sent nothing, not even a version request.
        sim::SimBus::instance().unplug(sensor.get());
        sim::SimBus::instance().unplug(second.get());
        device->hotplugWorker();
        device->hotplugWorker(); // one tick closes, the next opens
        QCOMPARE(device->deviceType, QStringLiteral("bootloader"));
        device->startUpgrade();
        // An older device is sent its upgrade report.
        sim::SimBus::instance().unplug(loader.get());
        auto old = plug(0x0003, "sim/old");
        device->hotplugWorker();
        device->hotplugWorker();
        QCOMPARE(device->productId, 0x0003);
        device->startUpgrade();
        sim::Report upgrade{};
        upgrade[0] = 0x09;
        QVERIFY(old->receivedReports().size() == 1 && old->receivedReports()[0] == upgrade);
        QVERIFY(device->isConnected);
        for (const auto& other : {stranger, loader, second})
            QVERIFY(other->receivedCommands().empty());
    }
};

TESSARO_TEST_MAIN(tst_tessaro)
#include "tst_tessaro.moc"
