// tessaro-uhid: a virtual Tessaro sensor on the kernel's HID stack (/dev/uhid), for trying
// the installed tool without hardware and for the VM checks of scripts/hwtest. The same
// models as the in-process simulator answer; see sim/uhidtransport.h. With --replay, a
// recorded session answers instead (sim/busreplay.h).
#include "busreplay.h"
#include "simbootloader.h"
#include "simbus.h"
#include "simsensor.h"
#include "uhidprivileges.h"
#include "uhidtransport.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <pthread.h>
#include <string>
#include <unistd.h>

namespace {

// Kernel devices made on descriptors opened while still root: the model, its bootloader
// and the model again after a flash, with room for re-plugs (a descriptor is reused).
constexpr int SpareDescriptors = 8;

const char* const Usage =
    "usage: tessaro-uhid [options]\n"
    "  --model sensor|bootloader  device to start as (default sensor)\n"
    "  --firmware TEXT            firmware version of the sensor (default \"SW 2.4\")\n"
    "  --hardware TEXT            hardware version (default \"HW 1.1\")\n"
    "  --frame-us N               USB frame time per report, microseconds (default 1000; 0: none)\n"
    "  --product-id HEX           create the device under this product ID (the model stays)\n"
    "  --app-kib N                application area of the bootloader, KiB (default 28)\n"
    "  --late-reply MS            every reply comes MS milliseconds late\n"
    "  --no-reply                 the device takes every report and never answers\n"
    "  --die-after N              the device leaves the bus at its N-th report\n"
    "  --replug-after MS          ... and comes back after MS milliseconds\n"
    "  --unrelated N              also create N HID devices of another vendor\n"
    "  --no-sensor                no Tessaro device at all (with --unrelated)\n"
    "  --verbose                  print every output report\n"
    "  --replay FILE              no model: the devices of a recorded trace (tessaroctl --record)\n"
    "                             come and go as they did, and each output report is answered\n"
    "                             with what the trace read after the same request. A report the\n"
    "                             trace does not have next ends the run at once with status 1,\n"
    "                             naming the trace line. Ctrl+C or SIGTERM ends it with status 0\n"
    "                             if every request of the trace was played, else 1.\n"
    "Runs until interrupted (Ctrl+C). Needs write access to /dev/uhid (root, or the uhid group);\n"
    "started as root, it runs as the sudo user (or nobody) once /dev/uhid is open.\n";

struct Options {
    std::string model = "sensor";
    std::string firmware = "SW 2.4";
    std::string hardware = "HW 1.1";
    long frameUs = 1000;
    long productId = -1;
    long appKib = 28;
    long lateMs = -1;
    bool noReply = false;
    long dieAfter = 0;
    long replugMs = -1;
    long unrelated = 0;
    bool noSensor = false;
    bool verbose = false;
    std::string replay;
};

bool number(const char* text, long low, long high, long* out)
{
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text, &end, 10);
    if (errno || !end || *end || end == text || value < low || value > high)
        return false;
    *out = value;
    return true;
}

bool hex(const char* text, long* out)
{
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text, &end, 16);
    if (errno || !end || *end || end == text || value < 0 || value > 0xffff)
        return false;
    *out = value;
    return true;
}

