// The bootloader protocol and the flashing sequence against the simulated bootloader:
// geometry, erase/write/verify, progress and status lines, start of the application, the
// device's return as a sensor, and every way a sequence can fail or be cut short.
#include "device/tessaro.h"
#include "device/updatelock.h"
#include "sim/simbootloader.h"
#include "sim/simbus.h"
#include "flashinglines.h"
#include "simfixture.h"
#include "testmain.h"
#include "update/bootloader.h"

#include <QFile>
#include <QPointer>

#include <algorithm>
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
// Faults of the bootloader model itself, next to the device faults of sim::Fault.
constexpr int Refusal = 100;
constexpr int Corruption = 101;

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

bool allBytes(const std::vector<std::uint8_t>& v, std::uint8_t value)
{
    return std::all_of(v.begin(), v.end(), [value](std::uint8_t b) { return b == value; });
}

} // namespace

class tst_bootloader : public QObject
{
    Q_OBJECT

private:
    std::optional<SimFixture> fixture;
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

    // The bootloader replaced by one of another geometry.
    void replugLoader(sim::FlashGeometry geometry)
    {
        sim::SimBus::instance().unplug(loader.get());
        QTRY_VERIFY(!connection->isConnected);
        plugLoader(geometry);
        QTRY_VERIFY(connectedAs("bootloader"));
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
        fixture.reset();
    }

    void wholeSequence_data()
    {
        QTest::addColumn<int>("size");
        QTest::newRow("8 KiB") << 8192;
        QTest::newRow("exactly the application area") << AppSize;
        QTest::newRow("not a multiple of 32") << 1000;
    }

    void wholeSequence()
    {
        QFETCH(int, size);
        // The real waits by default.
        QCOMPARE(bootloader::create(connection)->settleTimeMs(), 5000);
        QCOMPARE(bootloader::create(connection)->replyTimeoutMs(), 3000);
        boot = makeBootloader();
        QCOMPARE(boot->productId, 0x0002u);
        const auto image = sim::makeFirmwareImage(std::size_t(size), "SW 2.5", 3);
        const QString path = fixture->writeImage(QStringLiteral("firmware.0002.bin"), image);

        boot->updateFromFile(path);
        QVERIFY(boot->isBusy());
        // A second request is refused while it runs, and the geometry is not read either:
        // the running sequence owns the handle.
        boot->updateFromFile(path);
        QVERIFY(!boot->getinfo());
        // Replaced during the wait before erasing: what was checked is what is written.
        fixture->writeImage(QStringLiteral("firmware.0002.bin"), sim::makeFirmwareImage(std::size_t(AppSize), "SW 9.9", 5));
        // Polling stops at once, before anything is sent.
        QCOMPARE(timer, QList<bool>({false}));
        QVERIFY(!connection->hotplugTimer->isActive());
        waitForEnd();

        QCOMPARE(finished, QList<bool>({true}));
        QCOMPARE(lines, QStringList{"Update already running"} + FlashingLines::success(path));
        QCOMPARE(progress, expectedProgress(AppSize, PageSize, size));
        QCOMPARE(timer, QList<bool>({false, true}));
        QVERIFY(!timerRanDuringSequence);
        QVERIFY(boot->image.isEmpty());

        // In this order: the geometry request, every application page erased, every block
        // written, every block read back, the start. A request: command, 24-bit big-endian
        // address, the data (the last block padded with 0x00), zeros after it.
        const int blocks = (size + 31) / 32;
        const QByteArray padded = QByteArray(reinterpret_cast<const char*>(image.data()), size) + QByteArray(blocks * 32 - size, '\0');
        QList<quint32> expected{quint32(SimBootloader::GetInfo) << 24}, sent;  // command << 24 | address
        for (quint32 a = 0; a < AppSize; a += PageSize)
            expected << (quint32(SimBootloader::ErasePage) << 24 | a);
        for (const quint32 command : {quint32(SimBootloader::WriteBlock), quint32(SimBootloader::ReadBlock)})
            for (quint32 a = 0; a < quint32(blocks * 32); a += 32)
                expected << (command << 24 | a);
        expected << (quint32(SimBootloader::RunApplication) << 24);
        for (const sim::Report& r : loader->receivedReports()) {
            sent << (quint32(r[0]) << 24 | quint32(r[1]) << 16 | quint32(r[2]) << 8 | r[3]);
            const bool write = r[0] == SimBootloader::WriteBlock;
            if (write)
                QVERIFY(std::equal(r.begin() + 4, r.begin() + 36, reinterpret_cast<const std::uint8_t*>(padded.constData()) + (sent.last() & 0xFFFFFF)));
            QVERIFY(std::all_of(r.begin() + (write ? 36 : 4), r.end(), [](std::uint8_t b) { return b == 0; }));
        }
        QCOMPARE(sent, expected);
        QCOMPARE(loader->applicationStarts(), 1);

        // The image is in the flash with its padding, the rest of the application area erased.
        QVERIFY(loader->flash(0, image.size()) == image);
        QVERIFY(allBytes(loader->flash(size, blocks * 32 - size), 0x00));
        QVERIFY(allBytes(loader->flash(blocks * 32, AppSize - blocks * 32), 0xFF));

        // The link was closed and the device came back as the sensor with the new version.
        QVERIFY(connectionEvents.startsWith(QStringLiteral("disconnected")));
        QTRY_VERIFY(connectedAs("tessaro"));
        QCOMPARE(connection->productId, 0x0001);
        unsigned char reply[TessaroLink::ReportBufferSize];
        QVERIFY(connection->sendCommand("app:version;", reply));
        QCOMPARE(colonFields(reply).value(3), QStringLiteral("SW 2.5"));
        // The last reference deletes it later, on the GUI thread: cleanup() waits for that.
        boot.reset();
        QVERIFY(watched);
    }

