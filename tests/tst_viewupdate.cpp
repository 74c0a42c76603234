// The flashing view against the simulated bootloader: its page, the file filter, the
// status list, phase line and progress bar during a run, the Update button's state, and
// the failures that the user sees in the list.
#include "app/appsettings.h"
#include "device/tessaro.h"
#include "sim/simbootloader.h"
#include "sim/simbus.h"
#include "flashinglines.h"
#include "simfixture.h"
#include "testmain.h"
#include "update/bootloader.h"
#include "update/view_update.h"

#include <QDir>
#include <QFile>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QVBoxLayout>

#include <optional>

using sim::SimBootloader;

namespace {

constexpr int SettleMs = 20;
constexpr int SequenceTimeoutMs = 20000;
constexpr int AppSize = 32768 - 4096;


QStringList listLines(const QListWidget* list)
{
    QStringList lines;
    for (int i = 0; i < list->count(); ++i)
        lines << list->item(i)->text();
    return lines;
}

// What the view asked the file dialog seam.
struct FileRequest {
    QWidget* parent = nullptr;
    QString caption;
    QString folder;
    QString filter;
    bool buttonEnabled = true;
};

} // namespace

class tst_viewupdate : public QObject
{
    Q_OBJECT

private:
    std::optional<SimFixture> fixture;
    std::optional<QTemporaryDir> images;
    std::shared_ptr<SimBootloader> loader;
    QPointer<tessaro> connection;
    QPointer<view_update> view;
    QPointer<bootloader> watched;
    QList<FileRequest> fileRequests;
    QString nextFileName;

    void plugLoader(std::uint16_t productId = sim::BootloaderProductId)
    {
        sim::DeviceInfo info = SimBootloader::defaultInfo();
        info.productId = productId;
        loader = std::make_shared<SimBootloader>(sim::FlashGeometry{}, info);
        loader->setRestartDelay(std::chrono::milliseconds(30));
        sim::SimBus::instance().plug(loader);
    }

    void buildView()
    {
        view = new view_update(nullptr, connection);
        view->setSettleTimeMs(SettleMs);
        watched = view->loader.data();
    }

    QString writeImage(const QString& name, const std::vector<std::uint8_t>& content)
    {
        const QString path = images->filePath(name);
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return QString();
        f.write(reinterpret_cast<const char*>(content.data()), static_cast<qint64>(content.size()));
        return path;
    }

    QStringList lines() const { return listLines(view->statusList); }

private slots:
    void initTestCase()
    {
        // Every file dialog of this test is answered here, at once.
        view_update::chooseImageFile = [this](QWidget* parent, const QString& caption, const QString& folder,
                                              const QString& filter) {
            FileRequest request;
            request.parent = parent;
            request.caption = caption;
            request.folder = folder;
            request.filter = filter;
            request.buttonEnabled = view && view->updateButton->isEnabled();
            fileRequests << request;
            return nextFileName;
        };
    }

    void init()
    {
        fixture.emplace();
        images.emplace();
        fixture->writeCatalogue({SimFixture::sensorEntry({QStringLiteral("SW 2.4"), QStringLiteral("SW 2.5")}),
                                 SimFixture::entry(QStringLiteral("bootloader"), sim::BootloaderProductId),
                                 SimFixture::entry(QStringLiteral("bootloader"), 0x00af)});
        fileRequests.clear();
        nextFileName.clear();
        appSettings().clear();
        plugLoader();
        connection = SimFixture::openConnection();
        QVERIFY(connection);
        QCOMPARE(connection->deviceType, QStringLiteral("bootloader"));
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
        images.reset();
        fixture.reset();
    }

