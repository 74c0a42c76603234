// Every flow that talks to the sensor, with the sensor failing at each exchange in turn:
// unplugged, a failing write or read, no reply, 64 bytes of garbage, or a reply that comes
// after its wait, inside the next exchange's (it must not be taken for that one's, and the
// removal probe that finds it waiting must not block). Each run must end
// in a consistent state (sensor view over an open link, or the connect page over a closed
// one) with no register given a value that the flow does not write to a sound sensor
// (a reply taken for another's is no value), and the sensor must connect normally when
// plugged in again.
//
// The flashing flow does the same to the bootloader, from its connection (geometry read)
// through erase, write, verify and the start of the application. It must end in the page
// for whatever is then on the bus (the flashing view for the bootloader, the sensor view
// for the started application, the connect page for nothing), and the bootloader plugged
// in again, whatever its flash was left holding, must flash normally and start the sensor.
#include "app/serviceidentity.h"
#include "app/view_main.h"
#include "device/tessaro.h"
#include "live/tessaropushbutton.h"
#include "sensor/view_tessaro.h"
#include "sensor/view_tessaroparameter_int.h"
#include "sim/simbootloader.h"
#include "simfixture.h"
#include "serviceaddress.h"
#include "testmain.h"
#include "update/bootloader.h"
#include "update/view_update.h"

#include <QFile>
#include <QLoggingCategory>
#include <QPushButton>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>

#include <functional>
#include <optional>
#include <set>

namespace {

enum class Flow { Startup, Poll, SystemTab, EditorWrite, Preset, EasyRefresh, Buttons, Flashing };

const QList<QPair<const char*, Flow>> Flows = {
    {"startup", Flow::Startup},         {"poll", Flow::Poll},       {"system tab", Flow::SystemTab},
    {"editor write", Flow::EditorWrite}, {"preset", Flow::Preset},  {"easy refresh", Flow::EasyRefresh},
    {"buttons", Flow::Buttons},         {"flashing", Flow::Flashing},
};

const QList<QPair<const char*, sim::Fault>> Faults = {
    {"unplug", sim::Fault::Unplug},       {"write fails", sim::Fault::WriteFails},
    {"read fails", sim::Fault::ReadFails}, {"no reply", sim::Fault::NoReply},
    {"garbage", sim::Fault::Garbage},     {"late reply (lands in the next exchange)", sim::Fault::LateReply},
};

constexpr int PollTicks = 30;

// A small flash keeps the flashing flow short yet with every kind of exchange: two pages
// of 256 bytes to erase, sixteen 32-byte blocks to write and to verify.
const sim::FlashGeometry SmallFlash{768, 256, 3, 256};
constexpr int ImageSize = 512;
const char* const ImageVersion = "SW 2.5";
constexpr int FlashReplyLimitMs = 150;
constexpr auto RestartDelay = std::chrono::milliseconds(1);
// Far above what any run takes; reaching it means the flow hung.
constexpr int FlowLimitMs = 15000;
// How far past its exchange's time limit a late reply comes.
constexpr int LateByMs = 25;

} // namespace

class tst_faultmatrix : public QObject
{
    Q_OBJECT

private:
    std::optional<SimFixture> fixture;
    std::shared_ptr<sim::SimSensor> sensor;
    std::unique_ptr<viewMain> window;
    std::shared_ptr<sim::SimBootloader> loader;
    std::optional<QTemporaryDir> images;
    QString imagePath;
    // What each flow writes to the registers of a sound sensor.
    std::set<std::string> intended[int(Flow::Flashing) + 1];

    void prepare()
    {
        fixture.emplace();
        fixture->useShippedCatalogue();
        QFile model(QStringLiteral(TESSARO_SOURCE_DIR "/data/sensors/tessaro_t1.json"));
        QVERIFY(model.open(QIODevice::ReadOnly));
        fixture->writeFile(QStringLiteral("sensors/tessaro_t1.json"), model.readAll());
        sensor = fixture->plugSensor();
        sensor->setLiveMotion(false);
    }

