// The bootloader protocol and the flashing sequence against the simulated bootloader:
// geometry, erase/write/verify, progress and status lines, start of the application, the
// device's return as a sensor, and every way a sequence can fail or be cut short.
#include "device/tessaro.h"
#include "sim/simbootloader.h"
#include "sim/simbus.h"
#include "flashinglines.h"
#include "simfixture.h"
#include "testmain.h"
#include "update/bootloader.h"

#include <QElapsedTimer>
#include <QFile>
#include <QPointer>
#include <QTemporaryDir>

#include <optional>
#include <sys/stat.h>
#include <unistd.h>

using sim::SimBootloader;

namespace {

constexpr int SettleMs = 20;
constexpr int ReplyLimitMs = 300;
constexpr int SequenceTimeoutMs = 20000;
// Default simulated geometry: 32 KiB flash, 512-byte pages, 4 KiB bootloader.
constexpr int AppSize = 32768 - 4096;
constexpr int PageSize = 512;
constexpr int Pages = AppSize / PageSize;


QList<int> expectedProgress(quint32 appSize, quint32 pageSize, qint64 imageSize)
{
    QList<int> values;
    for (quint32 a = 0; a < appSize; a += pageSize)
        values << static_cast<int>(a * 100u / appSize);
    for (int pass = 0; pass < 2; ++pass) {
        for (qint64 a = 0; a < imageSize; a += 32)
            values << static_cast<int>(a * 100 / imageSize);
    }
    values << 100;
    return values;
}

QByteArray toBytes(const std::vector<std::uint8_t>& v)
{
    return QByteArray(reinterpret_cast<const char*>(v.data()), static_cast<int>(v.size()));
}

} // namespace

class tst_bootloader : public QObject
{
    Q_OBJECT

private:
    std::optional<SimFixture> fixture;
    std::optional<QTemporaryDir> images;
    QPointer<tessaro> connection;
    std::shared_ptr<SimBootloader> loader;
    QSharedPointer<bootloader> boot;
    QPointer<bootloader> watched;
    // What the object reported, as its GUI-thread receivers see it.
    QStringList lines;
    QList<int> progress;
    QList<bool> timer;
    QList<bool> finished;
    QStringList connectionEvents;
    bool timerRanDuringSequence = false;

    void plugLoader(sim::FlashGeometry geometry = {})
    {
        loader = std::make_shared<SimBootloader>(geometry);
        loader->setRestartDelay(std::chrono::milliseconds(30));
        sim::SimBus::instance().plug(loader);
    }

    bool connectedAs(const char* type) const
    {
        return connection && connection->isConnected && connection->deviceType == QLatin1String(type);
    }

    // As the flashing view does: one object over the connection, the timer signal wired to
    // the connection, the geometry read at once.
    QSharedPointer<bootloader> makeBootloader(bool readGeometry = true)
    {
        QSharedPointer<bootloader> b = bootloader::create(connection);
        b->setSettleTimeMs(SettleMs);
        b->setReplyTimeoutMs(ReplyLimitMs);
        connect(b.data(), &bootloader::hotplugtimer, connection.data(), &tessaro::SetHotPlugTimerState);
        // Context this: lines from pool threads arrive queued, in the GUI thread.
        connect(b.data(), &bootloader::status, this, [this](const QString& data, bool clear) {
            QVERIFY(!clear);
            lines << data;
            if (connection && !timer.isEmpty() && finished.isEmpty() && connection->hotplugTimer->isActive())
                timerRanDuringSequence = true;
        });
        connect(b.data(), &bootloader::eraseflashStatus, this, [this](int value) { progress << value; });
        connect(b.data(), &bootloader::hotplugtimer, this, [this](bool state) { timer << state; });
        connect(b.data(), &bootloader::updateFinished, this, [this](bool ok) { finished << ok; });
        watched = b.data();
        if (readGeometry) {
            [&] { QVERIFY(b->getinfo()); }();
            [&] { QCOMPARE(lines, FlashingLines::geometry()); }();
            lines.clear();
        }
        return b;
    }

