// The whole firmware update through a real main window, the simulated sensor and bootloader
// and the stand-in web service: file choice, use-file, flashing, the sensor's return.
#include "app/serviceidentity.h"
#include "app/view_main.h"
#include "live/pentrailitem.h"
#include "live/view_tessarolive.h"
#include "sensor/view_tessaro.h"
#include "sim/simbootloader.h"
#include "flashinglines.h"
#include "findbytext.h"
#include "simfixture.h"
#include "serviceaddress.h"
#include "testmain.h"
#include "update/flashlog.h"
#include "update/view_dialogupdate.h"
#include "update/view_update.h"

#include <QAction>
#include <QFrame>
#include <QStatusBar>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QStackedWidget>

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
    // The flashing pages shown, the files the file dialog answers and how often it was asked.
    QList<QPointer<view_update>> choices;
    QStringList nextFiles;
    int fileDialogs = 0;
    std::shared_ptr<SimBootloader> loader;
    // Makes the next bootloader shown alter what it reads back.
    bool corruptNextLoader = false;
    // How long the next bootloader shown takes to come back as the sensor.
    std::chrono::milliseconds restartDelay{50};

    QWidget* currentPage() const { return window->findChild<QStackedWidget*>()->currentWidget(); }
    QLabel* stateLine() const { return window->statusBar()->findChild<QLabel*>(); }
    QLabel* prompt() const { return qobject_cast<QLabel*>(window->findChild<QFrame*>()->findChild<QLabel*>()); }

    // A flashing page shown: its wait before erasing shortened through the view's setter.
    void takePage()
    {
        // Not while the window goes (it closes the link on its way).
        auto* view = window ? qobject_cast<view_update*>(currentPage()) : nullptr;
        if (!view)
            return;
        choices << view;
        view->setSettleTimeMs(20);
        loader = std::dynamic_pointer_cast<SimBootloader>(sim::SimBus::instance().devices().back());
        loader->setRestartDelay(restartDelay);
        if (corruptNextLoader)
            loader->setReadCorruption(0x10);
        corruptNextLoader = false;
    }

    void openWindow()
    {
        window = std::make_unique<viewMain>();
        window->show();
        dialog = window->updateDialog();
        connect(dialog, &view_dialogupdate::firmwareStatus, this, [this](const QString& status) { statuses << status; });
        connect(window->findChild<QStackedWidget*>(), &QStackedWidget::currentChanged, this, &tst_updateflow::takePage);
        takePage();
    }

    // An image with the version text where the firmware keeps it.
    QString writeImage(const QString& name, int size)
    {
        return fixture->writeImage(name, sim::makeFirmwareImage(static_cast<std::size_t>(size), "SW 2.5"));
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
        openWindow();
        return sensor;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(ServiceAddress::useStandIn(service));
        view_update::chooseImageFile = [this](QWidget*, const QString&, const QString&, const QString&) {
            ++fileDialogs;
            return nextFiles.isEmpty() ? QString() : nextFiles.takeFirst();
        };
    }

    void init()
    {
        fixture.emplace();
        fixture->useShippedCatalogue();
        QVERIFY(fixture->useShippedModel());
        service->resetReplies();
        sensorSw.clear();
        choices.clear();
        nextFiles.clear();
        fileDialogs = 0;
        restartDelay = std::chrono::milliseconds(50);
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
        QAction* updateEntry = findByText<QAction>(window.get(), QStringLiteral("[menu:file:update]"));
        QVERIFY(updateEntry);
        // Opened from the menu, the dialog learns that newer firmware exists.
        updateEntry->trigger();
        QTRY_COMPARE(dialog->statusLabel->text(), QStringLiteral("[updatedialog:firmware:new]"));
        QTRY_COMPARE(dialog->pendingRequests(), 0);
        statuses.clear();

        // The image the demo ships is chosen; the sensor comes back as the bootloader, which
        // flashes it without asking again, and restarts: the window says it waits for it.
        nextFiles << QStringLiteral(TESSARO_DEMO_IMAGE_PATH);
        restartDelay = std::chrono::milliseconds(1500);
        dialog->useFileButton->click();
        QTRY_VERIFY_WITH_TIMEOUT(stateLine()->text().startsWith("[flash:returning:new] ("), FlowTimeoutMs);
        QTRY_VERIFY(currentPage() == prompt()->parentWidget() && prompt()->text() == stateLine()->text());
        QTRY_VERIFY_WITH_TIMEOUT(qobject_cast<view_tessaro*>(currentPage()) && sensorSw == "SW 2.5", FlowTimeoutMs);
        QCOMPARE(fileDialogs, 1);
        QVERIFY(stateLine()->text().startsWith("[status:connected]"));
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

    void refusedImageThenRestartOrAnotherFile_data()
    {
        QTest::addColumn<bool>("restart");
        QTest::newRow("the present firmware started") << true;
        QTest::newRow("another file from the page") << false;
    }

    // An image that does not fit is refused before anything is erased: the page offers the
    // firmware still on the unit, or another file.
    void refusedImageThenRestartOrAnotherFile()
    {
        QFETCH(bool, restart);
        startWithSensor();
        nextFiles << writeImage(QStringLiteral("big.0002.bin"), 32768 - 4096 + 1);
        dialog->useFileButton->click();
        QTRY_COMPARE_WITH_TIMEOUT(dialog->statusLabel->text(), QStringLiteral("[updatedialog:firmware:failed]"),
                                  FlowTimeoutMs);
        QPointer<view_update> flashing = choices.value(0);
        QVERIFY(!flashing->restartButton->isHidden());
        QCOMPARE(loader->requestCount(SimBootloader::ErasePage), 0);

        if (restart) {
            restartDelay = std::chrono::milliseconds(1000);
            loader->setRestartDelay(restartDelay);
            flashing->restartButton->click();
            QTRY_VERIFY_WITH_TIMEOUT(prompt()->text().startsWith("[flash:returning:present] ("), FlowTimeoutMs);
            QTRY_VERIFY_WITH_TIMEOUT(qobject_cast<view_tessaro*>(currentPage()) && sensorSw == "SW 2.4", FlowTimeoutMs);
            QCOMPARE(prompt()->text(), QStringLiteral("[tsro_connect]"));
            QTRY_COMPARE(dialog->pendingRequests(), 0);
            QVERIFY(!statuses.contains(Updated));
            return;
        }
        // A failed run from the page's own button reports there, not in the dialog.
        statuses.clear();
        nextFiles << writeImage(QStringLiteral("big.0002.bin"), 32768 - 4096 + 1);
        flashing->updateButton->click();
        QCOMPARE(listed(flashing->statusList).constLast(), view_update::shownLine(QStringLiteral("Abort")));
        QVERIFY(statuses.isEmpty());

        // A verified run from the page's own button: once the sensor is back, the dialog
        // reports the service's answer, not an update of its own.
        nextFiles << writeImage(QStringLiteral("tessaro.0002.bin"), 2048);
        statuses.clear();
        flashing->updateButton->click();
        QTRY_VERIFY_WITH_TIMEOUT(qobject_cast<view_tessaro*>(currentPage()) && sensorSw == "SW 2.5", FlowTimeoutMs);
        QTRY_COMPARE(statuses.size(), 1);
        QVERIFY(statuses.constFirst() != Updated);
    }

    // A unit shown in its bootloader is flashed from the dialog at once; nothing waits for
    // "its" bootloader to come, which would later be taken for another unit.
    void useFileWithTheBootloaderShown()
    {
        sim::SimBus::instance().plug(std::make_shared<SimBootloader>());
        openWindow();
        window->updateFirmware();
        nextFiles << writeImage(QStringLiteral("tessaro.0002.bin"), 2048);
        dialog->useFileButton->click();
        QCOMPARE(statuses.value(0), QStringLiteral("[updatedialog:firmware:updating]"));
        QTRY_VERIFY_WITH_TIMEOUT(qobject_cast<view_tessaro*>(currentPage()) && sensorSw == "SW 2.5", FlowTimeoutMs);
        QTRY_COMPARE(dialog->statusLabel->text(), Updated);
        QVERIFY(!dialog->upgradeRequested);
    }

    void failedRunIsReportedAndKept_data()
    {
        QTest::addColumn<int>("imageSize");
        QTest::addColumn<bool>("corruptReadBack");
        QTest::addColumn<QString>("summary");
        QTest::newRow("verification fails") << 2048 << true << "[flash:stop:mismatch] (3, 0, 2\u00a0048) [flash:phase:failed]";
        QTest::newRow("image too large") << 32768 - 4096 + 1 << false
                                         << "[flash:phase:notstarted] [flash:phase:notstarted:next]";
    }

    // Never "updated" for a run that did not verify; its lines are logged and outlive the view.
    void failedRunIsReportedAndKept()
    {
        QFETCH(int, imageSize);
        QFETCH(bool, corruptReadBack);
        QFETCH(QString, summary);
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

        QCOMPARE(flashing->phaseLabel->text(), summary);

        // The bootloader goes and comes back: the run's summary and lines stay until dismissed.
        const auto unit = loader;
        sim::SimBus::instance().unplug(unit.get());
        QTRY_VERIFY(flashing.isNull());
        auto* report = window->findChild<QListWidget*>(QStringLiteral("flashReportList"));
        QVERIFY(report->isVisible());
        sim::SimBus::instance().plug(unit);
        QTRY_COMPARE(choices.size(), 2);
        QVERIFY(report->isVisible());
        QCOMPARE(listed(report), listedRun);
        QCOMPARE(report->parentWidget()->findChild<QLabel*>()->text(), summary);
        report->parentWidget()->findChild<QPushButton*>()->click();  // the report's only button: dismiss
        QVERIFY(!report->isVisible());

        // The next sensor to connect was not updated, and the dialog does not say so.
        sim::SimBus::instance().unplug(unit.get());
        sim::SimBus::instance().plug(sensor);
        QTRY_VERIFY(qobject_cast<view_tessaro*>(currentPage()));
        QTRY_COMPARE(dialog->pendingRequests(), 0);
        QVERIFY(!statuses.contains(Updated));
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
        nextFiles << writeImage(QStringLiteral("tessaro.0002.bin"), 2048);
        // The check the dialog asks when shown answers only after the unit has gone over.
        service->setDelay(QStringLiteral("/utility/firmware.php"), SlowAnswerMs);
        dialog->useFileButton->click();
        QTRY_COMPARE_WITH_TIMEOUT(dialog->statusLabel->text(), QStringLiteral("[updatedialog:firmware:otherunit]"),
                                  FlowTimeoutMs);
        QTest::qWait(SlowAnswerMs + 200);
        QCOMPARE(dialog->statusLabel->text(), QStringLiteral("[updatedialog:firmware:otherunit]"));
        QCOMPARE(fileDialogs, 1);
        QCOMPARE(other->requestCount(SimBootloader::ErasePage), 0);
    }
};

TESSARO_TEST_MAIN(tst_updateflow)
#include "tst_updateflow.moc"
