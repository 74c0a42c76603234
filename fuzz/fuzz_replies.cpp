// The fuzzer input as sensor replies. Its first byte chooses how reads are answered: with
// bit 0 clear, a reply to a read or the version request comes after the command's own
// fields (as the sensor answers those), so the parsers see it; with it set, every reply is
// sent as it is, so the channel's reply matcher passes over whatever is not the command's.
// The rest is split at '\n' into at most 16 replies of at most 64 bytes. Each reply is
// also read as big-endian 32-bit numbers, so that every int reaches the code, and those
// numbers are sent once more as a reply of colon fields. The replies answer, one each and
// in order, whatever the program asks: the version check of a hot-plug search (on a
// second sensor); then, on the first, the sensor view's identity read, easy refresh and
// one poll tick (every eleventh also reads the corners) and one parameter editor of each
// kind. The live, calibration and centering windows get the texts and numbers directly.
// Connections and windows are made once and reused, so an input costs neither a widget
// tree nor a connection to the view's sensor.
#include "fuzzcommon.h"

#include "live/view_tessarocalibrate.h"
#include "live/view_tessarocenter.h"
#include "live/view_tessarolive.h"
#include "sensor/view_tessaro.h"
#include "sensor/view_tessaroparameter_bool.h"
#include "sensor/view_tessaroparameter_enum.h"
#include "sensor/view_tessaroparameter_int.h"

#include <QList>
#include <QTimer>

#include <cstring>

namespace {

constexpr int MaxReplies = 16;
constexpr std::size_t MaxReplyLength = 64;
constexpr std::size_t NumbersPerReply = MaxReplyLength / 4;
// The sensor whose version check the input answers.
constexpr std::uint16_t CheckedProductId = 0x0011;
// A reply passed over is followed by a wait for the real one, which never comes here: the
// target checks what is made of replies, not how long the channel waits.
constexpr int ReplyWaitMs = 1;

// A small model: the easy refresh reads it again for every input.
const char* const Model = R"({
  "parameters_system": [{"name": "Detection", "parameters": [
    {"name": "Spot", "type": "int", "module": "sens", "regname": "minspot", "min": "1", "max": "32"},
    {"name": "Filter", "type": "enum", "module": "sens", "regname": "filter",
     "values": [{"value": "0", "comment": "Off"}, {"value": "1", "comment": "Light"}]},
    {"name": "Mirror", "type": "bool", "module": "sens", "regname": "mirror"}]}],
  "setting_easy_sensor_man": "thrman", "setting_easy_sensor_auto": "thrauto",
  "parameters_easy_man": ["30", "70", "130"], "parameters_easy_auto": ["0", "20", "40"]
})";

struct Reply {
    std::string text;
    int numbers[NumbersPerReply] = {};
    std::string numberText; // "n:<0>:<1>:<2>:<3>:<4>:", the first numbers as fields
};

std::vector<Reply> splitReplies(const std::uint8_t* data, std::size_t size)
{
    std::vector<Reply> replies;
    std::size_t start = 0;
    while (start <= size && static_cast<int>(replies.size()) < MaxReplies) {
        std::size_t end = start;
        while (end < size && data[end] != '\n')
            ++end;
        Reply reply;
        reply.text.assign(reinterpret_cast<const char*>(data) + start, std::min(end - start, MaxReplyLength));
        unsigned char padded[MaxReplyLength] = {};
        std::memcpy(padded, reply.text.data(), reply.text.size());
        for (std::size_t i = 0; i < NumbersPerReply; ++i) {
            const std::uint32_t word = std::uint32_t{padded[4 * i]} << 24 | std::uint32_t{padded[4 * i + 1]} << 16
                                       | std::uint32_t{padded[4 * i + 2]} << 8 | std::uint32_t{padded[4 * i + 3]};
            std::memcpy(&reply.numbers[i], &word, sizeof word);
        }
        reply.numberText = "n:";
        for (std::size_t i = 0; i < 5; ++i)
            reply.numberText += std::to_string(reply.numbers[i]) + ':';
        replies.push_back(reply);
        if (end >= size)
            break;
        start = end + 1;
    }
    return replies;
}

// Objects made once for the whole run.
struct Rig {
    std::shared_ptr<sim::SimSensor> sensor;
    std::unique_ptr<tessaro> connection;
    std::shared_ptr<sim::SimSensor> checkedSensor;
    std::unique_ptr<tessaro> checkedConnection;
    view_tessaro* view = nullptr;
    view_tessarolive* live = nullptr;
    view_tessarocalibrate* calibrate = nullptr;
    view_tessarocenter* center = nullptr;
    view_tessaroParameter_int* intEditor = nullptr;
    view_tessaroParameter_enum* enumEditor = nullptr;
    view_tessaroParameter_bool* boolEditor = nullptr;
};
Rig* rig = nullptr;

