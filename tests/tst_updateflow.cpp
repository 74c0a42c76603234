// The whole firmware update through a real main window, the simulated sensor and bootloader
// and the stand-in web service: use-file, file choice, flashing, the sensor's return.
#include "app/serviceidentity.h"
#include "app/view_main.h"
#include "live/pentrailitem.h"
#include "live/view_tessarolive.h"
#include "sensor/view_tessaro.h"
#include "sim/simbootloader.h"
#include "flashinglines.h"
#include "simfixture.h"
#include "serviceaddress.h"
#include "testmain.h"
#include "update/flashlog.h"
#include "update/view_dialogupdate.h"
#include "update/view_update.h"

#include <QAction>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QStackedWidget>

#include <algorithm>
#include <optional>

using sim::SimBootloader;

namespace {
constexpr int FlowTimeoutMs = 30000;
// A web answer that comes well after the sensor has gone into its bootloader.
constexpr int SlowAnswerMs = 1500;
const QString Updated = QStringLiteral("[updatedialog:firmware:updated]");
} // namespace

class tst_updateflow : public QObject
{
    Q_OBJECT

private:
    std::optional<StandInService> service;
    std::optional<SimFixture> fixture;
    std::unique_ptr<viewMain> window;
    view_dialogupdate* dialog = nullptr;
    QStringList statuses;  // what the dialog reported
    // The flashing views that asked for a file, and the files they get.
    QList<QPointer<view_update>> choices;
    QStringList nextFiles;
    std::shared_ptr<SimBootloader> loader;
    // Makes the next bootloader asked for a file alter what it reads back.
    bool corruptNextLoader = false;

    QWidget* currentPage() const { return window->findChild<QStackedWidget*>()->currentWidget(); }

    // An image with the version text where the firmware keeps it.
    QString writeImage(const QString& name, int size)
    {
        const auto image = sim::makeFirmwareImage(static_cast<std::size_t>(size), "SW 2.5");
        fixture->writeFile(name, QByteArray(reinterpret_cast<const char*>(image.data()), static_cast<int>(image.size())));
        return fixture->dir() + QLatin1Char('/') + name;
    }

    static QStringList listed(const QListWidget* list)
    {
        QStringList lines;
        for (int i = 0; i < list->count(); ++i)
            lines << list->item(i)->text();
        return lines;
    }

    static QString logged()
    {
        QFile log(FlashLog::filePath());
        return log.open(QIODevice::ReadOnly) ? QString::fromUtf8(log.readAll()).trimmed() : QString();
    }

    // A sensor that goes into its bootloader when asked, shown in the window.
    std::shared_ptr<sim::SimSensor> startWithSensor()
    {
        auto sensor = fixture->plugSensor();
        sensor->setReenumerates(true, std::chrono::milliseconds(30));
        window = std::make_unique<viewMain>();
        window->show();
        dialog = window->updateDialog();
        connect(dialog, &view_dialogupdate::firmwareStatus, this, [this](const QString& status) { statuses << status; });
        return sensor;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(ServiceAddress::useStandIn(service));
        // The file dialog answered here; the wait before erasing shortened through the view's setter.
        view_update::chooseImageFile = [this](QWidget* parent, const QString&, const QString&, const QString&) {
            auto* view = qobject_cast<view_update*>(parent);
            choices << view;
            view->setSettleTimeMs(20);
            loader = std::dynamic_pointer_cast<SimBootloader>(sim::SimBus::instance().devices().back());  // the unit gone over
            if (corruptNextLoader)
                loader->setReadCorruption(0x10);
            corruptNextLoader = false;
            return nextFiles.isEmpty() ? QString() : nextFiles.takeFirst();
        };
    }

    void init()
    {
        fixture.emplace();
        fixture->useShippedCatalogue();
        QVERIFY(QFile::copy(TESSARO_SOURCE_DIR "/data/sensors/tessaro_t1.json", fixture->dir() + "/sensors/tessaro_t1.json"));
        service->resetReplies();
        sensorSw.clear();
        choices.clear();
        nextFiles.clear();
        statuses.clear();
    }

