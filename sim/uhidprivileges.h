#pragma once

#include <string>
#include <sys/types.h>

namespace sim {

// tessaro-uhid needs root only to open /dev/uhid: after that it runs as the user who
// started it through sudo, or as nobody, for good.
namespace UhidPrivileges {

struct Identity {
    uid_t uid = 0;
    gid_t gid = 0;
};

// The user sudo ran the program for (SUDO_UID and SUDO_GID, both numbers, not root), else
// nobody with nogroup. False, with the reason, when neither can be found.
bool unprivilegedIdentity(Identity* identity, std::string* error);

// Gives up root for good: supplementary groups, then group and user IDs (real, effective
// and saved). False, with the reason, when a step fails or root can be taken back. Only
// system calls: safe in a child just forked from a threaded process.
bool drop(const Identity& identity, std::string* error);

} // namespace UhidPrivileges
} // namespace sim
