#pragma once

#include "sim/standinservice.h"

#include <optional>

// Where the program under test sends its web requests.
namespace ServiceAddress {

// Starts the stand-in service on a free local port and points the program at it.
inline bool useStandIn(std::optional<StandInService>& service)
{
    service.emplace();
    if (!service->listen())
        return false;
    qputenv("TESSARO_SERVICE_URL", service->baseUrl().toLatin1());
    return true;
}

// A closed local port: every request fails at once and nothing leaves the machine.
inline void useClosedPort()
{
    qputenv("TESSARO_SERVICE_URL", "http://127.0.0.1:9");
}

} // namespace ServiceAddress
