#pragma once

// Exit statuses of tessaroctl; documented in its manual page and the README.
namespace CtlExit {
constexpr int Ok = 0;
constexpr int DeviceError = 1;        // an exchange failed, the device left, the flash failed
constexpr int RefusedInput = 2;       // bad command line, unknown name, value out of range, bad file
constexpr int NoDevice = 3;           // no supported device (of the kind the command needs)
constexpr int MoreThanOneDevice = 4;  // several candidates and no --device
constexpr int VerificationFailed = 5; // what was written does not read back the same
}
