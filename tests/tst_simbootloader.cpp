// The simulated bootloader where its faults would hide the tool's: the reply layouts, a
// flash that needs an erase and guards the bootloader area, USB frame timing, hidraw's
// short reports and zero-length reads, and the change of role between sensor and bootloader.
#include "sim/simbootloader.h"
#include "sim/simbus.h"
#include "sim/simsensor.h"
#include "simfixture.h"
#include "testmain.h"

#include <hidapi/hidapi.h>

#include <optional>

using sim::SimBootloader;

namespace {

constexpr int ReadWaitMs = 200;

bool onBus(std::uint16_t productId)
{
    for (const auto& device : sim::SimBus::instance().devices()) {
        if (device->info().productId == productId)
            return true;
    }
    return false;
}

// One exchange as the tool makes it: a whole report, report ID first; the reply as read.
QByteArray exchange(hid_device* device, const QByteArray& request)
{
    QByteArray report(65, '\0');
    report.replace(1, request.size(), request);
    if (hid_write(device, reinterpret_cast<const unsigned char*>(report.constData()), report.size()) != 65)
        return "(not sent)";
    QByteArray reply(64, '\0');
    reply.resize(std::max(0, hid_read_timeout(device, reinterpret_cast<unsigned char*>(reply.data()), 64, ReadWaitMs)));
    return reply;
}

QByteArray request(SimBootloader::Command command, std::uint32_t address, const QByteArray& data = QByteArray(32, '\0'))
{
    const char head[] = {char(command), char(address >> 16), char(address >> 8), char(address)};
    return QByteArray(head, 4) + data;
}

// What a sensor answers to a command, opened and asked as the tool does.
QByteArray askSensor(const char* command)
{
    hid_device* app = hid_open_path(sim::SimSensor::defaultInfo().path.c_str());
    if (!app)
        return "(not opened)";
    const QByteArray reply = exchange(app, command);
    hid_close(app);
    return reply.left(reply.indexOf('\0'));
}

} // namespace

class tst_simbootloader : public QObject
{
    Q_OBJECT

private:
    std::optional<SimFixture> fixture;
    std::shared_ptr<SimBootloader> loader;
    hid_device* handle = nullptr;

    void plug(sim::FlashGeometry geometry = {})
    {
        loader = std::make_shared<SimBootloader>(geometry);
        loader->setRestartDelay(std::chrono::milliseconds(30));
        sim::SimBus::instance().plug(loader);
        handle = hid_open_path(SimBootloader::defaultInfo().path.c_str());
        QVERIFY(handle);
    }

    QByteArray exchange(SimBootloader::Command command, std::uint32_t address, const QByteArray& data = QByteArray(32, '\0'))
    {
        return ::exchange(handle, request(command, address, data));
    }

private slots:
    void init()
    {
        fixture.emplace();
        handle = nullptr;
    }

    void cleanup()
    {
        if (handle)
            hid_close(handle);
        loader.reset();
        fixture.reset();
    }

    void repliesActOnTheFlash()
    {
        sim::FlashGeometry g;
        g.flashSize = 0x012345;
        g.pageSize = 0x0280;
        g.pageCount = 0x7B;
        g.bootloaderSize = 0x1A2B;
        plug(g);
        QCOMPARE(exchange(SimBootloader::GetInfo, 0).mid(1, 8), QByteArray::fromHex("7B0280012345 1A2B"));
        QCOMPARE(exchange(SimBootloader::ErasePage, 0x0280).left(5), QByteArray::fromHex("0102000280"));
        QVERIFY(loader->flash(0x0280, 0x0280) == std::vector<std::uint8_t>(0x0280, 0xFF));
        // The neighbouring pages keep their content.
        QVERIFY(loader->flash(0x027F, 1)[0] != 0xFF || loader->flash(0x0500, 1)[0] != 0xFF);
        const QByteArray data = QByteArray::fromHex("0F1E2D3C4B5A69788796A5B4C3D2E1F0").repeated(2);
        QCOMPARE(exchange(SimBootloader::WriteBlock, 0x02A0, data).at(0), '\x01');
        QCOMPARE(exchange(SimBootloader::ReadBlock, 0x02A0).left(36), QByteArray::fromHex("010002A0") + data);

        // Written without an erase, a bit only goes from 1 to 0: a tool that skips the
        // erase cannot verify.
        loader->loadApplication(std::vector<std::uint8_t>(64, 0x0F));
        QCOMPARE(exchange(SimBootloader::WriteBlock, 0, QByteArray(32, '\xF3')).at(0), '\x01');
        QCOMPARE(loader->flash(0, 1)[0], std::uint8_t(0x03));
    }

    // A long run (tessaro-uhid) keeps the newest addresses of each command, and counts them all.
    void recordKeepsTheNewestRequests()
    {
        plug();
        const int total = int(sim::MaxLoggedReports) + 3;
        for (int i = 0; i < total; ++i)
            QCOMPARE(exchange(SimBootloader::ReadBlock, std::uint32_t(i % 1024) * 32).at(0), '\x01');
        QCOMPARE(loader->requestCount(SimBootloader::ReadBlock), total);
        const std::vector<std::uint32_t> kept = loader->requestAddresses(SimBootloader::ReadBlock);
        QCOMPARE(kept.size(), sim::MaxLoggedReports);
        QCOMPARE(kept.front(), 3u * 32);
        QCOMPARE(kept.back(), std::uint32_t((total - 1) % 1024) * 32);
    }

