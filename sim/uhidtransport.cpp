#include "uhidtransport.h"

#include "simbus.h"

#include <linux/uhid.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace sim {

namespace {

constexpr char UhidPath[] = "/dev/uhid";
// Unrelated devices: another vendor, so that no catalogue entry matches them.
constexpr std::uint16_t UnrelatedVendorId = 0x16c0;
constexpr std::uint16_t UnrelatedFirstProductId = 0x0480;
// How long a reader waits for the model before looking at its stop flag again.
constexpr int ReaderPollMs = 100;

std::string systemError(const char* what)
{
    return std::string(what) + ": " + std::strerror(errno);
}

bool writeEvent(int fd, const uhid_event& event)
{
    const ssize_t n = ::write(fd, &event, sizeof event);
    return n == static_cast<ssize_t>(sizeof event);
}

void copyText(std::uint8_t* target, std::size_t size, const std::string& text)
{
    std::memcpy(target, text.data(), std::min(text.size(), size - 1));
}

std::string narrow(const std::wstring& text)
{
    std::string out;
    for (const wchar_t c : text)
        out += c > 0 && c < 0x80 ? static_cast<char>(c) : '?';
    return out;
}

int openUhid(std::string* error)
{
    const int fd = ::open(UhidPath, O_RDWR | O_CLOEXEC);
    if (fd < 0 && error)
        *error = systemError(UhidPath);
    return fd;
}

// Takes the kernel's events that a device left behind (its stop and close, queued while
// it was destroyed), so that the next device on the descriptor does not get them.
void drainEvents(int fd)
{
    pollfd waiting{fd, POLLIN, 0};
    uhid_event event;
    while (::poll(&waiting, 1, 0) > 0 && (waiting.revents & POLLIN) && ::read(fd, &event, sizeof event) > 0) {
    }
}

// Creates one device on an open /dev/uhid descriptor; false on failure.
bool createKernelDevice(int fd, const std::string& name, const std::string& serial, std::uint16_t vendor,
                        std::uint16_t product, std::string* error)
{
    uhid_event event;
    std::memset(&event, 0, sizeof event);
    event.type = UHID_CREATE2;
    copyText(event.u.create2.name, sizeof event.u.create2.name, name);
    copyText(event.u.create2.phys, sizeof event.u.create2.phys, "tessaro-uhid");
    copyText(event.u.create2.uniq, sizeof event.u.create2.uniq, serial);
    const std::vector<std::uint8_t> descriptor = UhidTransport::reportDescriptor();
    event.u.create2.rd_size = static_cast<std::uint16_t>(descriptor.size());
    std::memcpy(event.u.create2.rd_data, descriptor.data(), descriptor.size());
    event.u.create2.bus = 0x03;  // BUS_USB
    event.u.create2.vendor = vendor;
    event.u.create2.product = product;
    event.u.create2.version = 0x0100;
    if (!writeEvent(fd, event)) {
        if (error)
            *error = systemError("UHID_CREATE2");
        return false;
    }
    return true;
}

void destroyKernelDevice(int fd)
{
    uhid_event event;
    std::memset(&event, 0, sizeof event);
    event.type = UHID_DESTROY;
    writeEvent(fd, event);
}

// Get/set report requests are not part of the protocol: refuse them at once, or the kernel
// waits for an answer.
void refuseRequest(int fd, const uhid_event& request)
{
    uhid_event reply;
    std::memset(&reply, 0, sizeof reply);
    if (request.type == UHID_GET_REPORT) {
        reply.type = UHID_GET_REPORT_REPLY;
        reply.u.get_report_reply.id = request.u.get_report.id;
        reply.u.get_report_reply.err = EIO;
    } else {
        reply.type = UHID_SET_REPORT_REPLY;
        reply.u.set_report_reply.id = request.u.set_report.id;
        reply.u.set_report_reply.err = EIO;
    }
    writeEvent(fd, reply);
}

} // namespace

