// Two faults of hidapi's hidraw backend (0.13) that a device leaving the bus at the wrong
// moment turns into a crash. A sensor restarting into its bootloader while a program scans
// the bus is such a moment, and a second program beside it doubles the scans.
// - hid_enumerate takes the length of the HID parent's "uevent" text without looking: a
//   device removed between the listing and that read gives strlen(NULL).
// - hid_open_path, when the device goes between open() and its descriptor-size ioctl,
//   closes the new handle and then writes its error text into the freed handle.
// Only the programs that link the real library link this. Being in the program, these
// definitions come first in the symbol lookup, so the library's own calls reach them too;
// each passes on to the function it stands before.
#include <dlfcn.h>

#include <cstdlib>
#include <cstring>
#include <utility>

#include <hidapi/hidapi.h>

struct udev_device;

namespace {

using SysattrValue = const char* (*)(udev_device*, const char*);
using OpenPath = hid_device* (*)(const char*);
using Close = void (*)(hid_device*);

template <typename Function>
Function following(const char* name)
{
    void* symbol = dlsym(RTLD_NEXT, name);
    // Linked with the library, so it is there; without it no device could be reached.
    if (!symbol)
        std::abort();
    Function found = nullptr;
    static_assert(sizeof symbol == sizeof found, "function and object pointers differ");
    std::memcpy(&found, &symbol, sizeof found);
    return found;
}

Close libraryClose()
{
    static const Close close = following<Close>("hid_close");
    return close;
}

// hid_open_path's own close of the handle it is making waits until it has returned.
thread_local bool opening = false;
thread_local hid_device* closedWhileOpening = nullptr;

} // namespace

extern "C" {

__attribute__((visibility("default"))) const char* udev_device_get_sysattr_value(udev_device* device,
                                                                                 const char* name)
{
    static const SysattrValue next = following<SysattrValue>("udev_device_get_sysattr_value");
    const char* value = next(device, name);
    // An empty record has no IDs: hidapi passes over the device that has gone.
    if (!value && name && std::strcmp(name, "uevent") == 0)
        return "";
    return value;
}

hid_device* HID_API_EXPORT HID_API_CALL hid_open_path(const char* path)
{
    static const OpenPath next = following<OpenPath>("hid_open_path");
    opening = true;
    hid_device* handle = next(path);
    opening = false;
    if (hid_device* closed = std::exchange(closedWhileOpening, nullptr))
        libraryClose()(closed);
    return handle;
}

void HID_API_EXPORT HID_API_CALL hid_close(hid_device* handle)
{
    if (opening && !closedWhileOpening) {
        closedWhileOpening = handle;
        return;
    }
    libraryClose()(handle);
}

} // extern "C"
