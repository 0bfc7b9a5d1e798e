#include "daemon.h"

#include <signal.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <iterator>
#include <map>
#include <set>

#include <systemd/sd-daemon.h>

#include "apply.h"
#include "serve.h"

namespace zxctl {

namespace {

// One line per message; "<N>" is the journal's priority (3 error, 4 warning,
// 6 information) when standard error goes to it.
void log(int priority, const std::string& message) {
    std::fprintf(stderr, "<%d>zxctl daemon: %s\n", priority, message.c_str());
    std::fflush(stderr);
}
constexpr int kErr = 3;
constexpr int kWarning = 4;
constexpr int kInfo = 6;

std::uint64_t nowMs() {
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                          std::chrono::steady_clock::now().time_since_epoch())
                                          .count());
}

// The nearest percent the fan takes.
std::uint32_t clampToFan(std::uint32_t percent, const ZXRangeInfo& r) {
    std::uint32_t v = std::clamp(percent, r.minimum, std::max(r.minimum, r.maximum));
    if (r.step > 1) {
        v = r.minimum + (v - r.minimum + r.step - 1) / r.step * r.step;  // up: never less cooling
        v = std::min(v, r.maximum);
    }
    return v;
}

using Changed = std::set<std::pair<std::uint32_t, std::string>>;

// Checks and applies FILE; false (with the reasons logged) when it is refused
// or a step failed, and then the card is as before.
bool load(const std::string& file, Plan& plan, Changed& changed, int& exit) {
    Plan next;
    std::vector<std::string> errors;
    exit = planProfile(file, next, errors);
    for (const std::string& e : errors) {
        log(kErr, e);
    }
    if (exit != kExitOk) {
        return false;
    }
    const ApplyResult r = applyPlan(next);
    for (const StepResult& s : r.done) {
        log(s.outcome.ok() ? kInfo : kErr, s.outcome.message);
    }
    for (const StepResult& s : r.restored) {
        log(kWarning, "restored: " + s.outcome.message);
    }
    exit = r.exit;
    if (exit != kExitOk) {
        return false;
    }
    Changed now;
    for (const PlannedSet& p : next.steps) {
        now.emplace(p.set.request.gpu, p.set.request.what);
    }
    for (const GpuCurve& c : next.curves) {
        now.emplace(c.gpu, "fan");
    }
    // What the earlier profile set and this one leaves alone (a fan curve
    // taken out) goes back to its default rather than stay as it was left.
    Changed dropped;
    std::set_difference(changed.begin(), changed.end(), now.begin(), now.end(),
                        std::inserter(dropped, dropped.begin()));
    int rc = kExitOk;
    for (const std::string& line : restoreDefaults(dropped, plan.steps, rc)) {
        log(rc == kExitOk ? kInfo : kErr, line);
    }
    changed.insert(now.begin(), now.end());
    // The values from before the first profile come first (restoreDefaults
    // takes the first it finds).
    next.steps.insert(next.steps.begin(), plan.steps.begin(), plan.steps.end());
    plan = std::move(next);
    return true;
}

struct Runner {
    std::vector<FanCurve> curves;
    void reset(const Plan& plan) {
        curves.clear();
        for (const GpuCurve& c : plan.curves) {
            curves.emplace_back(c.config);
        }
    }
    void poll(const Plan& plan) {
        for (std::size_t i = 0; i < curves.size(); ++i) {
            const GpuCurve& c = plan.curves[i];
            std::uint32_t celsius = 0;
            const bool read = ZXGetTemperature(c.gpu, &celsius) == ZX_STATUS_OK;
            const FanCurve::Decision d = curves[i].step(nowMs(), read ? std::optional(celsius) : std::nullopt);
            if (!d.set) {
                continue;
            }
            SetRequest q;
            q.what = "fan";
            q.gpu = c.gpu;
            q.value = clampToFan(*d.set, c.range);
            const std::string gpu = "GPU " + std::to_string(c.gpu) + ": ";
            if (d.failSafe) {
                log(kWarning, gpu + "the temperature could not be read " + std::to_string(c.config.failReads) +
                                  " times in a row: fan to " + std::to_string(q.value) + " % (fail-safe)");
            }
            const Outcome o = performSet(q);
            log(o.ok() ? kInfo : kErr, o.message + (read ? " (" + std::to_string(celsius) + " °C)" : std::string()));
        }
    }
};

}  // namespace

int cmdDaemon(const std::string& file, std::uint32_t pollMs) {
    const sigset_t signals = blockEndingSignals();
    if (const auto failed = startLibrary()) {
        log(kErr, failed->message);
        return failed->exit;
    }
    if (const ZXStatus s = ZXSetLockLibStatus(1); s != ZX_STATUS_OK) {
        std::uint32_t held = 0;
        ZXGetLockLibStatus(&held);
        const ZXStatus why = held == ZX_LOCK_HELD_ELSEWHERE ? ZX_STATUS_LOCKED_BY_OTHER : s;
        log(kErr, std::string("cannot take the card lock: ") + ZXStatusName(why));
        ZXDeInitLib();
        return exitCodeFor(why);
    }
    Plan plan;
    Changed changed;
    int exit = kExitOk;
    if (!load(file, plan, changed, exit)) {
        log(kErr, "profile " + file + " not applied; nothing changed");
        ZXSetLockLibStatus(0);
        ZXDeInitLib();
        return exit;
    }
    Runner runner;
    runner.reset(plan);
    std::uint64_t watchdogUs = 0;
    const bool watchdog = sd_watchdog_enabled(0, &watchdogUs) > 0;
    const std::uint32_t every =
        std::min<std::uint64_t>(pollMs != 0 ? pollMs : plan.pollMs, watchdog ? std::max<std::uint64_t>(watchdogUs / 2000, 1) : ~0u);
    log(kInfo, "profile " + file + " applied; holding the card lock; fan curves: " +
                   std::to_string(plan.curves.size()) + "; polling every " + std::to_string(every) + " ms");
    sd_notify(0, "READY=1\nSTATUS=profile applied");
    runner.poll(plan);
    for (;;) {
        timespec ts{static_cast<time_t>(every / 1000), static_cast<long>(every % 1000) * 1000000L};
        const int sig = sigtimedwait(&signals, nullptr, &ts);
        if (sig == SIGHUP) {
            sd_notify(0, "RELOADING=1");
            log(kInfo, "reloading " + file);
            int rc = kExitOk;
            if (load(file, plan, changed, rc)) {
                runner.reset(plan);
                log(kInfo, "profile " + file + " applied");
            } else {
                log(kWarning, "keeping the profile in force");
            }
            sd_notify(0, "READY=1");
        } else if (sig == SIGINT || sig == SIGTERM) {
            log(kInfo, std::string("stopping (") + (sig == SIGINT ? "SIGINT" : "SIGTERM") + ")");
            break;
        }
        runner.poll(plan);
        sd_notify(0, "WATCHDOG=1");
    }
    sd_notify(0, "STOPPING=1");
    exit = kExitOk;
    for (const std::string& line : restoreDefaults(changed, plan.steps, exit)) {
        log(exit == kExitOk ? kInfo : kErr, line);
    }
    ZXSetLockLibStatus(0);
    ZXDeInitLib();
    log(exit == kExitOk ? kInfo : kErr, exit == kExitOk ? "defaults restored; card lock given back"
                                                        : "could not restore every default; card lock given back");
    return exit;
}

}  // namespace zxctl
