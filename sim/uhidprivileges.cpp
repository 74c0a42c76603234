#include "uhidprivileges.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <grp.h>
#include <pwd.h>
#include <unistd.h>

namespace sim {
namespace UhidPrivileges {

namespace {

bool idNumber(const char* text, unsigned long* value)
{
    if (!text || !*text)
        return false;
    char* end = nullptr;
    errno = 0;
    *value = std::strtoul(text, &end, 10);
    return errno == 0 && end && !*end && text[0] != '-' && *value > 0 && *value < 0xffffffffUL;
}

} // namespace

bool unprivilegedIdentity(Identity* identity, std::string* error)
{
    unsigned long uid = 0;
    unsigned long gid = 0;
    if (idNumber(std::getenv("SUDO_UID"), &uid) && idNumber(std::getenv("SUDO_GID"), &gid)) {
        identity->uid = static_cast<uid_t>(uid);
        identity->gid = static_cast<gid_t>(gid);
        return true;
    }
    const passwd* nobody = ::getpwnam("nobody");
    const group* nogroup = ::getgrnam("nogroup");
    if (!nogroup)
        nogroup = ::getgrnam("nobody");
    if (!nobody || !nogroup || nobody->pw_uid == 0 || nogroup->gr_gid == 0) {
        *error = "no user to run as: neither SUDO_UID/SUDO_GID nor nobody/nogroup";
        return false;
    }
    identity->uid = nobody->pw_uid;
    identity->gid = nogroup->gr_gid;
    return true;
}

bool drop(const Identity& identity, std::string* error)
{
    const auto failed = [error](const char* step) {
        *error = std::string(step) + ": " + std::strerror(errno);
        return false;
    };
    if (::setgroups(0, nullptr) != 0)
        return failed("setgroups");
    if (::setresgid(identity.gid, identity.gid, identity.gid) != 0)
        return failed("setresgid");
    if (::setresuid(identity.uid, identity.uid, identity.uid) != 0)
        return failed("setresuid");
    uid_t real = 0, effective = 0, saved = 0;
    gid_t greal = 0, geffective = 0, gsaved = 0;
    if (::getresuid(&real, &effective, &saved) != 0 || ::getresgid(&greal, &geffective, &gsaved) != 0)
        return failed("getresuid");
    if (real != identity.uid || effective != identity.uid || saved != identity.uid || greal != identity.gid
        || geffective != identity.gid || gsaved != identity.gid || ::setuid(0) == 0 || ::getgroups(0, nullptr) != 0) {
        *error = "root could still be taken back";
        return false;
    }
    return true;
}

} // namespace UhidPrivileges
} // namespace sim
