// The flashing view against the simulated bootloader: file dialog and filter, the status
// list, phase line and bar during a run, the Update button, and the failures the user sees.
#include "app/appsettings.h"
#include "app/tessarotranslator.h"
#include "device/tessaro.h"
#include "sim/simbootloader.h"
#include "flashinglines.h"
#include "simfixture.h"
#include "testmain.h"
#include "update/flashprogress.h"
#include "update/view_update.h"

#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QScopeGuard>
#include <QScrollBar>
#include <QSignalSpy>

#include <algorithm>
#include <optional>

using sim::SimBootloader;

namespace {
constexpr int SettleMs = 20;
constexpr int SequenceTimeoutMs = 20000;
} // namespace

class tst_viewupdate : public QObject
{
    Q_OBJECT

private:
    std::optional<SimFixture> fixture;
    std::shared_ptr<SimBootloader> loader;
    QPointer<tessaro> connection;
    QPointer<view_update> view;
    QPointer<bootloader> watched;
    QList<QStringList> fileRequests;  // caption, folder, filter, and the states while it is open
    QString nextFileName;
    bool dropPageDuringDialog = false;

    // A bootloader of the given product, its connection and its flashing view.
    void plugLoader(int productId = sim::BootloaderProductId, int settleMs = SettleMs)
    {
        sim::DeviceInfo info = SimBootloader::defaultInfo();
        info.productId = static_cast<std::uint16_t>(productId);
        loader = std::make_shared<SimBootloader>(sim::FlashGeometry{}, info);
        sim::SimBus::instance().plug(loader);
        connection = SimFixture::openConnection();
        QVERIFY(connection);
        view = new view_update(nullptr, connection);
        if (settleMs != 0)
            view->setSettleTimeMs(settleMs);
        watched = view->loader.data();
    }

    QString writeImage(const QString& name, int size)
    {
        return fixture->writeImage(name, sim::makeFirmwareImage(static_cast<std::size_t>(size), "SW 2.5", 4));
    }

    // The status lines as the list shows them.
    static QStringList shown(const QStringList& lines)
    {
        QStringList shownLines;
        for (const QString& line : lines)
            shownLines << view_update::shownLine(line);
        return shownLines;
    }

    QStringList lines() const
    {
        QStringList lines;
        for (int i = 0; i < view->statusList->count(); ++i)
            lines << view->statusList->item(i)->text();
        return lines;
    }

private slots:
    void initTestCase()
    {
        // Every file dialog of this test is answered here, at once; or the page is dropped
        // while the modal dialog runs its own event loop.
        view_update::chooseImageFile = [this](QWidget* parent, const QString& caption, const QString& folder,
                                              const QString& filter) {
            fileRequests << QStringList({caption, folder, filter, view->updateButton->isEnabled() ? "enabled" : "disabled",
                                         connection->hotplugTimer->isActive() ? "polling" : "not polling"});
            if (dropPageDuringDialog) {
                parent->deleteLater();
                QTest::qWait(0);
            }
            return nextFileName;
        };
    }

    void init()
    {
        fixture.emplace();
        fixture->writeCatalogue({SimFixture::sensorEntry({QStringLiteral("SW 2.4"), QStringLiteral("SW 2.5")}),
                                 SimFixture::entry(QStringLiteral("bootloader"), sim::BootloaderProductId),
                                 SimFixture::entry(QStringLiteral("bootloader"), 0x00af)});
        fileRequests.clear();
        nextFileName.clear();
        dropPageDuringDialog = false;
        appSettings().clear();
    }

    void cleanup()
    {
        // A sequence must never outlive its test: it borrows the connection's handle.
        if (watched)
            QTRY_VERIFY_WITH_TIMEOUT(!watched->isBusy(), SequenceTimeoutMs);
        delete view;
        QTRY_VERIFY(watched.isNull());
        SimFixture::closeConnection(connection);
        loader.reset();
        fixture.reset();
    }