    QString writeImage(const QString& name, const QByteArray& content)
    {
        const QString path = images->filePath(name);
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(content) != content.size())
            return QString();
        return path;
    }

    QString writeImage(const QString& name, const std::vector<std::uint8_t>& content)
    {
        return writeImage(name, toBytes(content));
    }

    void waitForEnd()
    {
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, SequenceTimeoutMs);
        QVERIFY(!boot || !boot->isBusy());
    }

    void forgetReports()
    {
        lines.clear();
        progress.clear();
        timer.clear();
        finished.clear();
    }

    // A run that must succeed: the image verified in the flash and the sensor back.
    void flashToTheEnd(const QString& path, const std::vector<std::uint8_t>& image)
    {
        boot->updateFromFile(path);
        waitForEnd();
        QCOMPARE(finished, QList<bool>({true}));
        QCOMPARE(lines, FlashingLines::success(path));
        QVERIFY(loader->flash(0, image.size()) == image);
        QTRY_VERIFY(connectedAs("tessaro"));
    }

    // The commands the device received, in order, run-length encoded: "2x56" and so on.
    QStringList commandRuns() const
    {
        QStringList runs;
        int last = -1;
        int count = 0;
        const auto reports = loader->receivedReports();
        for (const sim::Report& r : reports) {
            if (r[0] != last && count > 0) {
                runs << QStringLiteral("%1x%2").arg(last).arg(count);
                count = 0;
            }
            last = r[0];
            ++count;
        }
        if (count > 0)
            runs << QStringLiteral("%1x%2").arg(last).arg(count);
        return runs;
    }

    void checkFailedEnd()
    {
        QCOMPARE(finished, QList<bool>({false}));
        QCOMPARE(timer, QList<bool>({false, true}));
        QVERIFY(connection->hotplugTimer->isActive());
        QVERIFY(boot->image.isEmpty());
    }

