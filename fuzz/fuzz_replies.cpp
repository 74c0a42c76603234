// The fuzzer input as sensor replies: split at '\n' into at most 16 replies of at most 64
// bytes, queued on the simulated sensor and answered, one each, to whatever the program
// asks: the version check of the hot-plug search, the sensor view's start-up and poll
// ticks, and the live, calibration and centering windows fed the same texts directly.
#include "fuzzcommon.h"

#include "live/view_tessarocalibrate.h"
#include "live/view_tessarocenter.h"
#include "live/view_tessarolive.h"
#include "sensor/view_tessaro.h"

#include <QList>
#include <QTimer>

namespace {

constexpr int MaxReplies = 16;
constexpr std::size_t MaxReplyLength = 64;
constexpr int PollTicks = 4;

std::vector<std::string> splitReplies(const std::uint8_t* data, std::size_t size)
{
    std::vector<std::string> replies;
    std::size_t start = 0;
    while (start <= size && static_cast<int>(replies.size()) < MaxReplies) {
        std::size_t end = start;
        while (end < size && data[end] != '\n')
            ++end;
        const std::size_t length = std::min(end - start, MaxReplyLength);
        replies.emplace_back(reinterpret_cast<const char*>(data) + start, length);
        if (end >= size)
            break;
        start = end + 1;
    }
    return replies;
}

void queueAll(sim::SimSensor& sensor, const std::vector<std::string>& replies)
{
    for (const std::string& reply : replies)
        sensor.queueReply(reply);
}

QString asText(const std::string& reply)
{
    // As colonFields sees a reply buffer: the text up to its first zero byte.
    return QString::fromLatin1(reply.c_str());
}

void feedLiveWindows(tessaro* connection, const std::vector<std::string>& replies)
{
    view_tessarolive live;
    view_tessarocalibrate calibrate(connection);
    view_tessarocenter center(connection);
    calibrate.setFinishCloseMs(0);
    int n = 0;
    for (const std::string& reply : replies) {
        const QString text = asText(reply);
        live.updatePoints(text);
        live.updateCalibration(text);
        calibrate.LivePoint(text);
        center.pointData(text);
        const int a = reply.empty() ? 0 : static_cast<signed char>(reply[0]);
        const int b = reply.size() < 2 ? n : static_cast<signed char>(reply[1]);
        calibrate.CalibrationState(a, b);
        QList<int> x;
        QList<int> y;
        for (int i = 0; i < 4; ++i) {
            const std::size_t k = static_cast<std::size_t>(i) * 4;
            int vx = 0;
            int vy = 0;
            if (reply.size() > k + 1)
                vx = static_cast<int>(static_cast<unsigned char>(reply[k]) << 8 | static_cast<unsigned char>(reply[k + 1])) - 0x4000;
            if (reply.size() > k + 3)
                vy = static_cast<int>(static_cast<unsigned char>(reply[k + 2]) << 8 | static_cast<unsigned char>(reply[k + 3])) - 0x4000;
            x << vx;
            y << vy;
        }
        live.updateCalPoints(x, y);
        ++n;
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzzsupport::init();
    fuzzsupport::writeCatalogue(QJsonArray{fuzzsupport::sensorEntry(QStringLiteral("tessaro.json"))});
    fuzzsupport::writeFile(QStringLiteral("sensors/tessaro.json"), fuzzsupport::smallParameterFile());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::vector<std::string> replies = splitReplies(data, size);

    // The version check of the search answered by the input.
    sim::SimBus::instance().reset();
    {
        auto sensor = fuzzsupport::plugSensor();
        queueAll(*sensor, replies);
        auto connection = fuzzsupport::newConnection();
        connection->hotplugWorker();
        fuzzsupport::closeConnection(connection);
    }

    // A connection made with the model's own replies, then the view answered by the input.
    sim::SimBus::instance().reset();
    auto sensor = fuzzsupport::plugSensor();
    auto connection = fuzzsupport::newConnection();
    connection->hotplugWorker();
    if (connection->isConnected) {
        queueAll(*sensor, replies);
        auto* view = new view_tessaro(nullptr, connection.get());
        view->pollTimer->stop();
        view->reloadUi();
        queueAll(*sensor, replies);
        for (int i = 0; i < PollTicks && connection->isConnected; ++i)
            view->dataPollWorker();
        queueAll(*sensor, replies);
        view->updateEasy();
        delete view;
        fuzzsupport::flushDeletes();

        queueAll(*sensor, replies);
        feedLiveWindows(connection.get(), replies);
        fuzzsupport::flushDeletes();
    }
    fuzzsupport::closeConnection(connection);
    sim::SimBus::instance().reset();
    return 0;
}
