// zxctl daemon FILE: holds the card lock, applies the profile, runs its fan
// curves, reloads it on SIGHUP and puts every setting it changed back to the
// card's defaults on SIGTERM or SIGINT. Logs to standard error with the
// journal's priority prefixes; tells systemd (sd_notify) when ready and alive.
#pragma once

#include <cstdint>
#include <string>

namespace zxctl {

// pollMs: 0 for the profile's [daemon] poll_ms.
int cmdDaemon(const std::string& file, std::uint32_t pollMs);

}  // namespace zxctl