    void pageLayout()
    {
        buildView();
        QCOMPARE(view->windowTitle(), QStringLiteral("VAVUvazud"));
        QCOMPARE(view->updateButton->text(), QStringLiteral("Update"));

        auto* pageLayout = qobject_cast<QHBoxLayout*>(view->layout());
        QVERIFY(pageLayout);
        QCOMPARE(pageLayout->count(), 1);
        QCOMPARE(pageLayout->itemAt(0)->widget(), view->container);
        QVERIFY(view->container->isEnabled());

        QCOMPARE(view->container->layout(), view->containerLayout);
        QCOMPARE(view->containerLayout->spacing(), 6);
        QCOMPARE(view->containerLayout->contentsMargins(), QMargins(11, 11, 11, 11));
        // The phase line and the bar above the sequence's lines.
        QCOMPARE(view->containerLayout->count(), 4);
        QCOMPARE(view->containerLayout->itemAt(0)->layout(), view->buttonLayout);
        QCOMPARE(view->buttonLayout->itemAt(0)->widget(), view->updateButton);
        QCOMPARE(view->containerLayout->itemAt(1)->widget(), view->phaseLabel);
        QCOMPARE(view->containerLayout->itemAt(2)->widget(), view->progressBar);
        QCOMPARE(view->containerLayout->itemAt(3)->widget(), view->statusList);

        QCOMPARE(view->statusList->movement(), QListView::Static);
        QCOMPARE(view->progressBar->maximum(), 99);
        QCOMPARE(view->progressBar->value(), 0);
        QCOMPARE(view->progressBar->text(), QStringLiteral("0%"));

        // The geometry was read at construction; nothing else was sent.
        QCOMPARE(lines(), FlashingLines::geometry());
        QCOMPARE(loader->requestCount(SimBootloader::GetInfo), 1);
        QCOMPARE(loader->exchangeCount(), 1);
    }

    void defaultsKeepTheFullWaits()
    {
        view = new view_update(nullptr, connection);
        watched = view->loader.data();
        QCOMPARE(view->loader->settleTimeMs(), 5000);
        QCOMPARE(view->loader->replyTimeoutMs(), BootloaderLink::ReplyTimeoutMs);
        view->setSettleTimeMs(SettleMs);
        view->setReplyTimeoutMs(400);
        QCOMPARE(view->loader->settleTimeMs(), SettleMs);
        QCOMPARE(view->loader->replyTimeoutMs(), 400);
    }

    void fileDialogAndFilter_data()
    {
        QTest::addColumn<int>("productId");
        QTest::addColumn<QString>("filter");
        QTest::newRow("0002") << 0x0002 << QStringLiteral("Binary files (*.0002.bin)");
        QTest::newRow("00af") << 0x00af << QStringLiteral("Binary files (*.00af.bin)");
    }

    void fileDialogAndFilter()
    {
        QFETCH(int, productId);
        QFETCH(QString, filter);
        if (productId != sim::BootloaderProductId) {
            SimFixture::closeConnection(connection);
            sim::SimBus::instance().unplug(loader.get());
            plugLoader(static_cast<std::uint16_t>(productId));
            connection = SimFixture::openConnection();
            QVERIFY(connection);
            QCOMPARE(connection->productId, productId);
        }
        buildView();
        QCOMPARE(view->imageFilter(), filter);
        view->updateButton->click();
        QCOMPARE(fileRequests.size(), 1);
        QCOMPARE(fileRequests[0].parent, view.data());
        QCOMPARE(fileRequests[0].caption, QStringLiteral("Open binary image"));
        QCOMPARE(fileRequests[0].filter, filter);
        // No second request can start while the dialog is open.
        QVERIFY(!fileRequests[0].buttonEnabled);
    }

