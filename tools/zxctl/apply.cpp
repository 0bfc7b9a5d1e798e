#include "apply.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>

#include "records.h"

namespace zxctl {

namespace {

std::string cardIdOfMachine() {
    ZXAdapterInfoRecord a{};
    if (ZXGetAdapterInfo(&a) != ZX_STATUS_OK || a.count == 0) {
        return "";
    }
    return std::string(a.vendorId[0]) + "_" + a.deviceId[0] + "_" + a.subsystemId[0] + "_" + a.subsystemVendorId[0];
}

std::string upper(std::string s) {
    for (char& ch : s) {
        ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    }
    return s;
}

// The GPUs a [[card]] table selects on this machine (adapters are all one model).
std::vector<std::uint32_t> selected(const ProfileCard& c, const std::string& machineId, std::uint32_t count) {
    std::vector<std::uint32_t> gpus;
    if (c.cardId && upper(*c.cardId) != upper(machineId)) {
        return gpus;
    }
    for (std::uint32_t g = 0; g < count; ++g) {
        if (!c.gpu || *c.gpu == g) {
            gpus.push_back(g);
        }
    }
    return gpus;
}

int firstExit(int rc, int code) { return rc == kExitOk ? code : rc; }

}  // namespace

int planProfile(const std::string& file, Plan& plan, std::vector<std::string>& errors) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    if (!in) {
        errors.push_back(file + ": cannot read the profile");
        return kExitUsage;
    }
    const auto profile = parseProfile(text.str(), file, errors);
    if (!profile) {
        return kExitUsage;
    }
    plan.pollMs = profile->pollMs;
    const std::string machineId = cardIdOfMachine();
    const std::uint32_t count = gpuCount();
    int rc = kExitOk;
    bool any = false;
    std::vector<PlannedSet> steps;
    for (const ProfileCard& c : profile->cards) {
        if (c.gpu && *c.gpu >= count && (!c.cardId || upper(*c.cardId) == upper(machineId))) {
            errors.push_back(profileError(file, c.line, c.key + ".gpu",
                                          "GPU " + std::to_string(*c.gpu) + " does not exist (this machine has " +
                                              std::to_string(count) + ")"));
            rc = firstExit(rc, kExitUsage);
        }
        for (std::uint32_t g : selected(c, machineId, count)) {
            any = true;
            for (ProfileSet s : c.sets) {
                s.request.gpu = g;
                if (auto bad = checkSet(s.request)) {
                    errors.push_back(profileError(file, s.line, s.key, bad->message));
                    rc = firstExit(rc, bad->exit);
                    continue;
                }
                steps.push_back({s, readSetting(s.request)});
            }
            if (c.curve) {
                GpuCurve gc{g, c.curve->config, {}, c.curve->key};
                if (const ZXStatus st = ZXGetFanSpeedInfo(g, 0, &gc.range, 0); st != ZX_STATUS_OK) {
                    errors.push_back(profileError(file, c.curve->line, c.curve->key,
                                                  refusedOutcome("fan (GPU " + std::to_string(g) + ")", st).message));
                    rc = firstExit(rc, exitCodeFor(st));
                    continue;
                }
                gc.config.maxPercent = gc.range.maximum;
                plan.curves.push_back(gc);
            }
        }
    }
    if (!any && rc == kExitOk) {
        errors.push_back(profileError(file, 1, "card", "no [[card]] table selects a GPU of this machine (" +
                                                           machineId + ", " + std::to_string(count) + " GPUs)"));
        rc = kExitUsage;
    }
    plan.steps = safeOrder(std::move(steps));
    return rc;
}

std::vector<std::string> restoreDefaults(const std::set<std::pair<std::uint32_t, std::string>>& changed,
                                         const std::vector<PlannedSet>& before, int& exit) {
    std::vector<std::string> lines;
    for (const auto& [gpu, what] : changed) {
        const auto steps = resetSteps(what);
        if (!steps.empty()) {
            for (const ResetResult& r : applyReset(gpu, steps)) {
                lines.push_back(r.outcome.message);
                exit = firstExit(exit, r.outcome.exit);
            }
            continue;
        }
        for (const PlannedSet& p : before) {
            if (p.set.request.gpu == gpu && p.set.request.what == what && p.before) {
                SetRequest q = p.set.request;
                q.value = *p.before;
                const Outcome o = performSet(q);
                lines.push_back(o.message);
                exit = firstExit(exit, o.exit);
                break;
            }
        }
    }
    return lines;
}