private slots:
    void init()
    {
        fixture.emplace();
        images.emplace();
        fixture->writeCatalogue({SimFixture::sensorEntry({QStringLiteral("SW 2.4"), QStringLiteral("SW 2.5")}),
                                 SimFixture::entry(QStringLiteral("bootloader"), sim::BootloaderProductId)});
        forgetReports();
        connectionEvents.clear();
        timerRanDuringSequence = false;
        connection = new tessaro;
        connect(connection.data(), &tessaro::connected, this, [this] { connectionEvents << QStringLiteral("connected"); });
        connect(connection.data(), &tessaro::disconnected, this, [this] { connectionEvents << QStringLiteral("disconnected"); });
        plugLoader();
        QTRY_VERIFY(connectedAs("bootloader"));
        connectionEvents.clear();
    }

    void cleanup()
    {
        // A sequence must never outlive its test: it borrows the connection's handle.
        if (watched)
            QTRY_VERIFY_WITH_TIMEOUT(!watched->isBusy(), SequenceTimeoutMs);
        boot.reset();
        QTRY_VERIFY(watched.isNull());
        if (connection)
            connection->disconnectDevice();
        delete connection;
        loader.reset();
        images.reset();
        fixture.reset();
    }

    void constructionTakesTheConnectionsDevice()
    {
        boot = makeBootloader(false);
        QVERIFY(boot->linkOk);
        QCOMPARE(boot->productId, 0x0002u);
        QCOMPARE(boot->device, connection->handle);
        QVERIFY(!boot->isBusy());
        QCOMPARE(boot->settleTimeMs(), SettleMs);
        // Nothing is sent before getinfo.
        QVERIFY(loader->receivedReports().empty());
        QCOMPARE(bootloader::create(connection)->settleTimeMs(), 5000);
        QCOMPARE(bootloader::create(connection)->replyTimeoutMs(), BootloaderLink::ReplyTimeoutMs);
        QVERIFY(BootloaderLink::ReplyTimeoutMs >= 1000 && BootloaderLink::ReplyTimeoutMs <= 10000);
    }

    void getinfoReadsTheGeometry()
    {
        boot = makeBootloader();
        QCOMPARE(boot->flashSize, 32768u);
        QCOMPARE(boot->pageSize, 512u);
        QCOMPARE(boot->pageCount, 64u);
        QCOMPARE(boot->bootloaderSize, 4096u);
        const auto reports = loader->receivedReports();
        QCOMPARE(reports.size(), std::size_t(1));
        QVERIFY(reports[0] == sim::Report{0x01});
    }

    void wholeSequence()
    {
        boot = makeBootloader();
        const auto image = sim::makeFirmwareImage(8192, "SW 2.5", 3);
        const QString path = writeImage(QStringLiteral("firmware.0002.bin"), image);
        loader->clearLog();

        boot->updateFromFile(path);
        QVERIFY(boot->isBusy());
        // Polling stops at once, before anything is sent.
        QCOMPARE(timer, QList<bool>({false}));
        QVERIFY(!connection->hotplugTimer->isActive());
        waitForEnd();

        QCOMPARE(finished, QList<bool>({true}));
        QCOMPARE(lines, FlashingLines::success(path));
        QCOMPARE(progress, expectedProgress(AppSize, PageSize, 8192));
        QCOMPARE(timer, QList<bool>({false, true}));
        QVERIFY(!timerRanDuringSequence);
        QVERIFY(boot->image.isEmpty());

        // Erase every application page, write and read every block, then start.
        QCOMPARE(commandRuns(), QStringList({QStringLiteral("2x%1").arg(Pages), QStringLiteral("3x256"),
                                             QStringLiteral("4x256"), QStringLiteral("5x1")}));
        std::vector<std::uint32_t> pages, blocks;
        for (std::uint32_t a = 0; a < AppSize; a += PageSize)
            pages.push_back(a);
        for (std::uint32_t a = 0; a < 8192; a += 32)
            blocks.push_back(a);
        QCOMPARE(loader->requestAddresses(SimBootloader::ErasePage), pages);
        QCOMPARE(loader->requestAddresses(SimBootloader::WriteBlock), blocks);
        QCOMPARE(loader->requestAddresses(SimBootloader::ReadBlock), blocks);
        QCOMPARE(loader->applicationStarts(), 1);

        // Request layout: command, 24-bit big-endian address, the data; nothing after byte 36.
        const auto reports = loader->receivedReports();
        const sim::Report& write = reports[Pages + 5];
        QCOMPARE(write[0], std::uint8_t(0x03));
        QCOMPARE(write[1], std::uint8_t(0x00));
        QCOMPARE(write[2], std::uint8_t(0x00));
        QCOMPARE(write[3], std::uint8_t(0xA0));
        QVERIFY(std::equal(write.begin() + 4, write.begin() + 36, image.begin() + 160));
        for (const sim::Report& r : reports)
            QVERIFY(std::all_of(r.begin() + 36, r.end(), [](std::uint8_t b) { return b == 0; }));
        const sim::Report& erase = reports[3];
        QVERIFY(std::all_of(erase.begin() + 4, erase.end(), [](std::uint8_t b) { return b == 0; }));
        QCOMPARE(erase[2], std::uint8_t(0x06));

        // The image is in the flash, the rest of the application area erased.
        QVERIFY(loader->flash(0, 8192) == image);
        const auto rest = loader->flash(8192, AppSize - 8192);
        QVERIFY(std::all_of(rest.begin(), rest.end(), [](std::uint8_t b) { return b == 0xFF; }));

        // The link was closed and the device came back as the sensor with the new version.
        QVERIFY(connectionEvents.startsWith(QStringLiteral("disconnected")));
        QTRY_VERIFY(connectedAs("tessaro"));
        QCOMPARE(connection->productId, 0x0001);
        unsigned char reply[TessaroLink::ReportBufferSize];
        QVERIFY(connection->sendCommand("app:version;", reply));
        QCOMPARE(colonFields(reply).value(3), QStringLiteral("SW 2.5"));
    }

    void imageOfExactlyTheApplicationSize()
    {
        boot = makeBootloader();
        const auto image = sim::makeFirmwareImage(AppSize, "SW 2.5", 9);
        const QString path = writeImage(QStringLiteral("full.bin"), image);
        flashToTheEnd(path, image);
        QCOMPARE(progress, expectedProgress(AppSize, PageSize, AppSize));
    }

    void imageThatCannotBeRightIsRefusedBeforeErasing_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<QString>("problem");
        QTest::newRow("one byte too large") << AppSize + 1 << "Image size too large";
        QTest::newRow("empty") << 0 << "Image is empty";
    }

    void imageThatCannotBeRightIsRefusedBeforeErasing()
    {
        QFETCH(int, size);
        QFETCH(QString, problem);
        boot = makeBootloader();
        const auto before = loader->flash();
        const QString path = writeImage(QStringLiteral("image.bin"), sim::makeFirmwareImage(std::size_t(size), "SW 2.5"));
        loader->clearLog();
        boot->updateFromFile(path);
        // Refused at once, on the GUI thread.
        QVERIFY(!boot->isBusy());
        QCOMPARE(lines, QStringList({problem, QStringLiteral("Abort")}));
        checkFailedEnd();
        QTest::qWait(2 * SettleMs);
        QVERIFY(loader->receivedReports().empty());
        QVERIFY(loader->flash() == before);
        QCOMPARE(loader->applicationVersion(), std::string("SW 2.4"));
        QVERIFY(connectedAs("bootloader"));
    }

    void imageIsReadOnceWhenTheUpdateStarts()
    {
        boot = makeBootloader();
        const auto image = sim::makeFirmwareImage(1000, "SW 2.5", 4);
        const QString path = writeImage(QStringLiteral("image.bin"), image);
        boot->updateFromFile(path);
        // Replaced during the wait before erasing: what was checked is what is written.
        writeImage(QStringLiteral("image.bin"), sim::makeFirmwareImage(std::size_t(AppSize), "SW 9.9", 5));
        waitForEnd();
        QCOMPARE(finished, QList<bool>({true}));
        QVERIFY(loader->flash(0, image.size()) == image);
        QCOMPARE(loader->applicationVersion(), std::string("SW 2.5"));
    }

    void imageSizeNotAMultipleOf32IsPadded()
    {
        boot = makeBootloader();
        const auto image = sim::makeFirmwareImage(1000, "SW 2.5", 5);
        const QString path = writeImage(QStringLiteral("odd.bin"), image);
        loader->clearLog();
        boot->updateFromFile(path);
        waitForEnd();
        QCOMPARE(finished, QList<bool>({true}));
        QCOMPARE(lines, FlashingLines::success(path));
        QCOMPARE(progress, expectedProgress(AppSize, PageSize, 1000));
        QCOMPARE(loader->requestCount(SimBootloader::WriteBlock), 32);
        QCOMPARE(loader->requestCount(SimBootloader::ReadBlock), 32);
        // The last block went out padded with 0x00, and so it stands in the flash.
        const auto reports = loader->receivedReports();
        const sim::Report& last = reports[static_cast<std::size_t>(Pages) + 31];
        QCOMPARE(last[0], std::uint8_t(0x03));
        QVERIFY(std::equal(last.begin() + 4, last.begin() + 12, image.begin() + 992));
        QVERIFY(std::all_of(last.begin() + 12, last.begin() + 36, [](std::uint8_t b) { return b == 0; }));
        QVERIFY(loader->flash(0, 1000) == image);
        QVERIFY(loader->flash(1000, 24) == std::vector<std::uint8_t>(24, 0x00));
        QTRY_VERIFY(connectedAs("tessaro"));
    }

    void noFileSelected()
    {
        boot = makeBootloader();
        boot->updateFromFile(QString());
        QCOMPARE(lines, QStringList({QStringLiteral("no file selected!")}));
        checkFailedEnd();
        QVERIFY(!boot->isBusy());
        QVERIFY(loader->receivedReports().size() == 1);
    }

    void unreadableFile_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("missing") << "missing";
        QTest::newRow("directory") << "directory";
        QTest::newRow("named pipe") << "fifo";
        if (::geteuid() != 0)
            QTest::newRow("no permission") << "permission";
    }

    void unreadableFile()
    {
        QFETCH(QString, kind);
        boot = makeBootloader();
        QString path = images->filePath(QStringLiteral("none.bin"));
        if (kind == QLatin1String("directory")) {
            path = images->path();
        } else if (kind == QLatin1String("fifo")) {
            // Opening a pipe with no writer would block the window for good.
            QVERIFY(::mkfifo(QFile::encodeName(path).constData(), 0600) == 0);
        } else if (kind == QLatin1String("permission")) {
            path = writeImage(QStringLiteral("locked.bin"), QByteArray(64, 'x'));
            QVERIFY(QFile::setPermissions(path, QFileDevice::WriteOwner));
        }
        boot->updateFromFile(path);
        QCOMPARE(lines, QStringList({QStringLiteral("Could not open file")}));
        checkFailedEnd();
        QCOMPARE(loader->receivedReports().size(), std::size_t(1));
    }

    void pageSizeZeroIsRefused()
    {
        sim::SimBus::instance().unplug(loader.get());
        QTRY_VERIFY(!connection->isConnected);
        sim::FlashGeometry g;
        g.pageSize = 0;
        plugLoader(g);
        QTRY_VERIFY(connectedAs("bootloader"));
        boot = makeBootloader(false);
        QVERIFY(boot->getinfo());
        lines.clear();
        loader->clearLog();
        boot->updateFromFile(writeImage(QStringLiteral("a.bin"), sim::makeFirmwareImage(512, "SW 2.5")));
        QCOMPARE(lines, QStringList({QStringLiteral("Invalid flash geometry: page size 0"), QStringLiteral("Abort")}));
        checkFailedEnd();
        QVERIFY(loader->receivedReports().empty());
        // The pass itself refuses too, instead of looping for ever.
        QVERIFY(!boot->eraseflash());
    }

    void bootloaderAboveFlashSizeIsRefused()
    {
        sim::SimBus::instance().unplug(loader.get());
        QTRY_VERIFY(!connection->isConnected);
        sim::FlashGeometry g;
        g.flashSize = 4096;
        g.bootloaderSize = 8192;
        plugLoader(g);
        QTRY_VERIFY(connectedAs("bootloader"));
        boot = makeBootloader(false);
        QVERIFY(boot->getinfo());
        lines.clear();
        loader->clearLog();
        boot->updateFromFile(writeImage(QStringLiteral("a.bin"), QByteArray()));
        QCOMPARE(lines, QStringList({QStringLiteral("Invalid flash geometry: bootloader size above flash size"),
                                     QStringLiteral("Abort")}));
        checkFailedEnd();
        QVERIFY(loader->receivedReports().empty());
    }

    void geometryNeverReadIsRefused()
    {
        boot = makeBootloader(false);
        boot->updateFromFile(writeImage(QStringLiteral("a.bin"), QByteArray()));
        QCOMPARE(lines, QStringList({QStringLiteral("Invalid flash geometry: page size 0"), QStringLiteral("Abort")}));
        checkFailedEnd();
        QVERIFY(loader->receivedReports().empty());
    }

    void hotPlugRestartsOnEveryEnd_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<bool>("ok");
        QTest::newRow("success") << "success" << true;
        QTest::newRow("no file selected") << "nofile" << false;
        QTest::newRow("could not open file") << "noopen" << false;
        QTest::newRow("abort") << "abort" << false;
    }

    void hotPlugRestartsOnEveryEnd()
    {
        QFETCH(QString, how);
        QFETCH(bool, ok);
        boot = makeBootloader();
        QString path = writeImage(QStringLiteral("a.bin"), sim::makeFirmwareImage(256, "SW 2.5"));
        if (how == QLatin1String("nofile"))
            path.clear();
        else if (how == QLatin1String("noopen"))
            path += QStringLiteral(".missing");
        else if (how == QLatin1String("abort"))
            loader->injectRefusal(1);
        boot->updateFromFile(path);
        waitForEnd();
        QCOMPARE(finished, QList<bool>({ok}));
        QCOMPARE(timer, QList<bool>({false, true}));
        QVERIFY(connection->hotplugTimer->isActive());
        QCOMPARE(lines.last(), ok ? QStringLiteral("Updated succesfully!")
                                  : how == QLatin1String("nofile") ? QStringLiteral("no file selected!")
                                  : how == QLatin1String("noopen") ? QStringLiteral("Could not open file")
                                                                   : QStringLiteral("Abort"));
        if (!ok) {
            // Polling runs again, and the open bootloader just stays connected.
            QTest::qWait(250);
            QVERIFY(connectedAs("bootloader"));
            QVERIFY(!connectionEvents.contains(QStringLiteral("disconnected")));
        }
    }

    void deviceStopsAnswering_data()
    {
        QTest::addColumn<int>("exchange");
        QTest::addColumn<QString>("failure");
        const int write = Pages + 1;
        const int read = Pages + 8 + 1;
        QTest::newRow("first erase") << 1 << QStringLiteral("Flash erase error @ page 0");
        QTest::newRow("middle erase") << 20 << QStringLiteral("Flash erase error @ page 9728");
        QTest::newRow("last erase") << Pages << QStringLiteral("Flash erase error @ page 28160");
        QTest::newRow("first write") << write << QStringLiteral("Flash write error @ page 0");
        QTest::newRow("last write") << write + 7 << QStringLiteral("Flash write error @ page 224");
        QTest::newRow("first read") << read << QStringLiteral("Flash read error @ page 0");
        QTest::newRow("last read") << read + 7 << QStringLiteral("Flash read error @ page 224");
    }

    void deviceStopsAnswering()
    {
        QFETCH(int, exchange);
        QFETCH(QString, failure);
        boot = makeBootloader();
        const QString path = writeImage(QStringLiteral("a.bin"), sim::makeFirmwareImage(256, "SW 2.5"));
        loader->injectFault(exchange, sim::Fault::NoReply);
        QElapsedTimer clock;
        clock.start();
        boot->updateFromFile(path);
        waitForEnd();
        // One reply time limit, not for ever.
        QVERIFY2(clock.elapsed() < 10 * ReplyLimitMs, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(lines.mid(lines.size() - 3),
                 QStringList({QStringLiteral("Could not read from bootloader"), failure, QStringLiteral("Abort")}));
        checkFailedEnd();
        QVERIFY(!boot->linkOk);
        QCOMPARE(loader->applicationStarts(), 0);
        QCOMPARE(loader->exchangeCount(), 1 + exchange);
        // The link is down for good: the next request is refused without a word to the device.
        lines.clear();
        finished.clear();
        timer.clear();
        QVERIFY(!boot->getinfo());
        boot->updateFromFile(path);
        QCOMPARE(lines, QStringList({QStringLiteral("Bootloader not connected"), QStringLiteral("Abort")}));
        checkFailedEnd();
        QCOMPARE(loader->exchangeCount(), 1 + exchange);
    }

    void getinfoWithoutReply()
    {
        boot = makeBootloader(false);
        loader->injectFault(1, sim::Fault::NoReply);
        QVERIFY(!boot->getinfo());
        QCOMPARE(lines, QStringList({QStringLiteral("Could not read from bootloader")}));
        QVERIFY(!boot->linkOk);
    }

    void getinfoWriteFailureTakesTheLinkDown()
    {
        boot = makeBootloader(false);
        loader->injectFault(1, sim::Fault::WriteFails);
        QVERIFY(!boot->getinfo());
        QCOMPARE(lines, QStringList({QStringLiteral("Could not write to bootloader")}));
        QVERIFY(!boot->linkOk);
        QVERIFY(!boot->getinfo());
        QVERIFY(!boot->eraseflashWorker(0));
        QCOMPARE(loader->exchangeCount(), 1);
    }

    void writeFailureAborts()
    {
        boot = makeBootloader();
        loader->injectFault(Pages + 3, sim::Fault::WriteFails);
        boot->updateFromFile(writeImage(QStringLiteral("a.bin"), sim::makeFirmwareImage(256, "SW 2.5")));
        waitForEnd();
        QCOMPARE(lines.mid(lines.size() - 3),
                 QStringList({QStringLiteral("Could not write to bootloader"), QStringLiteral("Flash write error @ page 64"),
                              QStringLiteral("Abort")}));
        checkFailedEnd();
        QVERIFY(!boot->linkOk);
    }

    void refusedEraseKeepsTheLink()
    {
        boot = makeBootloader();
        loader->injectRefusal(3);
        boot->updateFromFile(writeImage(QStringLiteral("a.bin"), sim::makeFirmwareImage(256, "SW 2.5")));
        waitForEnd();
        QCOMPARE(lines, QStringList({QStringLiteral("Start flash erase"), QStringLiteral("Flash erase error @ page 1024"),
                                     QStringLiteral("Abort")}));
        checkFailedEnd();
        QVERIFY(boot->linkOk);
        QCOMPARE(progress, QList<int>({0, 1}));
    }

    void runApplicationWriteFailureStillEnds()
    {
        boot = makeBootloader();
        loader->injectFault(Pages + 8 + 8 + 1, sim::Fault::WriteFails);
        boot->updateFromFile(writeImage(QStringLiteral("a.bin"), sim::makeFirmwareImage(256, "SW 2.5")));
        waitForEnd();
        QCOMPARE(lines.mid(lines.size() - 3), QStringList({QStringLiteral("Flash readed!"), QStringLiteral("Updated succesfully!"),
                                                           QStringLiteral("Could not write to bootloader")}));
        QCOMPARE(finished, QList<bool>({true}));
        QCOMPARE(timer, QList<bool>({false, true}));
        QVERIFY(!boot->linkOk);
        QCOMPARE(loader->applicationStarts(), 0);
        // The link is closed anyway; the device, still in its bootloader, is found again.
        QVERIFY(connectionEvents.startsWith(QStringLiteral("disconnected")));
        QTRY_VERIFY(connectedAs("bootloader"));
    }

    void verifyMismatchThenFlashAgain()
    {
        boot = makeBootloader();
        const auto image = sim::makeFirmwareImage(1024, "SW 2.5", 1);
        const QString path = writeImage(QStringLiteral("a.bin"), image);
        loader->setReadCorruption(0x123);
        boot->updateFromFile(path);
        waitForEnd();
        QCOMPARE(lines.mid(lines.size() - 4),
                 QStringList({QStringLiteral("Start Reading"), QStringLiteral("Flash not equal @ 123"),
                              QStringLiteral("Flash read error @ page 288"), QStringLiteral("Abort")}));
        checkFailedEnd();
        QVERIFY(boot->linkOk);
        QCOMPARE(loader->applicationStarts(), 0);
        QCOMPARE(loader->requestAddresses(SimBootloader::ReadBlock).back(), 288u);

        // The device stays in its bootloader, and the same object flashes it again.
        QTest::qWait(250);
        QVERIFY(connectedAs("bootloader"));
        loader->setReadCorruption(std::nullopt);
        forgetReports();
        flashToTheEnd(path, image);
    }

    void deviceLeftInBootloaderIsFlashedAfterReconnect()
    {
        boot = makeBootloader();
        const auto image = sim::makeFirmwareImage(2048, "SW 2.5", 2);
        const QString path = writeImage(QStringLiteral("a.bin"), image);
        // Fails before the block holding the version: no valid application is left.
        loader->injectFault(Pages + 5, sim::Fault::NoReply);
        boot->updateFromFile(path);
        waitForEnd();
        QVERIFY(!boot->linkOk);
        QCOMPARE(loader->applicationVersion(), std::string());

        // Unplugged and plugged again: polling runs, so the connection sees both.
        sim::SimBus::instance().unplug(loader.get());
        QTRY_VERIFY(connectionEvents.contains(QStringLiteral("disconnected")));
        sim::SimBus::instance().plug(loader);
        QTRY_VERIFY(connectedAs("bootloader"));

        boot.reset();
        QTRY_VERIFY(watched.isNull());
        forgetReports();
        boot = makeBootloader();
        flashToTheEnd(path, image);
    }

    void unplugDuringTheSequence()
    {
        boot = makeBootloader();
        loader->injectFault(Pages + 4, sim::Fault::Unplug);
        boot->updateFromFile(writeImage(QStringLiteral("a.bin"), sim::makeFirmwareImage(1024, "SW 2.5")));
        waitForEnd();
        QCOMPARE(lines.mid(lines.size() - 3),
                 QStringList({QStringLiteral("Could not write to bootloader"), QStringLiteral("Flash write error @ page 96"),
                              QStringLiteral("Abort")}));
        checkFailedEnd();
        // Polling runs again and notices that the device is gone.
        QTRY_VERIFY(connectionEvents.contains(QStringLiteral("disconnected")));
        QVERIFY(!connection->isConnected);
    }

    void secondUpdateIsRefusedWhileOneRuns()
    {
        boot = makeBootloader();
        boot->setSettleTimeMs(200);
        const QString path = writeImage(QStringLiteral("a.bin"), sim::makeFirmwareImage(512, "SW 2.5"));
        boot->updateFromFile(path);
        QVERIFY(boot->isBusy());
        boot->updateFromFile(path);
        boot->updateFromFile(QString());
        QCOMPARE(lines, QStringList({QStringLiteral("Update already running"), QStringLiteral("Update already running")}));
        // The running sequence owns the handle: no geometry read either.
        QVERIFY(!boot->getinfo());
        QCOMPARE(timer, QList<bool>({false}));
        waitForEnd();
        QCOMPARE(finished, QList<bool>({true}));
        QCOMPARE(timer, QList<bool>({false, true}));
        QCOMPARE(lines.mid(2), FlashingLines::success(path));
        QCOMPARE(loader->requestCount(SimBootloader::ErasePage), Pages);
        QCOMPARE(loader->requestCount(SimBootloader::GetInfo), 1);
        QCOMPARE(loader->applicationStarts(), 1);
        QTRY_VERIFY(connectedAs("tessaro"));
    }

    void notConnectedAtConstruction()
    {
        sim::SimBus::instance().unplug(loader.get());
        QTRY_VERIFY(!connection->isConnected);
        connection->SetHotPlugTimerState(false);
        boot = makeBootloader(false);
        QVERIFY(!boot->linkOk);
        QVERIFY(!boot->getinfo());
        boot->updateFromFile(writeImage(QStringLiteral("a.bin"), QByteArray(32, 'x')));
        QCOMPARE(lines, QStringList({QStringLiteral("Bootloader not connected"), QStringLiteral("Abort")}));
        checkFailedEnd();
    }

    void ownerDeletedMidSequence()
    {
        auto* owner = new QObject;
        auto held = QSharedPointer<QSharedPointer<bootloader>>::create(makeBootloader());
        // The owner holds the only reference besides the sequence's own.
        connect(owner, &QObject::destroyed, [held] { held->reset(); });
        QPointer<bootloader> b = held->data();
        const auto image = sim::makeFirmwareImage(4096, "SW 2.5", 4);
        const QString path = writeImage(QStringLiteral("a.bin"), image);
        b->updateFromFile(path);
        QTRY_VERIFY_WITH_TIMEOUT(lines.contains(QStringLiteral("Start flashing")), SequenceTimeoutMs);
        delete owner;
        held.reset();
        QVERIFY(b);  // still alive: the sequence runs on
        waitForEnd();
        QCOMPARE(finished, QList<bool>({true}));
        QCOMPARE(lines, FlashingLines::success(path));
        QCOMPARE(timer, QList<bool>({false, true}));
        // Released afterwards, on the GUI thread.
        QTRY_VERIFY(b.isNull());
        QVERIFY(loader->flash(0, 4096) == image);
        QTRY_VERIFY(connectedAs("tessaro"));
    }

    void ownerDeletedOnDisconnect()
    {
        // As the main window does: the view, and with it its reference, goes on disconnected().
        auto* owner = new QObject;
        auto held = QSharedPointer<QSharedPointer<bootloader>>::create(makeBootloader());
        connect(owner, &QObject::destroyed, [held] { held->reset(); });
        connect(connection.data(), &tessaro::disconnected, owner, [owner] { delete owner; });
        QPointer<bootloader> b = held->data();
        QPointer<QObject> ownerWatch = owner;
        held.reset();
        b->updateFromFile(writeImage(QStringLiteral("a.bin"), sim::makeFirmwareImage(512, "SW 2.5")));
        waitForEnd();
        QVERIFY(ownerWatch.isNull());
        QCOMPARE(finished, QList<bool>({true}));
        QCOMPARE(timer, QList<bool>({false, true}));
        QVERIFY(connection->hotplugTimer->isActive());
        QTRY_VERIFY(b.isNull());
        QTRY_VERIFY(connectedAs("tessaro"));
    }

    void lastReferenceWhileIdleDeletesLater()
    {
        boot = makeBootloader();
        QPointer<bootloader> b = boot.data();
        boot.reset();
        QVERIFY(b);  // deleteLater, not at once
        QTRY_VERIFY(b.isNull());
    }

    void sensorToBootloaderAndBackThroughTheConnection()
    {
        // The whole round trip: sensor asked into its bootloader, flashed, back as sensor.
        sim::SimBus::instance().unplug(loader.get());
        QTRY_VERIFY(!connection->isConnected);
        auto sensor = fixture->plugSensor();
        sensor->setReenumerates(true, std::chrono::milliseconds(30));
        QTRY_VERIFY(connectedAs("tessaro"));
        connection->startUpgrade();
        QTRY_VERIFY(connectedAs("bootloader"));
        boot = makeBootloader();
        const QString path = writeImage(QStringLiteral("a.0002.bin"), sim::makeFirmwareImage(3000, "SW 2.5", 7));
        boot->updateFromFile(path);
        waitForEnd();
        QCOMPARE(finished, QList<bool>({true}));
        QCOMPARE(lines, FlashingLines::success(path));
        QTRY_VERIFY(connectedAs("tessaro"));
        QVERIFY(sensor->plugged());
        QCOMPARE(sensor->versionReply(), std::string("app:version:HW 1.1:SW 2.5:2026:11:20;"));
    }
};

TESSARO_TEST_MAIN(tst_bootloader)
#include "tst_bootloader.moc"