struct UhidTransport::Node {
    std::shared_ptr<SimDevice> device;
    unsigned generation = 0;
    unsigned inputReader = 0;  // the kernel device is the model's one reader; hidraw copies on
    int fd = -1;
    std::thread reader;
    std::atomic<bool> stop{false};
};

UhidTransport::UhidTransport() = default;

UhidTransport::~UhidTransport()
{
    stop();
    for (const int fd : m_spare)
        ::close(fd);
}

std::vector<std::uint8_t> UhidTransport::reportDescriptor()
{
    return {
        0x06, 0x00, 0xff,  // Usage Page (vendor defined 0xFF00)
        0x09, 0x01,        // Usage (1)
        0xa1, 0x01,        // Collection (Application)
        0x15, 0x00,        //   Logical Minimum (0)
        0x26, 0xff, 0x00,  //   Logical Maximum (255)
        0x75, 0x08,        //   Report Size (8)
        0x95, 0x40,        //   Report Count (64)
        0x09, 0x01,        //   Usage (1)
        0x81, 0x02,        //   Input (Data, Variable, Absolute)
        0x95, 0x40,        //   Report Count (64)
        0x09, 0x01,        //   Usage (1)
        0x91, 0x02,        //   Output (Data, Variable, Absolute)
        0xc0,              // End Collection
    };
}

void UhidTransport::setDeviceSetup(std::function<void(SimDevice&)> setup)
{
    m_setup = std::move(setup);
}

void UhidTransport::setOutputObserver(std::function<void(const Output&)> observer)
{
    m_observer = std::move(observer);
}

void UhidTransport::setOpenObserver(std::function<void(SimDevice&, bool)> observer)
{
    m_openObserver = std::move(observer);
}

void UhidTransport::setRecordOutputs(bool on)
{
    m_record = on;
}

bool UhidTransport::start(std::string* error)
{
    if (m_events.joinable())
        return true;
    // Fail early and clearly when the kernel has no uhid.
    const int probe = ::open(UhidPath, O_RDWR | O_CLOEXEC);
    if (probe < 0) {
        if (error)
            *error = systemError(UhidPath);
        return false;
    }
    ::close(probe);
    m_wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (m_wakeFd < 0) {
        if (error)
            *error = systemError("eventfd");
        return false;
    }
    m_stopping = false;
    SimBus::instance().setChangeListener([this] { wake(); });
    m_events = std::thread(&UhidTransport::run, this);
    return true;
}

void UhidTransport::stop()
{
    if (!m_events.joinable())
        return;
    SimBus::instance().setChangeListener({});
    m_stopping = true;
    wake();
    m_events.join();
    std::lock_guard<std::mutex> guard(m_mutex);
    for (const auto& node : m_nodes)
        destroyNode(*node);
    m_nodes.clear();
    for (const int fd : m_unrelated)
        destroyDevice(fd);
    m_unrelated.clear();
    ::close(m_wakeFd);
    m_wakeFd = -1;
    std::lock_guard<std::mutex> spareGuard(m_spareMutex);
    for (const int fd : m_spare)
        ::close(fd);
    m_spare.clear();
}

bool UhidTransport::reserveDescriptors(int count, std::string* error)
{
    std::lock_guard<std::mutex> guard(m_spareMutex);
    for (int i = 0; i < count; ++i) {
        const int fd = openUhid(error);
        if (fd < 0)
            return false;
        m_spare.push_back(fd);
    }
    return true;
}

int UhidTransport::takeDescriptor(std::string* error)
{
    {
        std::lock_guard<std::mutex> guard(m_spareMutex);
        if (!m_spare.empty()) {
            const int fd = m_spare.back();
            m_spare.pop_back();
            return fd;
        }
    }
    return openUhid(error);
}