// The next commands get the input's replies, texts first, then their numbers.
void answerWith(sim::SimSensor& sensor, const std::vector<Reply>& replies, bool rawFields)
{
    sensor.clearQueuedReplies();
    sensor.setQueuedRepliesEcho(!rawFields);
    for (const Reply& reply : replies)
        sensor.queueReply(reply.text);
    for (const Reply& reply : replies)
        sensor.queueReply(reply.numberText);
}

// A search whose version check the input answers.
void searchWithTheInput(const std::vector<Reply>& replies, bool rawFields)
{
    rig->checkedConnection->disconnectDevice();
    answerWith(*rig->checkedSensor, replies, rawFields);
    rig->checkedConnection->hotplugWorker();
    rig->checkedSensor->clearQueuedReplies();
}

QString asText(const std::string& reply)
{
    // As colonFields sees a reply buffer: the text up to its first zero byte.
    return QString::fromLatin1(reply.c_str());
}

void feedLiveWindows(const std::vector<Reply>& replies)
{
    for (const Reply& reply : replies) {
        for (const QString& text : {asText(reply.text), asText(reply.numberText)}) {
            rig->live->updatePoints(text);
            rig->live->updateCalibration(text);
            rig->calibrate->LivePoint(text);
            rig->center->pointData(text);
        }
        const int* n = reply.numbers;
        rig->calibrate->CalibrationState(n[8], n[9]);
        rig->live->updateCalPoints({n[0], n[1], n[2], n[3]}, {n[4], n[5], n[6], n[7]});
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzzsupport::init();
    fuzzsupport::writeFile(QStringLiteral("sensors/tessaro.json"), QByteArray(Model));

    // The view's sensor is connected once, without a version check ...
    rig = new Rig;
    QJsonObject viewEntry = fuzzsupport::entry(QStringLiteral("tessaro"), sim::SensorProductId);
    viewEntry.insert(QStringLiteral("default"), true);
    viewEntry.insert(QStringLiteral("configfile"), QStringLiteral("tessaro.json"));
    fuzzsupport::writeCatalogue(QJsonArray{viewEntry});
    rig->sensor = fuzzsupport::plugSensor();
    rig->connection = fuzzsupport::newConnection();
    rig->connection->setCommandTimeoutMs(ReplyWaitMs);
    rig->connection->hotplugWorker();

    // ... and from then on the searches only see the second sensor, which is checked.
    QJsonObject checkedEntry = fuzzsupport::sensorEntry(QStringLiteral("tessaro.json"));
    checkedEntry.insert(QStringLiteral("productId"), QString::asprintf("%04x", CheckedProductId));
    fuzzsupport::writeCatalogue(QJsonArray{checkedEntry});
    sim::DeviceInfo info = sim::SimSensor::defaultInfo();
    info.productId = CheckedProductId;
    info.path = "sim/checked";
    rig->checkedSensor = std::make_shared<sim::SimSensor>(info);
    rig->checkedSensor->setLiveMotion(false);
    sim::SimBus::instance().plug(rig->checkedSensor);
    rig->checkedConnection = fuzzsupport::newConnection();
    rig->checkedConnection->setCommandTimeoutMs(ReplyWaitMs);
    // Every input's version reply is checked, not only one every back-off period.
    rig->checkedConnection->setVersionRetryMs(0);

    rig->view = new view_tessaro(nullptr, rig->connection.get());
    rig->view->pollTimer->stop();
    rig->view->reloadUi();
    rig->intEditor = rig->view->findChild<view_tessaroParameter_int*>();
    rig->enumEditor = rig->view->findChild<view_tessaroParameter_enum*>();
    rig->boolEditor = rig->view->findChild<view_tessaroParameter_bool*>();
    rig->live = new view_tessarolive;
    rig->calibrate = new view_tessarocalibrate(rig->connection.get());
    rig->calibrate->setFinishCloseMs(0);
    rig->center = new view_tessarocenter(rig->connection.get());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::size_t choice = size > 0 ? 1 : 0;
    const bool rawFields = choice > 0 && (data[0] & 1) != 0;
    const std::vector<Reply> replies = splitReplies(data + choice, size - choice);

    searchWithTheInput(replies, rawFields);
    if (rig->connection->isConnected) {
        answerWith(*rig->sensor, replies, rawFields);
        rig->view->readIdentity();
        rig->view->updateEasy();
        rig->view->dataPollWorker();
        if (rig->intEditor && rig->enumEditor && rig->boolEditor) {
            rig->intEditor->connected();
            rig->enumEditor->connected();
            rig->boolEditor->connected();
        }
        rig->sensor->clearQueuedReplies();
    }
    feedLiveWindows(replies);
    fuzzsupport::flushDeletes();
    // The simulated sensors log every report: not kept from one input to the next.
    rig->sensor->clearLog();
    rig->checkedSensor->clearLog();
    return 0;
}