    void writeImage()
    {
        images.emplace();
        QVERIFY(images->isValid());
        imagePath = images->filePath(QStringLiteral("tessaro.0002.bin"));
        const auto image = sim::makeFirmwareImage(ImageSize, ImageVersion, 7);
        QFile file(imagePath);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(reinterpret_cast<const char*>(image.data()), qint64(image.size())), qint64(image.size()));
    }

    QWidget* currentPage() const { return window->findChild<QStackedWidget*>()->currentWidget(); }
    view_tessaro* sensorView() const { return qobject_cast<view_tessaro*>(currentPage()); }
    view_update* flashingView() const { return qobject_cast<view_update*>(currentPage()); }

    // The window with its sensor view, polling stopped so that only the flow talks.
    void openWindow()
    {
        window = std::make_unique<viewMain>();
        window->device->SetHotPlugTimerState(false);
        stopPolling();
    }

    void stopPolling()
    {
        if (view_tessaro* view = sensorView())
            view->pollTimer->stop();
    }

    // Plugs the sensor in again, fault-free, and lets the window connect to it.
    void reconnect()
    {
        sensor->clearFaults();
        sim::SimBus::instance().unplug(sensor.get());
        window->device->hotplugWorker();
        sim::SimBus::instance().plug(sensor);
        window->device->hotplugWorker();
        stopPolling();
    }

    // Starts a flow from a connected sensor view; the start-up flow builds the window.
    // The flashing flow starts from the connect page with a fresh bootloader on the bus,
    // not yet found.
    void start(Flow flow)
    {
        sensor->clearRegisterWrites();
        if (flow == Flow::Startup)
            window.reset();
        else if (!window)
            openWindow();
        if (flow == Flow::Flashing)
            swapSensorForBootloader();
    }

    void swapSensorForBootloader()
    {
        sim::SimBus::instance().unplug(sensor.get());
        window->device->hotplugWorker();
        loader = std::make_shared<sim::SimBootloader>(SmallFlash);
        loader->setRestartDelay(RestartDelay);
        sim::SimBus::instance().plug(loader);
    }

    // The device that a flow talks to.
    sim::SimDevice& target(Flow flow) const
    {
        if (flow == Flow::Flashing)
            return *loader;
        return *sensor;
    }

    // Finds the bootloader and, if it shows its flashing view, flashes the image through
    // the view's button; returns once the sequence and the device's restart are over.
    // The result is whether the sequence reported success.
    bool flashThroughWindow()
    {
        window->device->hotplugWorker();
        view_update* view = flashingView();
        if (!view)
            return false;
        view->setSettleTimeMs(0);
        view->setReplyTimeoutMs(FlashReplyLimitMs);
        // The object outlives the view when the link goes during the sequence.
        const QSharedPointer<bootloader> sequence = view->loader;
        QSignalSpy finished(sequence.data(), &bootloader::updateFinished);
        view->updateButton->click();
        [&] { QVERIFY(QTest::qWaitFor([&] { return !sequence->isBusy(); }, FlowLimitMs)); }();
        // The sequence restarts the hot-plug polling; here the test does the polling.
        window->device->SetHotPlugTimerState(false);
        // A started application comes on the bus after the restart delay.
        [&] { QVERIFY(QTest::qWaitFor([] { return sim::SimBus::instance().pendingActions() == 0; }, FlowLimitMs)); }();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return finished.count() == 1 && finished.at(0).at(0).toBool();
    }

    std::shared_ptr<sim::SimSensor> startedApplication() const
    {
        const auto application = loader ? loader->application() : nullptr;
        return application && application->plugged() ? application : nullptr;
    }

    // One round of polling as the timer would do it, and a second one when the first
    // found the device gone, so the window shows whatever is now on the bus.
    void settleHotPlug()
    {
        window->device->hotplugWorker();
        if (!window->device->isConnected)
            window->device->hotplugWorker();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    // The window after a flashing run: the page for the device on the bus.
    bool showsDeviceOnBus() const
    {
        if (startedApplication())
            return window->device->isConnected && sensorView();
        if (loader->plugged())
            return window->device->isConnected && flashingView();
        return !window->device->isConnected && !sensorView() && !flashingView();
    }

    // The bootloader, fault-free and with whatever its flash holds now, plugged in again
    // alone: it must flash and come back as the sensor with the new firmware.
    void reflashAfterReplug()
    {
        sim::SimBus::instance().unplugAll();
        settleHotPlug();
        loader->clearFaults();
        sim::SimBus::instance().plug(loader);
        QVERIFY(flashThroughWindow());
        QVERIFY(startedApplication());
        settleHotPlug();
        stopPolling();
        QVERIFY(sensorView());
        QCOMPARE(sensorSw, QLatin1String(ImageVersion));
        QCOMPARE(loader->applicationVersion(), std::string(ImageVersion));
    }

    // Back to the matrix's own sensor, connected, for the next row.
    void restoreSensor()
    {
        sim::SimBus::instance().unplugAll();
        window->device->hotplugWorker();
        loader.reset();
        reconnect();
    }

    void runFlow(Flow flow)
    {
        if (flow == Flow::Startup) {
            openWindow();
            return;
        }
        if (flow == Flow::Flashing) {
            flashThroughWindow();
            return;
        }
        QPointer<view_tessaro> view = sensorView();
        if (!view)
            return;
        switch (flow) {
        case Flow::Poll:
            for (int i = 0; i < PollTicks && view; ++i) {
                view->dataPollWorker();
                QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            }
            break;
        case Flow::SystemTab:
            view->tabs->setCurrentIndex(view->tabIndex(view->systemTab));
            break;
        case Flow::EditorWrite:
            if (auto* editor = view->systemTab->findChild<view_tessaroParameter_int*>())
                editor->updateValue();
            break;
        case Flow::Preset:
            view->simpleUpdateSensor();
            break;
        case Flow::EasyRefresh:
            view->updateEasy();
            break;
        case Flow::Buttons: {
            const auto buttons = view->advancedTab->findChildren<tessaroPushButton*>();
            for (tessaroPushButton* button : buttons) {
                button->setPauseMs(0);
                if (view)
                    button->click();
            }
            break;
        }
        case Flow::Startup:
        case Flow::Flashing:
            break;
        }
    }

    // Runs a flow on a clean sensor and counts its exchanges.
    int exchangesOf(Flow flow)
    {
        start(flow);
        const int before = target(flow).exchangeCount();
        runFlow(flow);
        const int count = target(flow).exchangeCount() - before;
        const auto writes = sensor->registerWrites();
        intended[int(flow)] = {writes.begin(), writes.end()};
        if (flow == Flow::Flashing)
            restoreSensor();
        else
            reconnect();
        return count;
    }

    // Once the late reply is surely in, a removal probe must take it and return at once.
    void probeWithLateReplyWaiting(int lateMs)
    {
        QTest::qWait(lateMs);
        if (window && window->device->isConnected)
            window->device->hotplugWorker();
    }

    bool consistent() const
    {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        const bool open = window->device->isConnected;
        return open == (sensorView() != nullptr);
    }

private slots:
    void initTestCase()
    {
        // Thousands of device lines would only slow the matrix down.
        QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
        // The web check fails at once on a closed local port.
        ServiceAddress::useClosedPort();
        writeImage();
        view_update::chooseImageFile = [this](QWidget*, const QString&, const QString&, const QString&) {
            return imagePath;
        };
        prepare();
    }

    void cleanupTestCase()
    {
        window.reset();
        sensor.reset();
        loader.reset();
        fixture.reset();
        images.reset();
    }

    void faultAtEveryExchange_data()
    {
        QTest::addColumn<int>("flow");
        QTest::addColumn<int>("fault");
        QTest::addColumn<int>("exchange");
        for (const auto& flow : Flows) {
            const int count = exchangesOf(flow.second);
            QVERIFY2(count > 0, flow.first);
            for (const auto& fault : Faults) {
                for (int exchange = 1; exchange <= count; ++exchange)
                    QTest::addRow("%s, %s at %d", flow.first, fault.first, exchange)
                        << int(flow.second) << int(fault.second) << exchange;
            }
        }
    }

    void faultAtEveryExchange()
    {
        QFETCH(int, flow);
        QFETCH(int, fault);
        QFETCH(int, exchange);
        start(Flow(flow));
        const int replyLimitMs = Flow(flow) == Flow::Flashing ? FlashReplyLimitMs : TessaroLink::CommandTimeoutMs;
        target(Flow(flow)).setLateReplyDelay(std::chrono::milliseconds(replyLimitMs + LateByMs));
        target(Flow(flow)).injectFault(exchange, sim::Fault(fault));
        runFlow(Flow(flow));
        if (sim::Fault(fault) == sim::Fault::LateReply)
            probeWithLateReplyWaiting(replyLimitMs + LateByMs);
        if (Flow(flow) == Flow::Flashing) {
            settleHotPlug();
            QVERIFY(showsDeviceOnBus());
            reflashAfterReplug();
            restoreSensor();
            QVERIFY(window->device->isConnected);
            QVERIFY(sensorView());
            return;
        }
        if (!window)
            openWindow();
        QVERIFY(consistent());

        // Whatever happened, the sensor connects normally once plugged in again, and took only the values meant for it.
        reconnect();
        QVERIFY(window->device->isConnected);
        QVERIFY(sensorView());
        for (const std::string& write : sensor->registerWrites())
            QVERIFY2(intended[flow].count(write), write.c_str());
    }
};

TESSARO_TEST_MAIN(tst_faultmatrix)
#include "tst_faultmatrix.moc"