    void refusedBeforeAnythingIsSent_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<int>("size");
        QTest::addColumn<QStringList>("expected");
        const QStringList pageSizeZero{"Invalid flash geometry: page size 0", "Abort"};
        const QStringList notBlocks{"Invalid flash geometry: page size not a multiple of 32 bytes", "Abort"};
        QTest::newRow("one byte too large") << "" << AppSize + 1 << QStringList{"Image size too large", "Abort"};
        QTest::newRow("empty") << "" << 0 << QStringList{"Image is empty", "Abort"};
        QTest::newRow("no file selected") << "nofile" << 32 << QStringList{"no file selected!"};
        QTest::newRow("missing") << "missing" << 32 << QStringList{"Could not open file"};
        QTest::newRow("directory") << "directory" << 32 << QStringList{"Could not open file"};
        QTest::newRow("named pipe") << "fifo" << 32 << QStringList{"Could not open file"};
        QTest::newRow("no permission") << "permission" << 32 << QStringList{"Could not open file"};
        QTest::newRow("page size 0") << "pagesize0" << 512 << pageSizeZero;
        QTest::newRow("bootloader above the flash") << "bootabove" << 0
                                                    << QStringList{"Invalid flash geometry: bootloader size above flash size", "Abort"};
        QTest::newRow("bootloader as large as the flash") << "bootequal" << 1 << QStringList{"Image size too large", "Abort"};
        QTest::newRow("page size not a multiple of 32") << "pagesize16" << 512 << notBlocks;
        QTest::newRow("garbage geometry reply") << "garbage" << 512 << notBlocks;
        QTest::newRow("application area not whole pages") << "partpage" << 512
                                                          << QStringList{"Invalid flash geometry: application area not a whole number of pages", "Abort"};
        // 512 pages: the 8-bit count reads 0, and the part is fine.
        QTest::newRow("page count wrapped") << "wrapped" << 262144 - 4096 + 1 << QStringList{"Image size too large", "Abort"};
        QTest::newRow("geometry never read") << "noinfo" << 0 << pageSizeZero;
        QTest::newRow("not connected") << "unplugged" << 32 << QStringList{"Bootloader not connected", "Abort"};
        QTest::newRow("found but not openable") << "unopenable" << 32 << QStringList{"Bootloader not connected", "Abort"};
        QTest::newRow("another program updates the unit") << "locked" << 512
                                                          << QStringList{UpdateLock::HeldText, "Abort"};
    }

    void refusedBeforeAnythingIsSent()
    {
        QFETCH(QString, setup);
        QFETCH(int, size);
        QFETCH(QStringList, expected);
        if (setup == QLatin1String("permission") && ::geteuid() == 0)
            QSKIP("Run as root, which reads any file: an unreadable image cannot be made");
        // Flash, page and bootloader sizes, page count as the reply carries it.
        const QHash<QString, sim::FlashGeometry> geometries{
            {QStringLiteral("pagesize0"), {32768, 0, 64, 4096}},
            {QStringLiteral("bootabove"), {4096, 512, 8, 8192}},
            {QStringLiteral("bootequal"), {4096, 512, 8, 4096}},
            {QStringLiteral("pagesize16"), {32768, 16, 0, 4096}},
            {QStringLiteral("garbage"), {4015179, 12086, 33, 4096}},
            {QStringLiteral("partpage"), {32768, 512, 64, 4000}},
            {QStringLiteral("wrapped"), {262144, 512, 0, 4096}},
        };
        if (geometries.contains(setup))
            replugLoader(geometries.value(setup));
        const bool absent = setup == QLatin1String("unplugged") || setup == QLatin1String("unopenable");
        if (absent) {
            sim::SimBus::instance().unplug(loader.get());
            QTRY_VERIFY(!connection->isConnected);
            connection->SetHotPlugTimerState(false);
        }
        if (setup == QLatin1String("unopenable")) {
            loader->setOpenable(false);
            sim::SimBus::instance().plug(loader);
            connection->hotplugWorker();
            QVERIFY(!connection->isConnected);
        }
        // Another program's claim on this unit (tessaroctl flashing it).
        UpdateLock other;
        if (setup == QLatin1String("locked"))
            QVERIFY(other.acquire(connection->updateUnit()));
        boot = makeBootloader(false);
        if (setup != QLatin1String("noinfo") && !absent)
            QVERIFY(boot->getinfo());
        lines.clear();
        QString path = fixture->writeImage(QStringLiteral("image.bin"), sim::makeFirmwareImage(std::size_t(size), "SW 2.5"));
        if (setup == QLatin1String("nofile"))
            path.clear();
        else if (setup == QLatin1String("missing"))
            path += QStringLiteral(".missing");
        else if (setup == QLatin1String("directory"))
            path = fixture->dir();
        else if (setup == QLatin1String("fifo"))  // opening a pipe with no writer would block for good
            QVERIFY(QFile::remove(path) && ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0);
        else if (setup == QLatin1String("permission"))
            QVERIFY(QFile::setPermissions(path, QFileDevice::WriteOwner));
        const auto before = loader->flash();
        loader->clearLog();
        boot->updateFromFile(path);
        // Refused at once, on the GUI thread; nothing reaches the device, even after the wait.
        QVERIFY(!boot->isBusy());
        QCOMPARE(lines, expected);
        checkFailedEnd();
        QTest::qWait(2 * SettleMs);
        QVERIFY(loader->receivedReports().empty());
        QVERIFY(loader->flash() == before);
        // The pass itself refuses too, instead of looping for ever.
        if (setup == QLatin1String("pagesize0") || setup == QLatin1String("garbage"))
            QVERIFY(!boot->eraseflash());
    }

    // A second program on the unit (tessaroctl beside the window). Its handle's replies come
    // to ours too, as hidraw copies every report to every handle: a stray one waits before
    // the run and is dropped, so the run verifies. While this run updates the unit, the
    // other program's search leaves the bootloader alone, and a run of its own is refused
    // before it sends anything.
    void secondProgramOnTheUnit()
    {
        boot = makeBootloader();
        boot->setSettleTimeMs(100);
        hid_device* theirs = hid_open_path(SimBootloader::defaultInfo().path.c_str());
        QVERIFY(theirs);
        unsigned char request[TessaroLink::ReportBufferSize] = {0, SimBootloader::GetInfo};
        QCOMPARE(hid_write(theirs, request, sizeof request), int(sizeof request));
        unsigned char reply[BootloaderLink::ReplySize];
        QCOMPARE(hid_read_timeout(theirs, reply, sizeof reply, ReplyLimitMs), int(sizeof reply));
        const auto image = sim::makeFirmwareImage(2048, "SW 2.5", 6);
        const QString path = fixture->writeImage(QStringLiteral("a.bin"), image);
        boot->updateFromFile(path);
        QVERIFY(boot->isBusy());

        tessaro other;
        other.SetHotPlugTimerState(false);
        other.hotplugWorker();
        QVERIFY(!other.isConnected);
        QCOMPARE(other.busState().kind(), tessaroDeviceState::UpdatingElsewhere);
        QCOMPARE(other.busState().text(), QStringLiteral("[status:updatingelsewhere]"));
        // Opened all the same (as tessaroctl opens what it lists), its run is refused.
        other.setHonoursUpdateLocks(false);
        other.hotplugWorker();
        QVERIFY(other.isConnected);
        const QSharedPointer<bootloader> second = bootloader::create(&other);
        QStringList secondLines;
        connect(second.data(), &bootloader::status, this, [&secondLines](const QString& line) { secondLines << line; });
        second->updateFromFile(path);
        QVERIFY(!second->isBusy());
        QCOMPARE(secondLines, QStringList({UpdateLock::HeldText, QStringLiteral("Abort")}));

        waitForEnd();
        QCOMPARE(finished, QList<bool>({true}));
        QCOMPARE(lines, FlashingLines::success(path));
        QVERIFY(loader->flash(0, image.size()) == image);
        QCOMPARE(loader->requestCount(SimBootloader::GetInfo), 2);
        QCOMPARE(loader->requestCount(SimBootloader::ErasePage), Pages);
        // Given up once the sensor is back.
        QTRY_VERIFY(connectedAs("tessaro"));
        QVERIFY(!UpdateLock().heldElsewhere(connection->updateUnit()));
        hid_close(theirs);
        other.disconnectDevice();
    }

    void sequenceFails_data()
    {
        QTest::addColumn<int>("fault");
        QTest::addColumn<int>("at");  // exchange number after the geometry request; 0: that request
        QTest::addColumn<QStringList>("ending");
        QTest::addColumn<bool>("linkDown");
        const int write = Pages + 1;
        const int read = Pages + 8 + 1;
        const int silent = int(sim::Fault::NoReply);
        const QString noRead = QStringLiteral("Could not read from bootloader");
        const QString noWrite = QStringLiteral("Could not write to bootloader");
        QTest::newRow("geometry request unanswered") << silent << 0 << QStringList{noRead} << true;
        QTest::newRow("geometry request not written") << int(sim::Fault::WriteFails) << 0 << QStringList{noWrite} << true;
        QTest::newRow("silent at the first erase") << silent << 1 << QStringList{noRead, "Flash erase error @ page 0"} << true;
        QTest::newRow("silent at a middle erase") << silent << 20 << QStringList{noRead, "Flash erase error @ page 9728"} << true;
        QTest::newRow("silent at the last erase") << silent << Pages << QStringList{noRead, "Flash erase error @ page 28160"} << true;
        QTest::newRow("silent at the first write") << silent << write << QStringList{noRead, "Flash write error @ page 0"} << true;
        QTest::newRow("silent at the last write") << silent << write + 7 << QStringList{noRead, "Flash write error @ page 224"} << true;
        QTest::newRow("silent at the first read") << silent << read << QStringList{noRead, "Flash read error @ page 0"} << true;
        QTest::newRow("silent at the last read") << silent << read + 7 << QStringList{noRead, "Flash read error @ page 224"} << true;
        QTest::newRow("write fails") << int(sim::Fault::WriteFails) << write + 2 << QStringList{noWrite, "Flash write error @ page 64"} << true;
        QTest::newRow("unplugged") << int(sim::Fault::Unplug) << write + 3 << QStringList{noWrite, "Flash write error @ page 96"} << true;
        QTest::newRow("erase refused") << Refusal << 3 << QStringList{"Start flash erase", "Flash erase error @ page 1024"} << false;
        QTest::newRow("verify mismatch") << Corruption << read + 5
                                         << QStringList{"Start Reading", "Flash not equal @ a3", "Flash read error @ page 160"} << false;
        // The image is in the flash: the run ends as verified, the link closed anyway.
        QTest::newRow("start of the application not written") << int(sim::Fault::WriteFails) << read + 8
                                                              << QStringList{"Flash readed!", "Updated succesfully!", noWrite} << true;
    }

    void sequenceFails()
    {
        QFETCH(int, fault);
        QFETCH(int, at);
        QFETCH(QStringList, ending);
        QFETCH(bool, linkDown);
        boot = makeBootloader(at > 0);
        const QString path = fixture->writeImage(QStringLiteral("a.bin"), sim::makeFirmwareImage(256, "SW 2.5"));
        if (fault == Refusal)
            loader->injectRefusal(at);
        else if (fault == Corruption)
            loader->setReadCorruption(0xA3);
        else
            loader->injectFault(qMax(at, 1), static_cast<sim::Fault>(fault));
        if (at == 0) {
            QVERIFY(!boot->getinfo());
            QCOMPARE(lines, ending);
            QVERIFY(!boot->eraseflashWorker(0));
        } else {
            boot->updateFromFile(path);
            waitForEnd();
            // A silent device costs one wait of the reply time limit, no more.
            const auto waits = loader->emptyReadLimits();
            QCOMPARE(int(std::count(waits.begin(), waits.end(), ReplyLimitMs)), fault == int(sim::Fault::NoReply) ? 1 : 0);
            const bool verified = ending.contains(QStringLiteral("Updated succesfully!"));
            QCOMPARE(lines.mid(lines.size() - ending.size() - (verified ? 0 : 1)), verified ? ending : ending + QStringList{"Abort"});
            if (verified) {
                QCOMPARE(finished, QList<bool>({true}));
                QCOMPARE(timer, QList<bool>({false, true}));
                // The device, still in its bootloader, is found again.
                QVERIFY(connectionEvents.startsWith(QStringLiteral("disconnected")));
                QTRY_VERIFY(connectedAs("bootloader"));
            } else {
                checkFailedEnd();
                QCOMPARE(progress, expectedProgress(AppSize, PageSize, 256).mid(0, at - 1));
            }
            QCOMPARE(loader->applicationStarts(), 0);
        }
        QCOMPARE(bool(boot->linkOk), !linkDown);
        QCOMPARE(loader->exchangeCount(), 1 + at);
        forgetReports();
        if (linkDown) {
            // Down for good (until re-plugged): the next request is refused without a word to
            // the device.
            QVERIFY(!boot->getinfo());
            boot->updateFromFile(path);
            QCOMPARE(lines, QStringList({QStringLiteral("Bootloader not connected"), QStringLiteral("Abort")}));
            checkFailedEnd();
            QCOMPARE(loader->exchangeCount(), 1 + at);
            return;
        }
        // Polling runs again, and the open bootloader just stays connected and takes the same
        // object's next run.
        QTest::qWait(250);
        QVERIFY(connectedAs("bootloader"));
        QVERIFY(!connectionEvents.contains(QStringLiteral("disconnected")));
        loader->setReadCorruption(std::nullopt);
        // An image long enough to hold its version, so the sensor comes back.
        const auto image = sim::makeFirmwareImage(1024, "SW 2.5", 2);
        flashToTheEnd(fixture->writeImage(QStringLiteral("b.bin"), image), image);
    }

    // The view holding the only other reference goes while the sequence runs (the main
    // window deleting it on disconnected() is what every flash through the window shows).
    void ownerDeletedWhileTheSequenceRuns()
    {
        auto* owner = new QObject;
        {
            auto held = QSharedPointer<QSharedPointer<bootloader>>::create(makeBootloader());
            (*held)->setSettleTimeMs(200);
            connect(owner, &QObject::destroyed, [held] { held->reset(); });
        }
        QPointer<bootloader> b = watched;
        const QString path = fixture->writeImage(QStringLiteral("a.bin"), sim::makeFirmwareImage(4096, "SW 2.5", 4));
        b->updateFromFile(path);
        // Gone during the wait before erasing, so certainly while the sequence runs.
        delete owner;
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(b);  // still alive: the sequence runs on
        waitForEnd();
        QCOMPARE(finished, QList<bool>({true}));
        QCOMPARE(lines, FlashingLines::success(path));
        // Released afterwards, on the GUI thread.
        QTRY_VERIFY(b.isNull());
        QTRY_VERIFY(connectedAs("tessaro"));
    }
};

TESSARO_TEST_MAIN(tst_bootloader)
#include "tst_bootloader.moc"