    void fileDialog_data()
    {
        QTest::addColumn<int>("productId");
        QTest::addColumn<QString>("stored");  // the folder of the last image, within the working folder
        QTest::addColumn<bool>("startsThere");
        QTest::newRow("first time") << int(sim::BootloaderProductId) << QString() << false;
        QTest::newRow("folder used before, 00af") << 0x00af << "." << true;
        QTest::newRow("a file, not a folder") << int(sim::BootloaderProductId) << "sensors/supported.json" << false;
    }

    // Real waits; the dialog names the unit's images and starts in the last image's folder, else home.
    void fileDialog()
    {
        QFETCH(int, productId);
        QFETCH(QString, stored);
        QFETCH(bool, startsThere);
        if (!stored.isEmpty())
            appSettings().setValue(QStringLiteral("update/imagefolder"), QDir::cleanPath(fixture->dir() + '/' + stored));
        plugLoader(productId, 0);
        QCOMPARE(view->loader->settleTimeMs(), 5000);
        view->updateButton->click();
        QCOMPARE(fileRequests.value(0).mid(0, 4), QStringList({"[flash:open]", startsThere ? fixture->dir() : QDir::homePath(),
                                                          QString::asprintf("[flash:filter] (*.%04x.bin)", productId), "disabled"}));
        // The list's lines can be replaced all at once.
        view->status(QStringLiteral("two"), true);
        QCOMPARE(lines(), QStringList({QStringLiteral("two")}));
    }

    void wholeRunInTheList()
    {
        plugLoader();
        view->resize(300, 200);
        view->show();
        QVERIFY(QTest::qWaitForWindowExposed(view));
        // 1024 bytes: the last block starts at 992, 96 % of the image.
        // A line break and a bidi override in the name stay out of the list.
        nextFileName = writeImage(QString::fromUtf16(u"firm\nware\u202e.0002.bin"), 1024);
        // Connected after the view: each phase has reached its line when this reads it.
        // "!": the page itself says not to unplug.
        QStringList phases;
        QVector<int> overallValues;
        connect(view->loader.data(), &bootloader::phaseChanged, this, [&] {
            phases << view->phaseLabel->text() + (view->unplugWarning->isVisible() ? "!" : "");
            overallValues << view->overallBar->value();
        });

        view->updateButton->click();
        QTRY_VERIFY_WITH_TIMEOUT(!view->loader->isBusy(), SequenceTimeoutMs);
        const QString shownName = QString(nextFileName).replace('\n', QChar(0xfffd)).replace(QChar(0x202e), QChar(0xfffd));
        QCOMPARE(lines(), shown(FlashingLines::geometry() + FlashingLines::success(shownName)));
        // The last line is in sight.
        QScrollBar* scroll = view->statusList->verticalScrollBar();
        QVERIFY(scroll->maximum() > 0 && scroll->value() == scroll->maximum());
        // Both the pass's bar and the whole run's end full; the whole never went back.
        QCOMPARE(view->progressBar->text(), QStringLiteral("100%"));
        QCOMPARE(view->overallBar->text(), QStringLiteral("[flash:overall] (100)"));
        QVERIFY(std::is_sorted(overallValues.cbegin(), overallValues.cend()));
        QCOMPARE(overallValues.size(), 6);
        // Each pass named with its place in the run, each wait with its seconds left.
        QCOMPARE(phases, QStringList({"[flash:phase:settle] (1)!", "[flash:phase:erase] (1, 3)!",
                                      "[flash:phase:write] (2, 3)!", "[flash:phase:verify] (3, 3)!",
                                      "[flash:phase:start] (1)!", "[flash:phase:done]"}));
    }

    // One question before anything is erased: file, size, unit and the image's firmware.
    void askedBeforeFlashing_data()
    {
        QTest::addColumn<QString>("unitId");
        QTest::addColumn<QString>("version");  // written into the image
        QTest::addColumn<bool>("confirmed");
        QTest::addColumn<QString>("question");
        QTest::newRow("known unit, named firmware")
            << "TS-1" << "SW 2.5" << true
            << "[flash:confirm:title]: [flash:confirm] (a.0002.bin, 1\u00a0024, [flash:confirm:unit] (TS-1, SW 2.4)) "
               "[flash:confirm:holds] (SW 2.5)";
        QTest::newRow("unit not seen, no name, declined")
            << "" << "" << false << "[flash:confirm:title]: [flash:confirm] (a.0002.bin, 1\u00a0024, [flash:confirm:unknownunit]) "
                                    "[flash:confirm:noname]";
    }

