#include "tracedhid.h"

#include "hidrecorder.h"

namespace TracedHid {

hid_device_info* enumerate()
{
    hid_device_info* list = hid_enumerate(0, 0);
    if (HidRecorder* recorder = HidRecorder::active())
        recorder->enumerated(list);
    return list;
}

void freeEnumeration(hid_device_info* list)
{
    hid_free_enumeration(list);
}

hid_device* openPath(const char* path)
{
    hid_device* handle = hid_open_path(path);
    if (HidRecorder* recorder = HidRecorder::active())
        recorder->opened(path, handle, handle ? nullptr : hid_error(nullptr));
    return handle;
}

void close(hid_device* handle)
{
    // Recorded first: after the close the handle's address may be reused.
    if (HidRecorder* recorder = HidRecorder::active())
        recorder->closed(handle);
    hid_close(handle);
}

int write(hid_device* handle, const unsigned char* data, size_t length)
{
    const int result = hid_write(handle, data, length);
    if (HidRecorder* recorder = HidRecorder::active())
        recorder->wrote(handle, data, length, result, result < 0 ? hid_error(handle) : nullptr);
    return result;
}

int readTimeout(hid_device* handle, unsigned char* data, size_t length, int milliseconds)
{
    const int result = hid_read_timeout(handle, data, length, milliseconds);
    // A look that finds nothing and waits for nothing (the drain before each request) is
    // neither a report nor a time-out: left out, it halves what a request costs to record.
    if (result == 0 && milliseconds == 0)
        return result;
    if (HidRecorder* recorder = HidRecorder::active())
        recorder->read(handle, data, length, milliseconds, result, result < 0 ? hid_error(handle) : nullptr);
    return result;
}

} // namespace TracedHid
