// The hidapi C API over the simulated bus. Only the link differs from the real library:
// the program's code is the same.
#include <hidapi/hidapi.h>

#include "simbus.h"
#include "simdevice.h"
#include "simreplay.h"

#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <memory>
#include <vector>

struct hid_device_ {
    std::shared_ptr<sim::SimDevice> device;
    unsigned generation = 0;
    unsigned reader = 0;
    bool nonBlocking = false;
    int replayHandle = 0;  // a handle of a replayed trace (no device then)
};

namespace {

char* duplicate(const std::string& text)
{
    char* copy = static_cast<char*>(std::malloc(text.size() + 1));
    std::memcpy(copy, text.c_str(), text.size() + 1);
    return copy;
}

wchar_t* duplicate(const std::wstring& text)
{
    auto* copy = static_cast<wchar_t*>(std::malloc((text.size() + 1) * sizeof(wchar_t)));
    std::wmemcpy(copy, text.c_str(), text.size() + 1);
    return copy;
}

int copyString(const std::wstring& text, wchar_t* string, size_t maxlen)
{
    if (!string || maxlen == 0)
        return -1;
    std::wcsncpy(string, text.c_str(), maxlen);
    string[maxlen - 1] = L'\0';
    return 0;
}

hid_device_info* makeInfo(const sim::DeviceInfo& info)
{
    auto* entry = static_cast<hid_device_info*>(std::calloc(1, sizeof(hid_device_info)));
    entry->path = duplicate(info.path);
    entry->vendor_id = info.vendorId;
    entry->product_id = info.productId;
    entry->serial_number = duplicate(info.serial);
    entry->release_number = 0x0100;
    entry->manufacturer_string = duplicate(info.manufacturer);
    entry->product_string = duplicate(info.product);
    entry->usage_page = 0xff00;
    entry->usage = 0x01;
    entry->interface_number = info.interfaceNumber;
    entry->bus_type = HID_API_BUS_USB;
    return entry;
}

hid_device* openDevice(const std::shared_ptr<sim::SimDevice>& device)
{
    if (!device || !device->openable())
        return nullptr;
    unsigned generation = 0;
    const unsigned reader = device->openReader(&generation);
    if (reader == 0)
        return nullptr;
    auto* handle = new hid_device_;
    handle->device = device;
    // Bound to the current plug-in: a handle never outlives an unplug.
    handle->generation = generation;
    handle->reader = reader;
    return handle;
}

const wchar_t* const SimError = L"simulated HID error";

} // namespace