    void cleanup()
    {
        if (auto* view = window ? qobject_cast<view_update*>(currentPage()) : nullptr)
            QTRY_VERIFY_WITH_TIMEOUT(!view->loader->isBusy(), FlowTimeoutMs);
        window.reset();
        loader.reset();
        fixture.reset();
    }

    // Use-file through to the sensor's return with the new version, reported exactly once.
    void updateFromFileEndToEnd()
    {
        service->setVerdicts(false);
        startWithSensor();
        const auto actions = window->findChildren<QAction*>();
        QAction* updateEntry = *std::find_if(actions.cbegin(), actions.cend(),
                                             [](QAction* action) { return action->text() == "[menu:file:update]"; });
        // Opened from the menu, the dialog learns that newer firmware exists.
        updateEntry->trigger();
        QTRY_COMPARE(dialog->statusLabel->text(), QStringLiteral("[updatedialog:firmware:new]"));
        QTRY_COMPARE(dialog->pendingRequests(), 0);
        statuses.clear();

        // The sensor comes back as the bootloader and flashes the image the demo ships.
        nextFiles << QStringLiteral(TESSARO_DEMO_IMAGE_PATH);
        dialog->useFileButton->click();
        QTRY_VERIFY_WITH_TIMEOUT(qobject_cast<view_tessaro*>(currentPage()) && sensorSw == "SW 2.5", FlowTimeoutMs);
        QVERIFY(logged().endsWith(FlashingLines::success(TESSARO_DEMO_IMAGE_PATH).join(QStringLiteral("\n   "))));
        // Recorded once the sensor was back: who it is, its firmware before and after.
        QVERIFY(logged().contains(QStringLiteral(": verified | unit TS-000123 | hardware HW 1.1 | firmware SW 2.4 -> SW 2.5"
                                                 " | program TessaroUtility UTIL 2.2\n")));

        // Reported though the service still says otherwise; the sensor's live data flows again.
        QTRY_COMPARE(dialog->statusLabel->text(), Updated);
        view_tessarolive* live = qobject_cast<view_tessaro*>(currentPage())->liveView;
        QTRY_VERIFY(live->penTrail && live->penTrail->points().size() > 1);
        QVERIFY(!live->grab().isNull());

        // The service's verdict on the new version afterwards.
        service->setVerdicts(true);
        dialog->cancelButton->click();
        updateEntry->trigger();
        QTRY_COMPARE(dialog->statusLabel->text(), QStringLiteral("[updatedialog:firmware:ok]"));
        QCOMPARE(statuses, QStringList({"[updatedialog:firmware:updating]", Updated, "[updatedialog:firmware:ok]"}));
    }

    void cancelledFileDialogThenUpdateButton()
    {
        startWithSensor();
        dialog->useFileButton->click();
        // The file dialog is cancelled: the device stays in its bootloader, nothing erased.
        QTRY_COMPARE_WITH_TIMEOUT(choices.size(), 1, FlowTimeoutMs);
        QPointer<view_update> flashing = choices[0];
        QCOMPARE(dialog->statusLabel->text(), QStringLiteral("[updatedialog:firmware:cancelled]"));
        QTest::qWait(200);
        QCOMPARE(loader->requestCount(SimBootloader::ErasePage), 0);

        // A failed run from the page's own button reports there, not in the dialog.
        nextFiles << writeImage(QStringLiteral("big.0002.bin"), 32768 - 4096 + 1);
        flashing->updateButton->click();
        QCOMPARE(listed(flashing->statusList).constLast(), view_update::shownLine(QStringLiteral("Abort")));
        QCOMPARE(dialog->statusLabel->text(), QStringLiteral("[updatedialog:firmware:cancelled]"));

        // A verified run from the page's own button: once the sensor is back, the dialog
        // reports the service's answer, not an update of its own.
        nextFiles << writeImage(QStringLiteral("tessaro.0002.bin"), 2048);
        statuses.clear();
        flashing->updateButton->click();
        QTRY_VERIFY_WITH_TIMEOUT(qobject_cast<view_tessaro*>(currentPage()) && sensorSw == "SW 2.5", FlowTimeoutMs);
        QTRY_COMPARE(statuses.size(), 1);
        QVERIFY(statuses.constFirst() != Updated);
    }