int UhidTransport::createDevice(const std::string& name, const std::string& serial, std::uint16_t vendor,
                                std::uint16_t product, std::string* error)
{
    // A reused descriptor that refuses a second device is closed, and the next one tried.
    for (int attempt = 0; attempt < 2; ++attempt) {
        const int fd = takeDescriptor(error);
        if (fd < 0)
            return -1;
        if (createKernelDevice(fd, name, serial, vendor, product, error))
            return fd;
        ::close(fd);
    }
    return -1;
}

void UhidTransport::destroyDevice(int fd)
{
    destroyKernelDevice(fd);
    drainEvents(fd);
    std::lock_guard<std::mutex> guard(m_spareMutex);
    m_spare.push_back(fd);
}

bool UhidTransport::addUnrelatedDevices(int count, std::string* error)
{
    std::vector<int> created;
    for (int i = 0; i < count; ++i) {
        const auto product = static_cast<std::uint16_t>(UnrelatedFirstProductId + i);
        const int fd = createDevice("Unrelated HID " + std::to_string(i + 1), "U" + std::to_string(i + 1),
                                    UnrelatedVendorId, product, error);
        if (fd < 0) {
            for (const int done : created)
                destroyDevice(done);
            return false;
        }
        created.push_back(fd);
    }
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_unrelated.insert(m_unrelated.end(), created.begin(), created.end());
    }
    wake();
    return true;
}

std::vector<UhidTransport::Output> UhidTransport::outputs() const
{
    std::lock_guard<std::mutex> guard(m_mutex);
    return std::vector<Output>(m_outputs.begin(), m_outputs.end());
}

void UhidTransport::clearOutputs()
{
    std::lock_guard<std::mutex> guard(m_mutex);
    m_outputs.clear();
}

int UhidTransport::kernelDevices(std::uint16_t productId) const
{
    std::lock_guard<std::mutex> guard(m_mutex);
    return static_cast<int>(std::count_if(m_nodes.begin(), m_nodes.end(), [productId](const auto& node) {
        return node->device->info().productId == productId;
    }));
}

int UhidTransport::opens() const
{
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_opens;
}

void UhidTransport::wake()
{
    const std::uint64_t one = 1;
    if (m_wakeFd >= 0)
        (void)!::write(m_wakeFd, &one, sizeof one);
}

void UhidTransport::run()
{
    mirrorBus();
    std::vector<pollfd> fds;
    std::vector<Node*> owners;  // parallel to fds: the node, or null for wake-up and unrelated
    while (!m_stopping) {
        fds.assign(1, pollfd{m_wakeFd, POLLIN, 0});
        owners.assign(1, nullptr);
        {
            std::lock_guard<std::mutex> guard(m_mutex);
            for (const auto& node : m_nodes) {
                fds.push_back(pollfd{node->fd, POLLIN, 0});
                owners.push_back(node.get());
            }
            for (const int fd : m_unrelated) {
                fds.push_back(pollfd{fd, POLLIN, 0});
                owners.push_back(nullptr);
            }
        }
        if (::poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        for (std::size_t i = 1; i < fds.size(); ++i) {
            if (!(fds[i].revents & POLLIN))
                continue;
            if (owners[i]) {
                handleEvent(*owners[i]);
            } else {
                // Unrelated devices only need their requests answered.
                uhid_event event;
                if (::read(fds[i].fd, &event, sizeof event) > 0
                    && (event.type == UHID_GET_REPORT || event.type == UHID_SET_REPORT))
                    refuseRequest(fds[i].fd, event);
            }
        }
        if (fds[0].revents & POLLIN) {
            std::uint64_t count = 0;
            (void)!::read(m_wakeFd, &count, sizeof count);
            mirrorBus();
        }
    }
}

void UhidTransport::mirrorBus()
{
    const std::vector<std::shared_ptr<SimDevice>> onBus = SimBus::instance().devices();
    std::vector<std::unique_ptr<Node>> gone;
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        // A device that left, or left and came back (a new plug-in), loses its kernel device.
        for (auto it = m_nodes.begin(); it != m_nodes.end();) {
            Node& node = **it;
            const bool present = std::find(onBus.begin(), onBus.end(), node.device) != onBus.end()
                              && node.device->isAlive(node.generation);
            if (present) {
                ++it;
            } else {
                gone.push_back(std::move(*it));
                it = m_nodes.erase(it);
            }
        }
    }
    for (const auto& node : gone)
        destroyNode(*node);

    for (const auto& device : onBus) {
        {
            std::lock_guard<std::mutex> guard(m_mutex);
            const bool mirrored = std::any_of(m_nodes.begin(), m_nodes.end(),
                                              [&device](const auto& node) { return node->device == device; });
            if (mirrored)
                continue;
        }
        std::string error;
        std::unique_ptr<Node> node = createNode(device, &error);
        if (!node) {
            std::fprintf(stderr, "tessaro-uhid: %s\n", error.c_str());
            continue;
        }
        std::lock_guard<std::mutex> guard(m_mutex);
        m_nodes.push_back(std::move(node));
    }
}

