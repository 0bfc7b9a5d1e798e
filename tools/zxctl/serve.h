// zxctl serve: a dashboard in the browser for one machine's cards, served by
// zxctl itself (page, scripts and charting library embedded at build time).
// See docs/dashboard.md.
#pragma once

#include <signal.h>

#include <string>

namespace zxctl {

struct ServeOptions {
    std::string bind = "127.0.0.1";
    int port = 0;  // 0: any free port
    // /metrics (docs/metrics.md): only the metrics, and who may read them.
    bool metricsOnly = false;
    std::string metricsTokenFile;
    std::string metricsAllowFile;
};

// Runs until SIGINT, SIGTERM or SIGHUP; the value is the exit code.
int serve(const ServeOptions& options);

// Blocks SIGINT, SIGTERM and SIGHUP for this thread and those it starts, so
// that the long-running commands take them with sigwait or sigtimedwait and
// end cleanly (the card lock given back); the set blocked.
sigset_t blockEndingSignals();

}  // namespace zxctl
