// The simulated bootloader device where its faults would hide the tool's: the reply layout
// of its binary protocol, a flash that must be erased before it is written and that guards
// the bootloader area, USB frame timing, and the change of role between sensor and
// bootloader on the bus.
#include "sim/simbootloader.h"
#include "sim/simbus.h"
#include "sim/simsensor.h"
#include "simfixture.h"
#include "testmain.h"

#include <hidapi/hidapi.h>

#include <array>
#include <cstring>
#include <optional>

using sim::SimBootloader;

namespace {

constexpr int ReadWaitMs = 200;

using Reply = std::array<unsigned char, 64>;

bool onBus(std::uint16_t productId)
{
    for (const auto& device : sim::SimBus::instance().devices()) {
        if (device->info().productId == productId)
            return true;
    }
    return false;
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

    // One request as the tool sends it: a whole report, report ID first.
    int request(unsigned char command, std::uint32_t address, const unsigned char* data = nullptr)
    {
        unsigned char buffer[65] = {};
        buffer[1] = command;
        buffer[2] = static_cast<unsigned char>(address >> 16);
        buffer[3] = static_cast<unsigned char>(address >> 8);
        buffer[4] = static_cast<unsigned char>(address);
        if (data)
            std::memcpy(buffer + 5, data, 32);
        return hid_write(handle, buffer, sizeof buffer);
    }

    Reply exchange(unsigned char command, std::uint32_t address, const unsigned char* data = nullptr)
    {
        Reply r{};
        if (request(command, address, data) == 65)
            hid_read_timeout(handle, r.data(), r.size(), ReadWaitMs);
        return r;
    }

    static std::vector<std::uint8_t> bytes(const Reply& r, int from, int count)
    {
        return std::vector<std::uint8_t>(r.begin() + from, r.begin() + from + count);
    }

    // What a sensor answers to a command, opened and asked as the tool does.
    static QByteArray askSensor(const char* command)
    {
        hid_device* app = hid_open_path(sim::SimSensor::defaultInfo().path.c_str());
        if (!app)
            return "(not opened)";
        unsigned char buffer[65] = {};
        std::strncpy(reinterpret_cast<char*>(buffer) + 1, command, 63);
        Reply r{};
        const bool ok = hid_write(app, buffer, sizeof buffer) == 65 && hid_read_timeout(app, r.data(), r.size(), ReadWaitMs) > 0;
        hid_close(app);
        return ok ? QByteArray(reinterpret_cast<const char*>(r.data()), int(strnlen(reinterpret_cast<const char*>(r.data()), 64)))
                  : QByteArray("(no reply)");
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
        handle = nullptr;
        loader.reset();
        fixture.reset();
    }

    void infoReplyLayout()
    {
        sim::FlashGeometry g;
        g.flashSize = 0x012345;
        g.pageSize = 0x0280;
        g.pageCount = 0x7B;
        g.bootloaderSize = 0x1A2B;
        plug(g);
        const Reply r = exchange(SimBootloader::GetInfo, 0);
        QVERIFY(bytes(r, 1, 8) == std::vector<std::uint8_t>({0x7B, 0x02, 0x80, 0x01, 0x23, 0x45, 0x1A, 0x2B}));
    }

    void eraseWriteAndReadActOnTheFlash()
    {
        plug();
        Reply r = exchange(SimBootloader::ErasePage, 512);
        QVERIFY(bytes(r, 0, 5) == std::vector<std::uint8_t>({0x01, SimBootloader::ErasePage, 0x00, 0x02, 0x00}));
        QVERIFY(loader->flash(512, 512) == std::vector<std::uint8_t>(512, 0xFF));
        // The neighbouring pages keep their content.
        QVERIFY(loader->flash(511, 1)[0] != 0xFF || loader->flash(1024, 1)[0] != 0xFF);

        unsigned char data[32];
        for (int i = 0; i < 32; ++i)
            data[i] = static_cast<unsigned char>(i * 5 + 1);
        QCOMPARE(exchange(SimBootloader::WriteBlock, 544, data)[0], static_cast<unsigned char>(0x01));
        r = exchange(SimBootloader::ReadBlock, 544);
        QVERIFY(bytes(r, 0, 4) == std::vector<std::uint8_t>({0x01, 0x00, 0x02, 0x20}));
        QVERIFY(bytes(r, 4, 32) == std::vector<std::uint8_t>(data, data + 32));

        // Written without an erase, a bit only goes from 1 to 0: a tool that skips the
        // erase cannot verify.
        loader->loadApplication(std::vector<std::uint8_t>(64, 0x0F));
        std::memset(data, 0xF3, sizeof data);
        QCOMPARE(exchange(SimBootloader::WriteBlock, 0, data)[0], static_cast<unsigned char>(0x01));
        QCOMPARE(loader->flash(0, 1)[0], static_cast<std::uint8_t>(0x03));
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
        unsigned char zeros[32] = {};
        const Reply r = exchange(static_cast<unsigned char>(command), static_cast<std::uint32_t>(address), zeros);
        QCOMPARE(r[0], static_cast<unsigned char>(done ? 0x01 : 0x00));
        QCOMPARE(loader->flash() != before, done && command != SimBootloader::ReadBlock);
    }

    // With frame timing, a request leaves in the next frame and its reply is readable one
    // frame later: never sooner, so a run of exchanges takes at least two frames each.
    void framesPaceTheExchanges()
    {
        plug();
        constexpr auto Frame = std::chrono::milliseconds(10);
        loader->setLatency(Frame);
        QCOMPARE(request(SimBootloader::GetInfo, 0), 65);
        Reply early{};
        QCOMPARE(hid_read_timeout(handle, early.data(), early.size(), 0), 0);
        QCOMPARE(hid_read_timeout(handle, early.data(), early.size(), ReadWaitMs), 64);

        constexpr int Exchanges = 5;
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < Exchanges; ++i)
            QCOMPARE(exchange(SimBootloader::GetInfo, 0)[0], static_cast<unsigned char>(0x01));
        QVERIFY(std::chrono::steady_clock::now() - start >= (2 * Exchanges - 1) * Frame);
    }