    void failedRunIsReportedAndKept_data()
    {
        QTest::addColumn<int>("imageSize");
        QTest::addColumn<bool>("corruptReadBack");
        QTest::newRow("verification fails") << 2048 << true;
        QTest::newRow("empty image") << 0 << false;
    }

    // Never "updated" for a run that did not verify; its lines are logged and outlive the view.
    void failedRunIsReportedAndKept()
    {
        QFETCH(int, imageSize);
        QFETCH(bool, corruptReadBack);
        auto sensor = startWithSensor();
        const QString image = writeImage(QStringLiteral("bad.0002.bin"), imageSize);
        nextFiles << image;
        corruptNextLoader = corruptReadBack;
        dialog->useFileButton->click();
        QTRY_COMPARE_WITH_TIMEOUT(dialog->statusLabel->text(), QStringLiteral("[updatedialog:firmware:failed]"),
                                  FlowTimeoutMs);
        QPointer<view_update> flashing = choices.value(0);
        // The log keeps the sequence's own lines; the list shows each in the user's language.
        const QStringList runLines = flashing->lastRunLines();
        const QStringList listedRun = listed(flashing->statusList).mid(FlashingLines::geometry().size());
        QCOMPARE(listedRun.size(), runLines.size());
        for (int i = 0; i < runLines.size(); ++i)
            QCOMPARE(listedRun.at(i), view_update::shownLine(runLines.at(i)));
        QVERIFY(logged().contains(image + QStringLiteral(" (%1 bytes): failed | unit TS-000123 | hardware HW 1.1"
                                                         " | firmware SW 2.4 -> not back").arg(imageSize)));
        QVERIFY(logged().endsWith(runLines.join(QStringLiteral("\n   "))));

        // The bootloader goes: its lines stay on the connect page until dismissed.
        sim::SimBus::instance().unplug(loader.get());
        QTRY_VERIFY(flashing.isNull());
        auto* report = window->findChild<QListWidget*>();
        QVERIFY(report && report->isVisible());
        QCOMPARE(listed(report), listedRun);

        // The next sensor to connect was not updated, and the dialog does not say so.
        sim::SimBus::instance().plug(sensor);
        QTRY_VERIFY(qobject_cast<view_tessaro*>(currentPage()));
        QTRY_COMPARE(dialog->pendingRequests(), 0);
        QVERIFY(!statuses.contains(Updated));
        report->parentWidget()->findChild<QPushButton*>()->click();  // the report's only button: dismiss
        QVERIFY(!report->isVisible());
    }

    void otherUnitInItsBootloaderIsNotFlashed()
    {
        // Unit B waits in its bootloader; unit A, shown, is asked to update.
        sim::DeviceInfo otherInfo = SimBootloader::defaultInfo();
        otherInfo.path = "sim/bench-unit-b";
        otherInfo.serial = L"B";
        auto other = std::make_shared<SimBootloader>(sim::FlashGeometry{}, otherInfo);
        sim::SimBus::instance().plug(other);
        startWithSensor();
        // The check the dialog asks when shown answers only after the unit has gone over.
        service->setDelay(QStringLiteral("/utility/firmware.php"), SlowAnswerMs);
        dialog->useFileButton->click();
        QTRY_COMPARE_WITH_TIMEOUT(dialog->statusLabel->text(), QStringLiteral("[updatedialog:firmware:otherunit]"),
                                  FlowTimeoutMs);
        QTest::qWait(SlowAnswerMs + 200);
        QCOMPARE(dialog->statusLabel->text(), QStringLiteral("[updatedialog:firmware:otherunit]"));
        QVERIFY(choices.isEmpty());
        QCOMPARE(other->requestCount(SimBootloader::ErasePage), 0);
    }
};

TESSARO_TEST_MAIN(tst_updateflow)
#include "tst_updateflow.moc"