bool parse(int argc, char* argv[], Options* options)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        auto takes = [&]() { ++i; return value != nullptr; };
        bool ok = true;
        if (arg == "--model" && takes())
            options->model = value, ok = options->model == "sensor" || options->model == "bootloader";
        else if (arg == "--firmware" && takes())
            options->firmware = value;
        else if (arg == "--hardware" && takes())
            options->hardware = value;
        else if (arg == "--frame-us" && takes())
            ok = number(value, 0, 100000, &options->frameUs);
        else if (arg == "--product-id" && takes())
            ok = hex(value, &options->productId);
        else if (arg == "--app-kib" && takes())
            ok = number(value, 1, 1024, &options->appKib);
        else if (arg == "--late-reply" && takes())
            ok = number(value, 0, 60000, &options->lateMs);
        else if (arg == "--no-reply")
            options->noReply = true;
        else if (arg == "--die-after" && takes())
            ok = number(value, 1, 1000000, &options->dieAfter);
        else if (arg == "--replug-after" && takes())
            ok = number(value, 0, 600000, &options->replugMs);
        else if (arg == "--unrelated" && takes())
            ok = number(value, 0, 200, &options->unrelated);
        else if (arg == "--no-sensor")
            options->noSensor = true;
        else if (arg == "--verbose")
            options->verbose = true;
        else if (arg == "--replay" && takes())
            options->replay = value, ok = !options->replay.empty();
        else
            ok = false;
        if (!ok)
            return false;
    }
    return true;
}

// 512-byte pages and a 4 KiB bootloader above an application area of appKib.
sim::FlashGeometry geometry(long appKib)
{
    sim::FlashGeometry g;
    g.pageSize = 512;
    g.bootloaderSize = 4096;
    g.flashSize = static_cast<std::uint32_t>(appKib) * 1024 + g.bootloaderSize;
    g.pageCount = g.flashSize / g.pageSize;
    return g;
}

std::string printable(const std::vector<std::uint8_t>& data)
{
    // A bootloader request: its command and address bytes, in hexadecimal.
    if (data.size() > 4 && data[1] > 0 && data[1] < 0x20) {
        char bytes[32];
        std::snprintf(bytes, sizeof bytes, "[%02x %02x %02x %02x]", data[1], data[2], data[3], data[4]);
        return bytes;
    }
    std::string text;
    for (std::size_t i = 1; i < data.size() && data[i]; ++i)
        text += data[i] >= 0x20 && data[i] < 0x7f ? static_cast<char>(data[i]) : '.';
    return text;
}

// Waits until the program leaves the trace (the replay has said where) or a signal ends
// the run; the exit status says whether every request of the trace was played.
int play(const sim::BusReplay& replay, const sigset_t& stopSignals)
{
    constexpr timespec Poll{0, 20 * 1000 * 1000};
    siginfo_t info;
    while (replay.state().divergence.isEmpty()) {
        timespec wait = Poll;
        if (sigtimedwait(&stopSignals, &info, &wait) > 0)
            break;
    }
    const sim::BusReplay::State state = replay.state();
    if (state.finished) {
        std::fputs("tessaro-uhid: every request of the trace was played\n", stderr);
        return 0;
    }
    if (!state.unplayed.isEmpty())
        std::fprintf(stderr, "%s\n", state.unplayed.toLocal8Bit().constData());
    return 1;
}

} // namespace