    void askedBeforeFlashing()
    {
        QFETCH(QString, unitId);
        QFETCH(QString, version);
        QFETCH(bool, confirmed);
        plugLoader();
        view->setUnit(unitId, QStringLiteral("SW 2.4"));
        nextFileName = fixture->writeImage(QStringLiteral("a.0002.bin"), sim::makeFirmwareImage(1024, version.toStdString(), 4));
        using TestSupport::Dialogs;
        const auto restore = qScopeGuard([] { Dialogs::confirmAnswer = true; });
        Dialogs::confirmAnswer = confirmed;
        Dialogs::shown.clear();
        view->updateButton->click();
        QTEST(Dialogs::shown.join('|'), "question");
        QTRY_VERIFY_WITH_TIMEOUT(!view->loader->isBusy(), SequenceTimeoutMs);
        QCOMPARE(view->lastRunLines().contains(QStringLiteral("Flash erased!")), confirmed);
    }

    // A run of 5 s waits, 10 pages (200 ms expected) and 100 blocks (400 ms writing, 300 ms
    // verifying): 10.9 s. Events: "<phase> <seconds left> <ms>" or "% <pass percent> <ms>".
    void overallProgress_data()
    {
        QTest::addColumn<QStringList>("events");
        QTest::addColumn<int>("percent");
        QTest::addColumn<int>("secondsLeft");
        QTest::newRow("first wait") << QStringList{"Settling 5 0"} << 0 << 11;
        QTest::newRow("erase half way") << QStringList{"Settling 5 0", "Erasing 0 5000", "% 50 5100"} << 46 << 6;
        // 10 % in a whole second: the rest of the pass at that pace, 9 s.
        QTest::newRow("slow erase") << QStringList{"Settling 5 0", "Erasing 0 5000", "% 10 6000"} << 46 << 15;
        QTest::newRow("last wait") << QStringList{"Verifying 0 5500", "% 100 5800", "Starting 2 5800"} << 81 << 2;
        QTest::newRow("done") << QStringList{"Starting 1 9000", "Done 0 10000"} << 100 << 0;
        QTest::newRow("failed writing") << QStringList{"Writing 0 5200", "% 50 5400", "Failed 0 5400"} << 49 << -1;
        QTest::newRow("never back") << QStringList{"Writing 0 5200", "% 90 5400", "% 10 5500"} << 51 << 8;
    }

    void overallProgress()
    {
        QFETCH(QStringList, events);
        FlashProgress progress = FlashProgress::update(5000, 10, 3200);
        const QMetaEnum phases = QMetaEnum::fromType<bootloader::Phase>();
        for (const QString& event : events) {
            const QStringList parts = event.split(' ');
            if (parts.at(0) == QLatin1String("%"))
                progress.passProgress(parts.at(1).toInt(), parts.at(2).toLongLong());
            else
                progress.phaseChanged(bootloader::Phase(phases.keyToValue(qPrintable(parts.at(0)))), parts.at(1).toInt(),
                                      parts.at(2).toLongLong());
        }
        QTEST(progress.percent(), "percent");
        QTEST(progress.secondsLeft(), "secondsLeft");
    }

    void speaksLanguage_data()
    {
        QTest::addColumn<QString>("code");
        QTest::newRow("nl") << "nl";
        QTest::newRow("de") << "de";
    }