    // As on hidraw: a report shorter than 64 bytes reaches the device as written, which,
    // made for whole reports, ignores it; a read of zero bytes that finds a report takes it
    // and reads on without a time limit, until the device goes away.
    void shortReportsAndZeroLengthReadsAsOnHidraw()
    {
        plug();
        unsigned char shortRequest[38] = {0, SimBootloader::GetInfo};
        QCOMPARE(hid_write(handle, shortRequest, sizeof shortRequest), int(sizeof shortRequest));
        Reply r{};
        QCOMPARE(hid_read_timeout(handle, r.data(), r.size(), 50), 0);
        QVERIFY(loader->receivedReportLengths() == std::vector<size_t>{37});
        QCOMPARE(request(SimBootloader::GetInfo, 0), 65);
        QTest::qWait(20);
        sim::SimBus::instance().schedule(std::chrono::milliseconds(200), [this] { sim::SimBus::instance().unplug(loader.get()); });
        const auto start = std::chrono::steady_clock::now();
        QCOMPARE(hid_read_timeout(handle, r.data(), 0, 10), -1);
        QVERIFY(std::chrono::steady_clock::now() - start >= std::chrono::milliseconds(150));
    }

    void runWithoutValidApplicationStaysInTheBootloader()
    {
        plug();
        loader->loadApplication({});
        QCOMPARE(request(SimBootloader::RunApplication, 0), 65);
        // Plugged in again: a new generation on the bus.
        QTRY_COMPARE(loader->generation(), 2u);
        QVERIFY(loader->plugged());
        QVERIFY(!onBus(sim::SensorProductId));
        QVERIFY(!loader->application());
    }

    void sensorEntersTheBootloaderOnlyWhenAsked()
    {
        auto sensor = fixture->plugSensor();
        QCOMPARE(askSensor("app:bootloader;"), QByteArray("app:bootloader:ok;"));
        QTest::qWait(200);
        // Off by default: the request is only recorded.
        QVERIFY(sensor->plugged());
        QVERIFY(!onBus(sim::BootloaderProductId));
        QCOMPARE(sensor->bootloaderRequests(), 1);

        sensor->setVersionReply("app:version:HW 1.0:SW 2.5:2026:11:20;");
        sensor->setReenumerates(true, std::chrono::milliseconds(30));
        QCOMPARE(askSensor("app:bootloader;"), QByteArray("app:bootloader:ok;"));
        QTRY_VERIFY(!sensor->plugged());
        QTRY_VERIFY(onBus(sim::BootloaderProductId));
        auto bootDevice = std::dynamic_pointer_cast<SimBootloader>(
            sim::SimBus::instance().findByPath(SimBootloader::defaultInfo().path));
        QVERIFY(bootDevice);
        QCOMPARE(bootDevice->applicationVersion(), std::string("SW 2.5"));

        // Starting the application brings the same sensor back, with its state.
        bootDevice->setRestartDelay(std::chrono::milliseconds(30));
        handle = hid_open_path(SimBootloader::defaultInfo().path.c_str());
        QVERIFY(handle);
        QCOMPARE(request(SimBootloader::RunApplication, 0), 65);
        QTRY_VERIFY(sensor->plugged());
        QVERIFY(!onBus(sim::BootloaderProductId));
        QCOMPARE(askSensor("app:version;"), QByteArray("app:version:HW 1.0:SW 2.5:2026:11:20;"));
        QCOMPARE(sensor->bootloaderRequests(), 2);
    }
};

TESSARO_TEST_MAIN(tst_simbootloader)
#include "tst_simbootloader.moc"