    void requestsAtTheEdges_data()
    {
        QTest::addColumn<int>("command");
        QTest::addColumn<int>("address");
        QTest::addColumn<bool>("done");
        const int erase = SimBootloader::ErasePage;
        const int write = SimBootloader::WriteBlock;
        const int read = SimBootloader::ReadBlock;
        QTest::newRow("erase unaligned") << erase << 100 << false;
        QTest::newRow("erase the last application page") << erase << 28160 << true;
        QTest::newRow("erase the bootloader's first page") << erase << 28672 << false;
        QTest::newRow("write unaligned") << write << 16 << false;
        QTest::newRow("write the last application block") << write << 28640 << true;
        QTest::newRow("write into the bootloader") << write << 28672 << false;
        QTest::newRow("read the last block") << read << 32768 - 32 << true;
        QTest::newRow("read past the flash") << read << 32768 - 16 << false;
        QTest::newRow("unknown command") << 0x42 << 0 << false;
    }

    void requestsAtTheEdges()
    {
        QFETCH(int, command);
        QFETCH(int, address);
        QFETCH(bool, done);
        plug();
        const auto before = loader->flash();
        QVERIFY(std::all_of(before.begin() + 28672, before.end(), [](std::uint8_t b) { return b == 0xB0; }));
        QCOMPARE(exchange(SimBootloader::Command(command), std::uint32_t(address)).at(0), done ? '\x01' : '\x00');
        QCOMPARE(loader->flash() != before, done && command != SimBootloader::ReadBlock);
    }

    // With frame timing, a request leaves in the next frame and its reply is readable one
    // frame later: never sooner, so a run of exchanges takes at least two frames each.
    void framesPaceTheExchanges()
    {
        plug();
        constexpr auto Frame = std::chrono::milliseconds(10);
        loader->setLatency(Frame);
        unsigned char buffer[65] = {0, SimBootloader::GetInfo};
        // Only lower bounds on time: a loaded machine can make a wait longer, never shorter.
        const auto written = std::chrono::steady_clock::now();
        QCOMPARE(hid_write(handle, buffer, 65), 65);
        QCOMPARE(hid_read_timeout(handle, buffer, 64, ReadWaitMs), 64);
        QVERIFY(std::chrono::steady_clock::now() - written >= Frame);

        constexpr int Exchanges = 5;
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < Exchanges; ++i)
            QCOMPARE(exchange(SimBootloader::GetInfo, 0).at(0), '\x01');
        QVERIFY(std::chrono::steady_clock::now() - start >= (2 * Exchanges - 1) * Frame);
    }

    // As on hidraw: a report shorter than 64 bytes reaches the device as written, which,
    // made for whole reports, ignores it; a read of zero bytes that finds a report takes it
    // and reads on without a time limit, until the device goes away.
    void shortReportsAndZeroLengthReadsAsOnHidraw()
    {
        plug();
        unsigned char buffer[65] = {0, SimBootloader::GetInfo};
        QCOMPARE(hid_write(handle, buffer, 38), 38);
        QCOMPARE(hid_read_timeout(handle, buffer, 64, 50), 0);
        QVERIFY(loader->receivedReportLengths() == std::vector<size_t>{37});
        QCOMPARE(hid_write(handle, buffer, 65), 65);
        QTest::qWait(20);
        sim::SimBus::instance().schedule(std::chrono::milliseconds(200), [this] { sim::SimBus::instance().unplug(loader.get()); });
        const auto start = std::chrono::steady_clock::now();
        QCOMPARE(hid_read_timeout(handle, buffer, 0, 10), -1);
        QVERIFY(std::chrono::steady_clock::now() - start >= std::chrono::milliseconds(150));
    }

    // Re-enumeration under the other product ID, both ways, and a run without a valid
    // application coming back as the bootloader.
    void sensorAndBootloaderChangeRoles()
    {
        auto sensor = fixture->plugSensor();
        sensor->setVersionReply("app:version:HW 1.0:SW 2.5:2026:11:20;");
        sensor->setReenumerates(true, std::chrono::milliseconds(30));
        QCOMPARE(askSensor("app:bootloader;"), QByteArray("app:bootloader:ok;"));
        QTRY_VERIFY(!sensor->plugged());
        QTRY_VERIFY(onBus(sim::BootloaderProductId));
        loader = std::dynamic_pointer_cast<SimBootloader>(sim::SimBus::instance().findByPath(SimBootloader::defaultInfo().path));
        QVERIFY(loader);
        QCOMPARE(loader->applicationVersion(), std::string("SW 2.5"));

        // Starting the application brings the same sensor back, with its state.
        loader->setRestartDelay(std::chrono::milliseconds(30));
        handle = hid_open_path(SimBootloader::defaultInfo().path.c_str());
        QVERIFY(handle);
        QCOMPARE(::exchange(handle, request(SimBootloader::RunApplication, 0)), QByteArray());
        QTRY_VERIFY(sensor->plugged());
        QVERIFY(!onBus(sim::BootloaderProductId));
        QCOMPARE(askSensor("app:version;"), QByteArray("app:version:HW 1.0:SW 2.5:2026:11:20;"));
        hid_close(handle);

        // Without a valid application it comes back as the bootloader: a new generation.
        plug();
        loader->loadApplication({});
        QCOMPARE(::exchange(handle, request(SimBootloader::RunApplication, 0)), QByteArray());
        QTRY_COMPARE(loader->generation(), 2u);
        QVERIFY(loader->plugged() && !loader->application());
    }
};

TESSARO_TEST_MAIN(tst_simbootloader)
#include "tst_simbootloader.moc"
