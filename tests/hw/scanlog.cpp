// Preloaded into the real program in the kernel-HID VM: wraps hidapi's hid_enumerate and
// appends one line per call (the number of HID devices the scan listed) to the file named
// by TESSARO_SCAN_LOG. The harness counts lines to know how many full bus scans the
// program made in a span of idle time, which does not depend on how fast the emulated
// machine happens to be.
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include <hidapi/hidapi.h>

namespace {

using Enumerate = hid_device_info* (*)(unsigned short, unsigned short);

Enumerate realEnumerate()
{
    static const Enumerate next = [] {
        Enumerate found = nullptr;
        void* symbol = dlsym(RTLD_NEXT, "hid_enumerate");
        static_assert(sizeof symbol == sizeof found, "function and object pointers differ");
        __builtin_memcpy(&found, &symbol, sizeof found);
        return found;
    }();
    return next;
}

void logScan(const hid_device_info* list)
{
    const char* path = std::getenv("TESSARO_SCAN_LOG");
    if (!path)
        return;
    int listed = 0;
    for (const hid_device_info* device = list; device; device = device->next)
        ++listed;
    char line[16];
    const int length = std::snprintf(line, sizeof line, "%d\n", listed);
    const int fd = ::open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    if (::write(fd, line, static_cast<size_t>(length)) != length)
        std::fputs("scanlog: short write\n", stderr);
    ::close(fd);
}

} // namespace

extern "C" hid_device_info* hid_enumerate(unsigned short vendorId, unsigned short productId)
{
    const Enumerate next = realEnumerate();
    hid_device_info* list = next ? next(vendorId, productId) : nullptr;
    logScan(list);
    return list;
}