    void fileDialogStartsInTheLastFolder_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<bool>("startsThere");
        QTest::newRow("first time") << QString() << false;
        QTest::newRow("folder used before") << "images" << true;
        QTest::newRow("folder gone") << "gone" << false;
        QTest::newRow("a file, not a folder") << "file" << false;
    }

    // Never the program's own folder: the one the last image came from, else the home.
    void fileDialogStartsInTheLastFolder()
    {
        QFETCH(QString, stored);
        QFETCH(bool, startsThere);
        const QString file = writeImage(QStringLiteral("a.0002.bin"), sim::makeFirmwareImage(512, "SW 2.5"));
        const QMap<QString, QString> places{{QStringLiteral("images"), images->path()},
                                            {QStringLiteral("gone"), images->filePath(QStringLiteral("gone"))},
                                            {QStringLiteral("file"), file}};
        if (!stored.isEmpty())
            appSettings().setValue(QStringLiteral("update/imagefolder"), places.value(stored));
        buildView();
        view->updateButton->click();
        QCOMPARE(fileRequests.size(), 1);
        QCOMPARE(fileRequests[0].folder, startsThere ? images->path() : QDir::homePath());

        // The folder of a chosen image is where the next dialog starts.
        QTemporaryDir other;
        const QString otherImage = other.filePath(QStringLiteral("b.0002.bin"));
        QFile::copy(file, otherImage);
        nextFileName = otherImage;
        view->setSettleTimeMs(0);
        loader->injectRefusal(1);  // no need to flash all of it
        view->updateButton->click();
        QTRY_VERIFY_WITH_TIMEOUT(view->updateButton->isEnabled(), SequenceTimeoutMs);
        nextFileName.clear();
        view->updateButton->click();
        QCOMPARE(fileRequests.size(), 3);
        QCOMPARE(fileRequests[2].folder, other.path());
    }

    void wholeRunInTheList()
    {
        buildView();
        view->resize(300, 200);
        view->show();
        QVERIFY(QTest::qWaitForWindowExposed(view));
        // 1024 bytes: the last block starts at 992, 96 % of the image.
        const auto image = sim::makeFirmwareImage(1024, "SW 2.5", 4);
        nextFileName = writeImage(QStringLiteral("firmware.0002.bin"), image);
        QList<int> barValues;
        connect(view->progressBar, &QProgressBar::valueChanged, this, [&barValues](int v) { barValues << v; });
        // Connected after the view: each phase has reached its line when this reads it.
        QStringList phases;
        connect(view->loader.data(), &bootloader::phaseChanged, this,
                [this, &phases] { phases << view->phaseLabel->text(); });

        view->updateButton->click();
        QCOMPARE(fileRequests.size(), 1);
        // The sequence runs: the button stays disabled until it has ended.
        QVERIFY(view->loader->isBusy());
        QVERIFY(!view->updateButton->isEnabled());
        view->updateButton->click();
        QCOMPARE(fileRequests.size(), 1);

        QTRY_VERIFY_WITH_TIMEOUT(!view->loader->isBusy(), SequenceTimeoutMs);
        QVERIFY(view->updateButton->isEnabled());
        QCOMPARE(lines(), FlashingLines::geometry() + FlashingLines::success(nextFileName));
        // The last line is in sight.
        QScrollBar* scroll = view->statusList->verticalScrollBar();
        QVERIFY(scroll->maximum() > 0);
        QCOMPARE(scroll->value(), scroll->maximum());
        // The read pass's final 100 lies above the maximum of 99: the bar keeps 96.
        QCOMPARE(view->progressBar->value(), 96);
        QCOMPARE(view->progressBar->text(), QStringLiteral("96%"));
        // Each pass named with its place in the run, each wait with its seconds left.
        QCOMPARE(phases, QStringList({"[flash:phase:settle] (1)", "[flash:phase:erase] (1, 3)",
                                      "[flash:phase:write] (2, 3)", "[flash:phase:verify] (3, 3)",
                                      "[flash:phase:start] (1)", "[flash:phase:done]"}));
        QVERIFY(!barValues.contains(100));
        QVERIFY(barValues.contains(0));
        QVERIFY(loader->flash(0, 1024) == image);
        // The device started its application and comes back as the sensor.
        QTRY_VERIFY(connection->isConnected && connection->deviceType == QLatin1String("tessaro"));
    }

    void cancelledFileDialog()
    {
        buildView();
        nextFileName.clear();
        view->updateButton->click();
        QCOMPARE(fileRequests.size(), 1);
        QCOMPARE(lines(), FlashingLines::geometry() + QStringList({QStringLiteral("no file selected!")}));
        QCOMPARE(view->phaseLabel->text(), QStringLiteral("[flash:phase:notstarted]"));
        QVERIFY(view->updateButton->isEnabled());
        QVERIFY(!view->loader->isBusy());
        QCOMPARE(loader->exchangeCount(), 1);
        QVERIFY(connection->isConnected);
    }

    void unreadableFile()
    {
        buildView();
        nextFileName = images->filePath(QStringLiteral("missing.0002.bin"));
        view->updateButton->click();
        QCOMPARE(lines().mid(4), QStringList({QStringLiteral("Could not open file")}));
        QVERIFY(view->updateButton->isEnabled());
        QCOMPARE(loader->exchangeCount(), 1);
    }

    void tooLargeImage()
    {
        buildView();
        const auto before = loader->flash();
        nextFileName = writeImage(QStringLiteral("big.0002.bin"), sim::makeFirmwareImage(AppSize + 1, "SW 2.5"));
        view->updateButton->click();
        QCOMPARE(lines().mid(4), QStringList({QStringLiteral("Image size too large"), QStringLiteral("Abort")}));
        QVERIFY(view->updateButton->isEnabled());
        QCOMPARE(view->progressBar->value(), 0);
        QTest::qWait(2 * SettleMs);
        QVERIFY(loader->flash() == before);
        QCOMPARE(loader->exchangeCount(), 1);
    }

    void failedRunReenablesTheButton()
    {
        buildView();
        // The second erase is refused: the run aborts after its first page.
        loader->injectRefusal(2);
        nextFileName = writeImage(QStringLiteral("a.0002.bin"), sim::makeFirmwareImage(512, "SW 2.5"));
        view->updateButton->click();
        QVERIFY(!view->updateButton->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(view->updateButton->isEnabled(), SequenceTimeoutMs);
        QCOMPARE(lines().mid(4), QStringList({QStringLiteral("Start flash erase"), QStringLiteral("Flash erase error @ page 512"),
                                              QStringLiteral("Abort")}));
        QCOMPARE(view->phaseLabel->text(), QStringLiteral("[flash:phase:failed] (1, 3)"));
        // Lines of several attempts accumulate.
        nextFileName.clear();
        view->updateButton->click();
        QCOMPARE(lines().size(), 4 + 3 + 1);
        QCOMPARE(lines().last(), QStringLiteral("no file selected!"));
    }

    void linkDownNeedsNoDialog()
    {
        loader->injectFault(1, sim::Fault::WriteFails);
        buildView();
        QCOMPARE(lines(), QStringList({QStringLiteral("Could not write to bootloader")}));
        QVERIFY(!view->loader->linkOk);
        for (int i = 0; i < 30; ++i)
            view->status(QStringLiteral("line %1").arg(i), false);
        view->resize(300, 200);
        view->show();
        QVERIFY(QTest::qWaitForWindowExposed(view));
        QScrollBar* scroll = view->statusList->verticalScrollBar();
        QVERIFY(scroll->maximum() > 0);
        scroll->setValue(0);

        view->updateButton->click();
        QVERIFY(fileRequests.isEmpty());
        QCOMPARE(lines().last(), QStringLiteral("Bootloader not connected"));
        // Appended without scrolling to it.
        QCoreApplication::processEvents();
        QCOMPARE(scroll->value(), 0);
        QVERIFY(view->updateButton->isEnabled());
    }

    void statusLines()
    {
        buildView();
        view->status(QStringLiteral("one"), false);
        QCOMPARE(lines(), FlashingLines::geometry() + QStringList({QStringLiteral("one")}));
        view->status(QStringLiteral("two"), true);
        QCOMPARE(lines(), QStringList({QStringLiteral("two")}));
    }

    void pageDeletedDuringTheRun()
    {
        buildView();
        QPointer<bootloader> b = view->loader.data();
        nextFileName = writeImage(QStringLiteral("a.0002.bin"), sim::makeFirmwareImage(4096, "SW 2.5", 2));
        bool finished = false;
        connect(b.data(), &bootloader::updateFinished, this, [&finished](bool ok) { finished = ok; });
        view->updateButton->click();
        QTRY_VERIFY_WITH_TIMEOUT(lines().contains(QStringLiteral("Start flashing")), SequenceTimeoutMs);
        delete view;
        // The sequence holds the object and runs on to its end.
        QVERIFY(b);
        QTRY_VERIFY_WITH_TIMEOUT(finished, SequenceTimeoutMs);
        QTRY_VERIFY(b.isNull());
        QVERIFY(connection->hotplugTimer->isActive());
        QTRY_VERIFY(connection->isConnected && connection->deviceType == QLatin1String("tessaro"));
    }

    void pageDeletedWhileTheFileDialogIsOpen()
    {
        buildView();
        nextFileName = writeImage(QStringLiteral("a.0002.bin"), sim::makeFirmwareImage(512, "SW 2.5"));
        auto previous = view_update::chooseImageFile;
        // As if the page were dropped while the modal dialog runs its own event loop.
        bool pollingDuringDialog = true;
        view_update::chooseImageFile = [this, &pollingDuringDialog](QWidget* parent, const QString&, const QString&,
                                                                     const QString&) {
            pollingDuringDialog = connection->hotplugTimer->isActive();
            parent->deleteLater();
            QEventLoop loop;
            QTimer::singleShot(0, &loop, &QEventLoop::quit);
            loop.exec();
            return nextFileName;
        };
        connection->SetHotPlugTimerState(true);
        view->updateButton->click();
        view_update::chooseImageFile = previous;
        QVERIFY(!pollingDuringDialog);
        QVERIFY(view.isNull());
        // Nothing was started, and polling runs again.
        QTRY_VERIFY(watched.isNull());
        QCOMPARE(loader->exchangeCount(), 1);
        QVERIFY(connection->hotplugTimer->isActive());
    }
};

TESSARO_TEST_MAIN(tst_viewupdate)
#include "tst_viewupdate.moc"