ApplyResult applyPlan(const Plan& plan) {
    ApplyResult result;
    for (const PlannedSet& p : plan.steps) {
        const Outcome o = performSet(p.set.request);
        result.done.push_back({p, o});
        if (!o.ok()) {
            result.exit = o.exit;
            break;
        }
    }
    // Settings share parts of the card (a kind-1 card's PWM level is also a
    // bit of its voltage code): every value is read again once all are set.
    for (std::size_t i = 0; result.exit == kExitOk && i < plan.steps.size(); ++i) {
        const SetRequest& q = plan.steps[i].set.request;
        const auto later = std::find_if(plan.steps.begin() + static_cast<std::ptrdiff_t>(i) + 1, plan.steps.end(),
                                        [&](const PlannedSet& p) {
                                            return p.set.request.gpu == q.gpu && p.set.request.what == q.what &&
                                                   p.set.request.level == q.level;
                                        });
        const auto now = q.fanAuto || later != plan.steps.end() ? std::nullopt : readSetting(q);
        if (now && *now != q.value) {
            const Setting& s = *findSetting(q.what);
            const std::string subject = "apply " + plan.steps[i].set.key + " (GPU " + std::to_string(q.gpu) + ")";
            result.exit = kExitReadBack;
            result.done.push_back({plan.steps[i], {kExitReadBack, ZX_STATUS_OK,
                                                   subject + ": set to " + std::to_string(q.value) + " " + s.unit +
                                                       ", the card reports " + std::to_string(*now) + " " + s.unit +
                                                       " after the later changes",
                                                   subject, *now}});
        }
    }
    if (result.exit == kExitOk) {
        return result;
    }
    // Newest first: back to the value read before, else to the default. The
    // fan goes back to the driver: a fixed percent read before cannot tell
    // whether the driver was running it.
    for (auto it = result.done.rbegin(); it != result.done.rend(); ++it) {
        const PlannedSet& p = it->step;
        if (p.before && p.set.request.what != "fan") {
            PlannedSet back = p;
            back.set.request.value = *p.before;
            result.restored.push_back({back, performSet(back.set.request)});
            continue;
        }
        for (const ResetResult& r : applyReset(p.set.request.gpu, resetSteps(p.set.request.what))) {
            Outcome o = r.outcome;
            result.restored.push_back({p, o});
        }
    }
    return result;
}

json stepJson(const StepResult& r) {
    const SetRequest& q = r.step.set.request;
    const auto orNull = [](const std::optional<std::uint32_t>& v) { return v ? json(*v) : json(nullptr); };
    return {{"gpu", q.gpu},
            {"setting", q.what},
            {"level", q.level ? json(*q.level) : json(nullptr)},
            {"key", r.step.set.key},
            {"line", r.step.set.line},
            {"before", orNull(r.step.before)},
            {"requested", q.fanAuto ? json("auto") : json(q.value)},
            {"reported", orNull(r.outcome.reported)},
            {"exit", r.outcome.exit},
            {"message", r.outcome.message}};
}

int cmdApply(const std::string& file, bool dryRun, bool asJson) {
    if (const auto failed = startLibrary()) {
        std::fprintf(stderr, "zxctl: %s\n", failed->message.c_str());
        return failed->exit;
    }
    // The lock for the whole run: no other program changes the card between
    // the checks, the changes and the restore.
    if (const ZXStatus s = dryRun ? ZX_STATUS_OK : ZXSetLockLibStatus(1); s != ZX_STATUS_OK) {
        std::uint32_t held = 0;
        ZXGetLockLibStatus(&held);
        const ZXStatus why = held == ZX_LOCK_HELD_ELSEWHERE ? ZX_STATUS_LOCKED_BY_OTHER : s;
        std::fprintf(stderr, "zxctl: apply: cannot take the card lock: %s\n", ZXStatusName(why));
        ZXDeInitLib();
        return exitCodeFor(why);
    }
    Plan plan;
    std::vector<std::string> errors;
    const int planned = planProfile(file, plan, errors);
    for (const std::string& e : errors) {
        std::fprintf(stderr, "zxctl: %s\n", e.c_str());
    }
    ApplyResult result;
    result.exit = planned;
    if (planned == kExitOk && !dryRun) {
        result = applyPlan(plan);
    }
    if (!dryRun) {
        ZXSetLockLibStatus(0);
    }
    ZXDeInitLib();
    if (planned != kExitOk) {
        return planned;
    }
    json steps = json::array();
    json restored = json::array();
    for (const PlannedSet& p : plan.steps) {
        const SetRequest& q = p.set.request;
        const Setting& s = *findSetting(q.what);
        if (dryRun) {
            const std::string unit = *s.unit != '\0' ? std::string(" ") + s.unit : "";
            const std::string value = q.fanAuto ? "auto" : std::to_string(q.value) + unit;
            const std::string message = "GPU " + std::to_string(q.gpu) + ": would set " + s.label +
                                        (q.level ? " of level " + std::to_string(*q.level) : "") + " from " +
                                        (p.before ? std::to_string(*p.before) + unit : "unknown") + " to " + value +
                                        " (" + p.set.key + ")";
            steps.push_back(stepJson({p, {kExitOk, ZX_STATUS_OK, message, "", {}}}));
        }
    }
    for (const StepResult& r : result.done) {
        steps.push_back(stepJson(r));
    }
    for (const StepResult& r : result.restored) {
        restored.push_back(stepJson(r));
    }
    json curves = json::array();
    for (const GpuCurve& c : plan.curves) {
        curves.push_back({{"gpu", c.gpu}, {"key", c.key}, {"note", "fan curves run in zxctl daemon"}});
    }
    if (asJson) {
        std::cout << json{{"schema", kJsonSchema}, {"file", file}, {"dry_run", dryRun}, {"steps", steps},
                          {"restored", restored}, {"fan_curves", curves}, {"exit", result.exit}}
                         .dump(2)
                  << "\n";
    } else {
        for (const json& j : steps) {
            const bool ok = j["exit"] == 0;
            std::fprintf(ok ? stdout : stderr, "%s%s\n", ok ? "" : "zxctl: ", j["message"].get<std::string>().c_str());
        }
        for (const json& j : restored) {
            std::fprintf(stderr, "zxctl: restored: %s\n", j["message"].get<std::string>().c_str());
        }
        for (const GpuCurve& c : plan.curves) {
            std::printf("GPU %u: %s: fan curves run in zxctl daemon; not applied\n", c.gpu, c.key.c_str());
        }
    }
    return result.exit;
}

}  // namespace zxctl
