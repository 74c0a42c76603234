#pragma once

#include <hidapi/hidapi.h>

// The hidapi calls the program makes, each passed on to whichever backend is linked (the
// real library or the simulator) and, while HidRecorder records, written to its trace.
// What the backend returns is returned unchanged.
namespace TracedHid {

hid_device_info* enumerate();
void freeEnumeration(hid_device_info* list);
hid_device* openPath(const char* path);
void close(hid_device* handle);
int write(hid_device* handle, const unsigned char* data, size_t length);
int readTimeout(hid_device* handle, unsigned char* data, size_t length, int milliseconds);

} // namespace TracedHid