    // Button, file dialog and every line of a run in the user's language, none of the
    // English; the run keeps the sequence's own lines for the log.
    void speaksLanguage()
    {
        QFETCH(QString, code);
        tessaroTranslator translator;
        QVERIFY(QDir::setCurrent(QStringLiteral(TESSARO_SOURCE_DIR "/data")));
        translator.getAvaibleLanguages();
        translator.loadLanguage(code);
        QVERIFY(QDir::setCurrent(fixture->dir()));
        QVERIFY(QCoreApplication::installTranslator(&translator));
        plugLoader();
        nextFileName = writeImage(QStringLiteral("a.0002.bin"), 512);
        view->updateButton->click();
        QTRY_VERIFY_WITH_TIMEOUT(!view->loader->isBusy(), SequenceTimeoutMs);
        QCOMPARE(view->lastRunLines(), FlashingLines::success(nextFileName));
        const QStringList shownTexts = QStringList{view->updateButton->text(), fileRequests.value(0).value(0),
                                                   fileRequests.value(0).value(2)} + lines();
        QCOMPARE(shownTexts.size(), 3 + FlashingLines::geometry().size() + FlashingLines::success(QString()).size());
        for (const QString& text : shownTexts)
            for (const char* english : {"Update", "Open binary image", "Binary files", "Opening", "Flash readed!",
                                        "Updated succesfully!", "Flash erased!", "page count", "Start"})
                QVERIFY2(!text.contains(QLatin1String(english)), qPrintable(text));
    }

    void refusedBeforeAnythingIsSent_data()
    {
        QTest::addColumn<int>("imageSize");  // -1: no file chosen, 0: a file that is not there
        QTest::addColumn<QStringList>("runLines");
        QTest::newRow("no file") << -1 << QStringList({"no file selected!"});
        QTest::newRow("unreadable") << 0 << QStringList({"Could not open file"});
        QTest::newRow("one byte too large") << 32768 - 4096 + 1 << QStringList({"Image size too large", "Abort"});
    }

    void refusedBeforeAnythingIsSent()
    {
        QFETCH(int, imageSize);
        QFETCH(QStringList, runLines);
        plugLoader();
        if (imageSize >= 0)
            nextFileName = imageSize == 0 ? fixture->dir() + QStringLiteral("/missing.0002.bin")
                                          : writeImage(QStringLiteral("big.0002.bin"), imageSize);
        QSignalSpy ended(view.data(), &view_update::updateEnded);
        view->updateButton->click();
        QCOMPARE(lines().mid(4), shown(runLines));
        QCOMPARE(view->phaseLabel->text(), QStringLiteral("[flash:phase:notstarted] [flash:phase:notstarted:next]"));
        QVERIFY(view->updateButton->isEnabled());
        QVERIFY(view->overallBar->isHidden());
        QTest::qWait(2 * SettleMs);
        QCOMPARE(loader->exchangeCount(), 1);

        // Nothing erased: the unit goes back into service on the firmware it has, which is
        // no update (nothing more ends, nothing is logged).
        QVERIFY(!view->restartButton->isHidden());
        view->restartButton->click();
        QTRY_COMPARE_WITH_TIMEOUT(view->phaseLabel->text(), QStringLiteral("[flash:phase:restarted]"), SequenceTimeoutMs);
        QCOMPARE(loader->applicationStarts(), 1);
        QCOMPARE(loader->requestCount(SimBootloader::ErasePage), 0);
        QVERIFY(!connection->isConnected && connection->hotplugTimer->isActive());
        QCOMPARE(ended.count(), 1);
    }

    void failedRunSaysWhereItStopped_data()
    {
        // The fault at that exchange from now (erase 1 to 56, write 57 to 88, verify 89 to
        // 120 for 1024 bytes); -1 a refusal there, -2 a read-back that differs at byte 600.
        QTest::addColumn<int>("fault");
        QTest::addColumn<int>("exchange");
        QTest::addColumn<QString>("summary");
        QTest::newRow("first erase not sent") << int(sim::Fault::WriteFails) << 1 << "[flash:stop:silent] (1, 0, 28\u00a0672) [flash:phase:failed:unerased]";
        QTest::newRow("first erase unanswered") << int(sim::Fault::NoReply) << 1 << "[flash:stop:silent] (1, 0, 28\u00a0672)";
        QTest::newRow("erase refused") << -1 << 2 << "[flash:stop:refused] (1, 512, 28\u00a0672)";
        QTest::newRow("unplugged while writing") << int(sim::Fault::Unplug) << 67 << "[flash:stop:left] (2, 320, 1\u00a0024)";
        QTest::newRow("silent while verifying") << int(sim::Fault::NoReply) << 92 << "[flash:stop:silent] (3, 96, 1\u00a0024)";
        QTest::newRow("read back differs") << -2 << 0 << "[flash:stop:mismatch] (3, 576, 1\u00a0024)";
    }

