// The fuzzer input as the bootloader's replies: a device on the simulated bus that answers
// every report it receives with the next 64-byte piece of the input (and with nothing once
// the input is used up), driven through reading the flash geometry and a short re-flash.
#include "fuzzcommon.h"

#include "sim/simbootloader.h"
#include "update/bootloader.h"

#include <QElapsedTimer>
#include <QSharedPointer>

#include <algorithm>
#include <mutex>

namespace {

constexpr int ReplyTimeoutMs = 10;
constexpr int FinishLimitMs = 20000;
constexpr int ImageSize = 64;

class ScriptedBootloader : public sim::SimDevice
{
public:
    ScriptedBootloader(const std::uint8_t* data, std::size_t size)
        : sim::SimDevice(sim::SimBootloader::defaultInfo())
        , m_script(data, data + size)
    {
    }

protected:
    std::vector<sim::Report> handleReport(const sim::Report&) override
    {
        if (m_next >= m_script.size())
            return {};
        sim::Report reply{};
        const std::size_t length = std::min(sim::ReportSize, m_script.size() - m_next);
        std::copy_n(m_script.begin() + static_cast<std::ptrdiff_t>(m_next), length, reply.begin());
        m_next += length;
        return {reply};
    }

private:
    std::vector<std::uint8_t> m_script;
    std::size_t m_next = 0;
};

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzzsupport::init();
    fuzzsupport::writeCatalogue(QJsonArray{fuzzsupport::entry(QStringLiteral("bootloader"), sim::BootloaderProductId)});
    const std::vector<std::uint8_t> image = sim::makeFirmwareImage(ImageSize, "SW 2.5");
    fuzzsupport::writeFile(QStringLiteral("image.bin"), fuzzsupport::bytes(image.data(), image.size()));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    sim::SimBus::instance().reset();
    sim::SimBus::instance().plug(std::make_shared<ScriptedBootloader>(data, size));
    auto connection = fuzzsupport::newConnection();
    connection->hotplugWorker();
    if (connection->isConnected) {
        QSharedPointer<bootloader> boot = bootloader::create(connection.get());
        boot->setSettleTimeMs(0);
        boot->setReplyTimeoutMs(ReplyTimeoutMs);
        bool finished = false;
        QObject::connect(boot.data(), &bootloader::updateFinished, [&finished](bool) { finished = true; });
        boot->getinfo();
        boot->updateFromFile(QDir::current().filePath(QStringLiteral("image.bin")));
        QElapsedTimer clock;
        clock.start();
        while (!finished && clock.elapsed() < FinishLimitMs)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        if (!finished) {
            qCritical("re-flash did not end within %d ms", FinishLimitMs);
            std::abort();
        }
        boot.reset();
        fuzzsupport::flushDeletes();
    }
    fuzzsupport::closeConnection(connection);
    sim::SimBus::instance().reset();
    fuzzsupport::flushDeletes();
    return 0;
}
