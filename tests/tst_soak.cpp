// A thousand connections and disconnections of the simulated sensor through the main
// window, each building and deleting a sensor view: nothing may pile up.
#include "app/view_main.h"
#include "device/tessaro.h"
#include "sensor/view_tessaro.h"
#include "simfixture.h"
#include "serviceaddress.h"
#include "testmain.h"

#include <QElapsedTimer>
#include <QFile>
#include <QLoggingCategory>
#include <QNetworkReply>
#include <QStackedWidget>

#include <cstdio>
#include <type_traits>

namespace {

constexpr int Cycles = 1000;
constexpr int WarmUpCycles = 100;
constexpr qint64 AllowedGrowthKiB = 2 * 1024;

// Objects reachable from the application: every top-level widget and the application
// object, with all their children.
template <typename T = QObject>
int liveObjects()
{
    int count = std::is_same<T, QObject>::value ? 1 : 0;
    count += QCoreApplication::instance()->findChildren<T*>().size();
    const auto windows = QApplication::topLevelWidgets();
    for (const QWidget* window : windows)
        count += (qobject_cast<const T*>(window) ? 1 : 0) + window->findChildren<T*>().size();
    return count;
}

qint64 residentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return 0;
}

} // namespace

class tst_soak : public QObject
{
    Q_OBJECT

private slots:
    void connectAndDisconnectAThousandTimes()
    {
        // Thousands of device lines would only slow the loop down.
        QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
        ServiceAddress::useClosedPort();
        SimFixture fixture;
        fixture.useShippedCatalogue();
        QFile model(QStringLiteral(TESSARO_SOURCE_DIR "/data/sensors/tessaro_t1.json"));
        QVERIFY(model.open(QIODevice::ReadOnly));
        fixture.writeFile(QStringLiteral("sensors/tessaro_t1.json"), model.readAll());
        auto sensor = fixture.plugSensor();
        sensor->setLiveMotion(false);
        sim::SimBus::instance().unplug(sensor.get());

        viewMain window;
        window.device->SetHotPlugTimerState(false);
        auto* stack = window.findChild<QStackedWidget*>();
        int objectsAtStart = 0;
        qint64 residentAfterWarmUp = 0;
        QElapsedTimer clock;
        clock.start();
        for (int cycle = 0; cycle < Cycles; ++cycle) {
            if (cycle == 1) {
                // A web check of the last connection may still be on its way: counted
                // once it has ended, as at the end.
                QTRY_COMPARE(liveObjects<QNetworkReply>(), 0);
                objectsAtStart = liveObjects();
            }
            if (cycle == WarmUpCycles)
                residentAfterWarmUp = residentKiB();
            sim::SimBus::instance().plug(sensor);
            window.device->hotplugWorker();
            QVERIFY(qobject_cast<view_tessaro*>(stack->currentWidget()));
            QCoreApplication::processEvents();
            sim::SimBus::instance().unplug(sensor.get());
            window.device->hotplugWorker();
            QVERIFY(!window.device->isConnected);
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            QCoreApplication::processEvents();
            QCOMPARE(stack->count(), 1);
        }
        const qint64 growth = residentKiB() - residentAfterWarmUp;
        std::printf("%d cycles, %.2f ms each; resident growth over the last %d: %lld KiB; live objects %d -> %d\n",
                    Cycles, double(clock.elapsed()) / Cycles, Cycles - WarmUpCycles, static_cast<long long>(growth),
                    objectsAtStart, liveObjects());

        QTRY_COMPARE(liveObjects<QNetworkReply>(), 0);
        QCOMPARE(liveObjects(), objectsAtStart);
        // Sanitizer builds keep freed memory in quarantine, so only plain builds judge it.
#if !defined(__SANITIZE_ADDRESS__)
        QVERIFY2(growth <= AllowedGrowthKiB, qPrintable(QStringLiteral("grew by %1 KiB").arg(growth)));
#endif
    }
};

TESSARO_TEST_MAIN(tst_soak)
#include "tst_soak.moc"