int main(int argc, char* argv[])
{
    Options options;
    if (!parse(argc, argv, &options)) {
        std::fputs(Usage, stderr);
        return 2;
    }
    // Signals are taken by sigwait below, not by whichever thread happens to run.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    const sim::FlashGeometry flash = geometry(options.appKib);
    const auto frame = std::chrono::microseconds(options.frameUs);
    sim::UhidTransport transport;
    transport.setDeviceSetup([&options, flash, frame](sim::SimDevice& device) {
        device.setLatency(frame);
        if (auto* sensor = dynamic_cast<sim::SimSensor*>(&device)) {
            sensor->setReenumerates(true);
            sensor->setBootloaderGeometry(flash);
        }
        if (options.lateMs >= 0) {
            device.setLateReplyDelay(std::chrono::milliseconds(options.lateMs));
            device.setPersistentFault(sim::Fault::LateReply);
        }
        if (options.noReply)
            device.setPersistentFault(sim::Fault::NoReply);
    });
    if (options.verbose) {
        transport.setOutputObserver([](const sim::UhidTransport::Output& output) {
            std::fprintf(stderr, "output %04x size %zu: %s\n", output.productId, output.data.size(),
                         printable(output.data).c_str());
        });
    }

    std::shared_ptr<sim::SimDevice> device;
    std::shared_ptr<sim::BusReplay> replay;
    if (!options.replay.empty()) {
        // Read before root is given up, as the devices must exist when the transport starts.
        // Whoever may start this as root may read any file; a refusal names the line and at
        // most the event name it holds.
        QString error;
        replay = sim::BusReplay::start(QString::fromLocal8Bit(options.replay.c_str()), &error);
        if (!replay) {
            std::fprintf(stderr, "tessaro-uhid: %s\n", error.toLocal8Bit().constData());
            return 1;
        }
        transport.setOpenObserver([replay](sim::SimDevice& opened, bool open) { replay->hostOpened(opened, open); });
    } else if (!options.noSensor) {
        if (options.model == "bootloader") {
            sim::DeviceInfo info = sim::SimBootloader::defaultInfo();
            if (options.productId >= 0)
                info.productId = static_cast<std::uint16_t>(options.productId);
            auto loader = std::make_shared<sim::SimBootloader>(flash, info);
            loader->loadApplication(sim::makeFirmwareImage(flash.applicationSize(), options.firmware));
            loader->setHardwareVersion(options.hardware);
            device = loader;
        } else {
            sim::DeviceInfo info = sim::SimSensor::defaultInfo();
            if (options.productId >= 0)
                info.productId = static_cast<std::uint16_t>(options.productId);
            auto sensor = std::make_shared<sim::SimSensor>(info);
            sensor->setVersionReply("app:version:" + options.hardware + ':' + options.firmware + ":2026:11:20;");
            device = sensor;
        }
        if (options.dieAfter > 0)
            device->injectFault(static_cast<int>(options.dieAfter), sim::Fault::Unplug);
        sim::SimBus::instance().plug(device);
    }

    std::string error;
    if (!transport.reserveDescriptors(SpareDescriptors, &error) || !transport.start(&error)
        || !transport.addUnrelatedDevices(static_cast<int>(options.unrelated), &error)) {
        std::fprintf(stderr, "tessaro-uhid: %s\n", error.c_str());
        return 1;
    }
    // Root was needed for /dev/uhid alone: the models run without it, or not at all.
    if (::geteuid() == 0) {
        sim::UhidPrivileges::Identity identity;
        if (!sim::UhidPrivileges::unprivilegedIdentity(&identity, &error)
            || !sim::UhidPrivileges::drop(identity, &error)) {
            std::fprintf(stderr, "tessaro-uhid: cannot give up root: %s\n", error.c_str());
            transport.stop();
            return 1;
        }
        std::fprintf(stderr, "tessaro-uhid: running as user %u, group %u\n", static_cast<unsigned>(identity.uid),
                     static_cast<unsigned>(identity.gid));
    }
    std::fprintf(stderr, "tessaro-uhid: %s%s, %ld unrelated device(s); Ctrl+C ends\n",
                 replay ? "replaying " : options.noSensor ? "no sensor" : options.model.c_str(),
                 replay ? options.replay.c_str() : options.noSensor ? "" : (" " + options.firmware).c_str(),
                 options.unrelated);
    if (replay) {
        const int status = play(*replay, stopSignals);
        transport.stop();
        replay->stop();
        sim::SimBus::instance().reset();
        return status;
    }

    int signal = 0;
    if (options.dieAfter > 0 && options.replugMs >= 0 && device) {
        // Wait for the device to leave, then plug it in again after the pause.
        while (device->plugged()) {
            timespec wait{0, 20 * 1000 * 1000};
            siginfo_t info;
            if (sigtimedwait(&stopSignals, &info, &wait) > 0) {
                transport.stop();
                return 0;
            }
        }
        sim::SimBus::instance().schedule(std::chrono::milliseconds(options.replugMs),
                                         [device] { sim::SimBus::instance().plug(device); });
    }
    sigwait(&stopSignals, &signal);
    transport.stop();
    sim::SimBus::instance().reset();
    return 0;
}
