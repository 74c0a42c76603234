// The simulated bootloader device: its binary protocol, its flash memory, the faults it
// can show, and the change of role between sensor and bootloader on the bus.
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

    Reply reply(int* count = nullptr)
    {
        Reply r{};
        const int n = hid_read_timeout(handle, r.data(), r.size(), ReadWaitMs);
        if (count)
            *count = n;
        return r;
    }

    Reply exchange(unsigned char command, std::uint32_t address, const unsigned char* data = nullptr)
    {
        if (request(command, address, data) != 65)
            return Reply{};
        return reply();
    }

    static std::vector<std::uint8_t> bytes(const Reply& r, int from, int count)
    {
        return std::vector<std::uint8_t>(r.begin() + from, r.begin() + from + count);
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

    void enumeratesWithTheBootloaderProductId()
    {
        plug();
        hid_device_info* list = hid_enumerate(sim::TestVendorId, sim::BootloaderProductId);
        QVERIFY(list);
        QCOMPARE(list->product_id, static_cast<unsigned short>(0x0002));
        QVERIFY(!list->next);
        hid_free_enumeration(list);
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
        QCOMPARE(r[1], static_cast<unsigned char>(0x7B));
        QCOMPARE(r[2], static_cast<unsigned char>(0x02));
        QCOMPARE(r[3], static_cast<unsigned char>(0x80));
        QCOMPARE(r[4], static_cast<unsigned char>(0x01));
        QCOMPARE(r[5], static_cast<unsigned char>(0x23));
        QCOMPARE(r[6], static_cast<unsigned char>(0x45));
        QCOMPARE(r[7], static_cast<unsigned char>(0x1A));
        QCOMPARE(r[8], static_cast<unsigned char>(0x2B));
        QCOMPARE(loader->requestCount(SimBootloader::GetInfo), 1);
    }

    void startsWithAnApplicationAndAProtectedBootloaderArea()
    {
        plug();
        QCOMPARE(loader->applicationVersion(), std::string("SW 2.4"));
        const auto top = loader->flash(32768 - 4096, 4096);
        QVERIFY(std::all_of(top.begin(), top.end(), [](std::uint8_t b) { return b == 0xB0; }));
        // Neither erased nor written by the protocol.
        QCOMPARE(exchange(SimBootloader::ErasePage, 32768 - 4096)[0], static_cast<unsigned char>(0x00));
        unsigned char zeros[32] = {};
        QCOMPARE(exchange(SimBootloader::WriteBlock, 32768 - 32, zeros)[0], static_cast<unsigned char>(0x00));
        QVERIFY(loader->flash(32768 - 4096, 4096) == top);
    }

    void eraseWriteAndReadActOnTheFlash()
    {
        plug();
        Reply r = exchange(SimBootloader::ErasePage, 512);
        QCOMPARE(r[0], static_cast<unsigned char>(0x01));
        QCOMPARE(r[1], static_cast<unsigned char>(SimBootloader::ErasePage));
        QVERIFY(bytes(r, 2, 3) == std::vector<std::uint8_t>({0x00, 0x02, 0x00}));
        const auto page = loader->flash(512, 512);
        QVERIFY(std::all_of(page.begin(), page.end(), [](std::uint8_t b) { return b == 0xFF; }));
        // The neighbouring pages keep their content.
        QVERIFY(loader->flash(511, 1)[0] != 0xFF || loader->flash(1024, 1)[0] != 0xFF);

        unsigned char data[32];
        for (int i = 0; i < 32; ++i)
            data[i] = static_cast<unsigned char>(i * 5 + 1);
        QCOMPARE(exchange(SimBootloader::WriteBlock, 544, data)[0], static_cast<unsigned char>(0x01));
        QVERIFY(loader->flash(544, 32) == std::vector<std::uint8_t>(data, data + 32));

        r = exchange(SimBootloader::ReadBlock, 544);
        QCOMPARE(r[0], static_cast<unsigned char>(0x01));
        QVERIFY(bytes(r, 1, 3) == std::vector<std::uint8_t>({0x00, 0x02, 0x20}));
        QVERIFY(bytes(r, 4, 32) == std::vector<std::uint8_t>(data, data + 32));
        QCOMPARE(loader->requestAddresses(SimBootloader::WriteBlock), std::vector<std::uint32_t>({544}));
    }

    void writingWithoutEraseOnlyClearsBits()
    {
        plug();
        loader->loadApplication(std::vector<std::uint8_t>(64, 0x0F));
        unsigned char data[32];
        std::memset(data, 0xF3, sizeof data);
        QCOMPARE(exchange(SimBootloader::WriteBlock, 0, data)[0], static_cast<unsigned char>(0x01));
        QCOMPARE(loader->flash(0, 1)[0], static_cast<std::uint8_t>(0x03));
    }

    void refusesWhatItCannotDo_data()
    {
        QTest::addColumn<int>("command");
        QTest::addColumn<int>("address");
        QTest::newRow("erase unaligned") << int(SimBootloader::ErasePage) << 100;
        QTest::newRow("erase past the application") << int(SimBootloader::ErasePage) << 32768;
        QTest::newRow("write unaligned") << int(SimBootloader::WriteBlock) << 16;
        QTest::newRow("write into the bootloader") << int(SimBootloader::WriteBlock) << 28672;
        QTest::newRow("read past the flash") << int(SimBootloader::ReadBlock) << 32768 - 16;
        QTest::newRow("unknown command") << 0x42 << 0;
    }

    void refusesWhatItCannotDo()
    {
        QFETCH(int, command);
        QFETCH(int, address);
        plug();
        const auto before = loader->flash();
        unsigned char zeros[32] = {};
        const Reply r = exchange(static_cast<unsigned char>(command), static_cast<std::uint32_t>(address), zeros);
        QCOMPARE(r[0], static_cast<unsigned char>(0x00));
        QVERIFY(loader->flash() == before);
    }

    void pageSizeZeroRefusesErase()
    {
        sim::FlashGeometry g;
        g.pageSize = 0;
        plug(g);
        QCOMPARE(exchange(SimBootloader::ErasePage, 0)[0], static_cast<unsigned char>(0x00));
    }

    void readCorruptionAltersOneByte()
    {
        plug();
        loader->setReadCorruption(0x105);
        const auto flash = loader->flash(0x100, 32);
        const Reply r = exchange(SimBootloader::ReadBlock, 0x100);
        QCOMPARE(r[0], static_cast<unsigned char>(0x01));
        for (int i = 0; i < 32; ++i) {
            if (i == 5)
                QVERIFY(r[4 + i] != flash[5]);
            else
                QCOMPARE(r[4 + i], flash[static_cast<std::size_t>(i)]);
        }
        // Other blocks and the memory itself are untouched.
        QVERIFY(bytes(exchange(SimBootloader::ReadBlock, 0x120), 4, 32) == loader->flash(0x120, 32));
        QVERIFY(loader->flash(0x100, 32) == flash);
        loader->setReadCorruption(std::nullopt);
        QVERIFY(bytes(exchange(SimBootloader::ReadBlock, 0x100), 4, 32) == flash);
    }

    void injectedRefusalHitsOneRequest()
    {
        plug();
        loader->injectRefusal(2);
        QCOMPARE(exchange(SimBootloader::ErasePage, 0)[0], static_cast<unsigned char>(0x01));
        QCOMPARE(exchange(SimBootloader::ErasePage, 512)[0], static_cast<unsigned char>(0x00));
        QCOMPARE(exchange(SimBootloader::ReadBlock, 0)[0], static_cast<unsigned char>(0x01));
    }

    void deviceFaultsApply()
    {
        plug();
        loader->injectFault(1, sim::Fault::NoReply);
        QCOMPARE(request(SimBootloader::GetInfo, 0), 65);
        int n = -2;
        reply(&n);
        QCOMPARE(n, 0);
        loader->injectFault(1, sim::Fault::WriteFails);
        QCOMPARE(request(SimBootloader::GetInfo, 0), -1);
        QCOMPARE(exchange(SimBootloader::GetInfo, 0)[1], static_cast<unsigned char>(64));
    }

    // With frame timing, a request leaves in the next frame and its reply is readable one
    // frame later: never sooner, so a run of exchanges takes at least two frames each.
    void framesPaceTheExchanges()
    {
        plug();
        constexpr auto Frame = std::chrono::milliseconds(3);
        loader->setLatency(Frame);
        QCOMPARE(request(SimBootloader::GetInfo, 0), 65);
        Reply early{};
        QCOMPARE(hid_read_timeout(handle, early.data(), early.size(), 0), 0);
        QCOMPARE(reply()[0], static_cast<unsigned char>(0x01));

        constexpr int Exchanges = 10;
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < Exchanges; ++i)
            QCOMPARE(exchange(SimBootloader::GetInfo, 0)[0], static_cast<unsigned char>(0x01));
        const auto elapsed = std::chrono::steady_clock::now() - start;
        QVERIFY(elapsed >= (2 * Exchanges - 1) * Frame);
    }

    void runApplicationComesBackAsSensorWithTheImageVersion()
    {
        plug();
        loader->loadApplication(sim::makeFirmwareImage(4096, "SW 2.5"));
        QCOMPARE(loader->applicationVersion(), std::string("SW 2.5"));
        QCOMPARE(request(SimBootloader::RunApplication, 0), 65);
        int n = -2;
        reply(&n);
        QVERIFY(n <= 0);  // no reply: the device leaves the bus
        QTRY_VERIFY(!onBus(sim::BootloaderProductId));
        QTRY_VERIFY(onBus(sim::SensorProductId));
        QCOMPARE(loader->applicationStarts(), 1);
        const auto sensor = loader->application();
        QVERIFY(sensor);
        QCOMPARE(sensor->versionReply(), std::string("app:version:HW 1.1:SW 2.5:2026:11:20;"));

        hid_device* app = hid_open_path(sim::SimSensor::defaultInfo().path.c_str());
        QVERIFY(app);
        unsigned char command[65] = {0, 'a', 'p', 'p', ':', 'v', 'e', 'r', 's', 'i', 'o', 'n', ';'};
        QCOMPARE(hid_write(app, command, sizeof command), 65);
        Reply r{};
        QVERIFY(hid_read_timeout(app, r.data(), r.size(), ReadWaitMs) > 0);
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(r.data())), QByteArray("app:version:HW 1.1:SW 2.5:2026:11:20;"));
        hid_close(app);
    }

    void runWithoutValidApplicationStaysInTheBootloader()
    {
        plug();
        loader->loadApplication({});
        QCOMPARE(loader->applicationVersion(), std::string());
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
        hid_device* app = hid_open_path(sim::SimSensor::defaultInfo().path.c_str());
        QVERIFY(app);
        unsigned char command[65] = {0, 'a', 'p', 'p', ':', 'b', 'o', 'o', 't', 'l', 'o', 'a', 'd', 'e', 'r', ';'};
        QCOMPARE(hid_write(app, command, sizeof command), 65);
        Reply r{};
        QVERIFY(hid_read_timeout(app, r.data(), r.size(), ReadWaitMs) > 0);
        QTest::qWait(200);
        // Off by default: the request is only recorded.
        QVERIFY(sensor->plugged());
        QVERIFY(!onBus(sim::BootloaderProductId));
        QCOMPARE(sensor->bootloaderRequests(), 1);

        sensor->setVersionReply("app:version:HW 1.0:SW 2.5:2026:11:20;");
        sensor->setReenumerates(true, std::chrono::milliseconds(30));
        QCOMPARE(hid_write(app, command, sizeof command), 65);
        r = Reply{};
        QVERIFY(hid_read_timeout(app, r.data(), r.size(), ReadWaitMs) > 0);
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(r.data())), QByteArray("app:bootloader:ok;"));
        hid_close(app);
        QTRY_VERIFY(!sensor->plugged());
        QTRY_VERIFY(onBus(sim::BootloaderProductId));

        auto bootDevice = std::dynamic_pointer_cast<SimBootloader>(
            sim::SimBus::instance().findByPath(SimBootloader::defaultInfo().path));
        QVERIFY(bootDevice);
        QCOMPARE(bootDevice->applicationVersion(), std::string("SW 2.5"));
        QCOMPARE(bootDevice->application(), sensor);

        // Starting the application brings the same sensor back, with its state.
        bootDevice->setRestartDelay(std::chrono::milliseconds(30));
        handle = hid_open_path(SimBootloader::defaultInfo().path.c_str());
        QVERIFY(handle);
        QCOMPARE(request(SimBootloader::RunApplication, 0), 65);
        QTRY_VERIFY(sensor->plugged());
        QVERIFY(!onBus(sim::BootloaderProductId));
        QCOMPARE(sensor->versionReply(), std::string("app:version:HW 1.0:SW 2.5:2026:11:20;"));
        QCOMPARE(sensor->bootloaderRequests(), 2);
    }

    void firmwareImageLayout()
    {
        const auto image = sim::makeFirmwareImage(1024, "SW 3.1");
        QCOMPARE(image.size(), std::size_t(1024));
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(image.data()) + sim::ImageVersionOffset),
                 QByteArray("SW 3.1"));
        QVERIFY(sim::makeFirmwareImage(1024, "SW 3.1", 1) != image);
        // Too short for a version: just the pattern.
        const auto small = sim::makeFirmwareImage(0x100, "SW 3.1");
        QVERIFY(small == std::vector<std::uint8_t>(image.begin(), image.begin() + 0x100));
    }
};

TESSARO_TEST_MAIN(tst_simbootloader)
#include "tst_simbootloader.moc"