std::unique_ptr<UhidTransport::Node> UhidTransport::createNode(const std::shared_ptr<SimDevice>& device,
                                                               std::string* error)
{
    if (m_setup)
        m_setup(*device);
    auto node = std::make_unique<Node>();
    node->device = device;
    node->inputReader = device->openReader(&node->generation);
    const DeviceInfo& info = device->info();
    node->fd = createDevice(narrow(info.product), narrow(info.serial), info.vendorId, info.productId, error);
    if (node->fd < 0) {
        device->closeReader(node->inputReader);
        return nullptr;
    }
    node->reader = std::thread(&UhidTransport::forwardInput, this, node.get());
    return node;
}

void UhidTransport::destroyNode(Node& node)
{
    node.stop = true;
    if (node.reader.joinable())
        node.reader.join();
    node.device->closeReader(node.inputReader);
    destroyDevice(node.fd);
    node.fd = -1;
}

void UhidTransport::handleEvent(Node& node)
{
    uhid_event event;
    const ssize_t n = ::read(node.fd, &event, sizeof event);
    if (n <= 0)
        return;
    switch (event.type) {
    case UHID_OPEN: {
        {
            std::lock_guard<std::mutex> guard(m_mutex);
            ++m_opens;
        }
        if (m_openObserver)
            m_openObserver(*node.device, true);
        break;
    }
    case UHID_CLOSE:
        if (m_openObserver)
            m_openObserver(*node.device, false);
        break;
    case UHID_OUTPUT: {
        Output output;
        output.at = Clock::now();
        output.productId = node.device->info().productId;
        const std::size_t size = std::min<std::size_t>(event.u.output.size, sizeof event.u.output.data);
        output.data.assign(event.u.output.data, event.u.output.data + size);
        if (m_observer)
            m_observer(output);
        if (m_record) {
            std::lock_guard<std::mutex> guard(m_mutex);
            m_outputs.push_back(output);
            if (m_outputs.size() > MaxLoggedReports)
                m_outputs.pop_front();
        }
        // The model takes the report ID first, as hid_write hands it over.
        if (event.u.output.rtype == UHID_OUTPUT_REPORT && size > 0)
            node.device->write(node.generation, output.data.data(), output.data.size());
        break;
    }
    case UHID_GET_REPORT:
    case UHID_SET_REPORT:
        refuseRequest(node.fd, event);
        break;
    default:
        break;
    }
}

void UhidTransport::forwardInput(Node* node)
{
    while (!node->stop) {
        Report report{};
        const int n = node->device->read(node->generation, node->inputReader, report.data(), report.size(), ReaderPollMs);
        if (n < 0)
            return;  // unplugged: the event thread destroys the kernel device
        if (n == 0)
            continue;
        uhid_event event;
        std::memset(&event, 0, sizeof event);
        event.type = UHID_INPUT2;
        event.u.input2.size = static_cast<std::uint16_t>(n);
        std::memcpy(event.u.input2.data, report.data(), static_cast<std::size_t>(n));
        writeEvent(node->fd, event);
    }
}

} // namespace sim