    // Where, why, what it left on the unit and what next; the button comes back, and the
    // firmware just erased is not offered to start. The next dialog starts in the image's folder.
    void failedRunSaysWhereItStopped()
    {
        QFETCH(int, fault);
        QFETCH(int, exchange);
        QFETCH(QString, summary);
        plugLoader();
        view->setReplyTimeoutMs(100);
        if (fault == -1)
            loader->injectRefusal(exchange);
        else if (fault == -2)
            loader->setReadCorruption(600);
        else
            loader->injectFault(exchange, sim::Fault(fault));
        nextFileName = writeImage(QStringLiteral("a.0002.bin"), 1024);
        view->updateButton->click();
        QVERIFY(!view->updateButton->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(view->updateButton->isEnabled(), SequenceTimeoutMs);
        QCOMPARE(view->phaseLabel->text(), summary.contains("[flash:phase:") ? summary : summary + " [flash:phase:failed]");

        // Lines of several attempts accumulate.
        nextFileName.clear();
        view->updateButton->click();
        QCOMPARE(lines().constLast(),
                 view_update::shownLine(QString(view->loader->linkOk ? "no file selected!" : "Bootloader not connected")));
        QVERIFY(view->restartButton->isHidden());
        QCOMPARE(fileRequests.value(1).value(1), view->loader->linkOk ? fixture->dir() : QString());
    }

    void linkDownNeedsNoDialog()
    {
        sim::SimBus::instance().plug(loader = std::make_shared<SimBootloader>());
        loader->injectFault(1, sim::Fault::WriteFails);
        view = new view_update(nullptr, connection = SimFixture::openConnection());
        view->updateButton->click();
        QCOMPARE(lines(), shown({"Could not write to bootloader", "Bootloader not connected"}));
        QVERIFY(fileRequests.isEmpty() && view->updateButton->isEnabled() && view->restartButton->isHidden());
    }

    // The sequence holds its object and runs on to its end; polling runs again.
    void pageDeletedDuringTheRun()
    {
        plugLoader();
        nextFileName = writeImage(QStringLiteral("a.0002.bin"), 4096);
        bool finished = false;
        connect(watched.data(), &bootloader::updateFinished, this, [&finished](bool ok) { finished = ok; });
        view->updateButton->click();
        QTRY_VERIFY_WITH_TIMEOUT(lines().contains(view_update::shownLine(QStringLiteral("Start flashing"))), SequenceTimeoutMs);
        delete view;
        QVERIFY(watched);
        QTRY_VERIFY_WITH_TIMEOUT(finished, SequenceTimeoutMs);
        QVERIFY(connection->hotplugTimer->isActive());
        QTRY_VERIFY(connection->isConnected && connection->deviceType == QLatin1String("tessaro"));
    }

    // Polling stops before the dialog opens; nothing starts, and polling runs again.
    void pageDeletedWhileTheFileDialogIsOpen()
    {
        plugLoader();
        nextFileName = writeImage(QStringLiteral("a.0002.bin"), 512);
        dropPageDuringDialog = true;
        connection->SetHotPlugTimerState(true);
        view->updateButton->click();
        QCOMPARE(fileRequests.value(0).value(4), QStringLiteral("not polling"));
        QVERIFY(view.isNull());
        QCOMPARE(loader->exchangeCount(), 1);
        QVERIFY(connection->hotplugTimer->isActive());
    }
};

TESSARO_TEST_MAIN(tst_viewupdate)
#include "tst_viewupdate.moc"