extern "C" {

int HID_API_EXPORT HID_API_CALL hid_init(void) { return 0; }
int HID_API_EXPORT HID_API_CALL hid_exit(void) { return 0; }

struct hid_device_info HID_API_EXPORT* HID_API_CALL hid_enumerate(unsigned short vendor_id, unsigned short product_id)
{
    sim::SimBus::instance().countEnumeration();
    std::vector<sim::DeviceInfo> present;
    if (const auto replay = sim::SimReplay::active()) {
        present = replay->enumerate();
    } else {
        for (const auto& device : sim::SimBus::instance().devices())
            present.push_back(device->info());
    }
    hid_device_info* head = nullptr;
    hid_device_info** tail = &head;
    for (const sim::DeviceInfo& info : present) {
        if ((vendor_id && info.vendorId != vendor_id) || (product_id && info.productId != product_id))
            continue;
        *tail = makeInfo(info);
        tail = &(*tail)->next;
    }
    return head;
}

void HID_API_EXPORT HID_API_CALL hid_free_enumeration(struct hid_device_info* devs)
{
    while (devs) {
        hid_device_info* next = devs->next;
        std::free(devs->path);
        std::free(devs->serial_number);
        std::free(devs->manufacturer_string);
        std::free(devs->product_string);
        std::free(devs);
        devs = next;
    }
}

HID_API_EXPORT hid_device* HID_API_CALL hid_open(unsigned short vendor_id, unsigned short product_id, const wchar_t* serial_number)
{
    if (sim::SimReplay::active())
        return nullptr;
    for (const auto& device : sim::SimBus::instance().devices()) {
        const sim::DeviceInfo& info = device->info();
        if (info.vendorId == vendor_id && info.productId == product_id
            && (!serial_number || info.serial == serial_number))
            return openDevice(device);
    }
    return nullptr;
}

HID_API_EXPORT hid_device* HID_API_CALL hid_open_path(const char* path)
{
    if (!path)
        return nullptr;
    if (const auto replay = sim::SimReplay::active()) {
        const int recorded = replay->open(path);
        if (recorded == 0)
            return nullptr;
        auto* handle = new hid_device_;
        handle->replayHandle = recorded;
        return handle;
    }
    return openDevice(sim::SimBus::instance().findByPath(path));
}

int HID_API_EXPORT HID_API_CALL hid_write(hid_device* dev, const unsigned char* data, size_t length)
{
    if (!dev)
        return -1;
    if (dev->replayHandle) {
        const auto replay = sim::SimReplay::active();
        return replay ? replay->write(dev->replayHandle, data, length) : -1;
    }
    return dev->device->write(dev->generation, data, length);
}

int HID_API_EXPORT HID_API_CALL hid_read_timeout(hid_device* dev, unsigned char* data, size_t length, int milliseconds)
{
    if (!dev)
        return -1;
    if (dev->replayHandle) {
        const auto replay = sim::SimReplay::active();
        return replay ? replay->read(dev->replayHandle, data, length, milliseconds) : -1;
    }
    return dev->device->read(dev->generation, dev->reader, data, length, milliseconds);
}

int HID_API_EXPORT HID_API_CALL hid_read(hid_device* dev, unsigned char* data, size_t length)
{
    if (!dev)
        return -1;
    return hid_read_timeout(dev, data, length, dev->nonBlocking ? 0 : -1);
}

int HID_API_EXPORT HID_API_CALL hid_set_nonblocking(hid_device* dev, int nonblock)
{
    if (!dev)
        return -1;
    dev->nonBlocking = nonblock != 0;
    return 0;
}

int HID_API_EXPORT HID_API_CALL hid_send_feature_report(hid_device*, const unsigned char*, size_t) { return -1; }
int HID_API_EXPORT HID_API_CALL hid_get_feature_report(hid_device*, unsigned char*, size_t) { return -1; }
int HID_API_EXPORT HID_API_CALL hid_get_input_report(hid_device*, unsigned char*, size_t) { return -1; }

void HID_API_EXPORT HID_API_CALL hid_close(hid_device* dev)
{
    if (dev && dev->replayHandle) {
        if (const auto replay = sim::SimReplay::active())
            replay->close(dev->replayHandle);
    } else if (dev) {
        dev->device->closeReader(dev->reader);
    }
    delete dev;
}

int HID_API_EXPORT_CALL hid_get_manufacturer_string(hid_device* dev, wchar_t* string, size_t maxlen)
{
    return dev && dev->device ? copyString(dev->device->info().manufacturer, string, maxlen) : -1;
}

int HID_API_EXPORT_CALL hid_get_product_string(hid_device* dev, wchar_t* string, size_t maxlen)
{
    return dev && dev->device ? copyString(dev->device->info().product, string, maxlen) : -1;
}

int HID_API_EXPORT_CALL hid_get_serial_number_string(hid_device* dev, wchar_t* string, size_t maxlen)
{
    return dev && dev->device ? copyString(dev->device->info().serial, string, maxlen) : -1;
}

struct hid_device_info HID_API_EXPORT* HID_API_CALL hid_get_device_info(hid_device*) { return nullptr; }

int HID_API_EXPORT_CALL hid_get_indexed_string(hid_device*, int, wchar_t*, size_t) { return -1; }

HID_API_EXPORT const wchar_t* HID_API_CALL hid_error(hid_device*) { return SimError; }

HID_API_EXPORT const struct hid_api_version* HID_API_CALL hid_version(void)
{
    static const hid_api_version version{HID_API_VERSION_MAJOR, HID_API_VERSION_MINOR, HID_API_VERSION_PATCH};
    return &version;
}

HID_API_EXPORT const char* HID_API_CALL hid_version_str(void) { return HID_API_VERSION_STR; }

} // extern "C"
