// Every flow that talks to the sensor, with the sensor failing at each exchange in turn:
// unplugged, a failing write or read, no reply, or 64 bytes of garbage. Each run must end
// in a consistent state (sensor view over an open link, or the connect page over a closed
// one), and the sensor must connect normally when plugged in again.
#include "app/view_main.h"
#include "device/tessaro.h"
#include "live/tessaropushbutton.h"
#include "sensor/view_tessaro.h"
#include "sensor/view_tessaroparameter_int.h"
#include "simfixture.h"
#include "serviceaddress.h"
#include "testmain.h"

#include <QFile>
#include <QLoggingCategory>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTimer>

#include <functional>
#include <optional>

namespace {

enum class Flow { Startup, Poll, SystemTab, EditorWrite, Preset, EasyRefresh, Buttons };

const QList<QPair<const char*, Flow>> Flows = {
    {"startup", Flow::Startup},         {"poll", Flow::Poll},       {"system tab", Flow::SystemTab},
    {"editor write", Flow::EditorWrite}, {"preset", Flow::Preset},  {"easy refresh", Flow::EasyRefresh},
    {"buttons", Flow::Buttons},
};

const QList<QPair<const char*, sim::Fault>> Faults = {
    {"unplug", sim::Fault::Unplug},       {"write fails", sim::Fault::WriteFails},
    {"read fails", sim::Fault::ReadFails}, {"no reply", sim::Fault::NoReply},
    {"garbage", sim::Fault::Garbage},
};

constexpr int PollTicks = 30;

} // namespace

class tst_faultmatrix : public QObject
{
    Q_OBJECT

private:
    std::optional<SimFixture> fixture;
    std::shared_ptr<sim::SimSensor> sensor;
    std::unique_ptr<viewMain> window;

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

    void finish()
    {
        window.reset();
        sensor.reset();
        fixture.reset();
    }

    view_tessaro* sensorView() const
    {
        return qobject_cast<view_tessaro*>(window->findChild<QStackedWidget*>()->currentWidget());
    }

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
    void start(Flow flow)
    {
        if (flow == Flow::Startup)
            window.reset();
        else if (!window)
            openWindow();
    }

    void runFlow(Flow flow)
    {
        if (flow == Flow::Startup) {
            openWindow();
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
            view->tabs->setCurrentIndex(view->tabs->indexOf(view->systemTab));
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
            break;
        }
    }

    // Runs a flow on a clean sensor and counts its exchanges.
    int exchangesOf(Flow flow)
    {
        start(flow);
        const int before = sensor->exchangeCount();
        runFlow(flow);
        const int count = sensor->exchangeCount() - before;
        reconnect();
        return count;
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
        prepare();
    }

    void cleanupTestCase()
    {
        finish();
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
        sensor->injectFault(exchange, sim::Fault(fault));
        runFlow(Flow(flow));
        if (!window)
            openWindow();
        QVERIFY(consistent());

        // Whatever happened, the sensor connects normally once it is plugged in again.
        reconnect();
        QVERIFY(window->device->isConnected);
        QVERIFY(sensorView());
    }
};

TESSARO_TEST_MAIN(tst_faultmatrix)
#include "tst_faultmatrix.moc"
