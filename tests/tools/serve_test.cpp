// zxctl serve end to end: the real server on a simulated machine, talked to
// over HTTP; the NVAPI simulator's call log shows what reached the card.
#include <gtest/gtest.h>
#include <signal.h>

#include <httplib.h>
#include <nlohmann/json.hpp>

#include "support/test_env.h"
#include "tools/run_tool.h"

namespace zxtest {
namespace {

using json = nlohmann::json;

// Calls that change the card, in the simulator's log.
std::size_t changesLogged() {
    std::size_t n = 0;
    for (const std::string& line : readLines(testRoot() + "/nvapi.log")) {
        n += line.starts_with("Set") || line.starts_with("I2CWrite") || line.starts_with("Restore") ? 1 : 0;
    }
    return n;
}

// `zxctl serve` on the machine, on a free port; the printed URL gives the
// port and the token. Stopped by SIGINT.
struct Server {
    explicit Server(const Machine& m) : pid(startTool({ZXCTL_PROGRAM, "--simulate", m.name, "serve", "--port", "0"})) {
        const std::string out = waitForOutput(pid, "press Ctrl-C");
        const auto at = out.find("http://127.0.0.1:");
        const auto tok = out.find("/?token=");
        EXPECT_TRUE(at != std::string::npos && tok != std::string::npos) << "no URL printed: " << out;
        port = at != std::string::npos ? std::stoi(out.substr(at + 17)) : 0;
        token = tok != std::string::npos ? out.substr(tok + 8, 32) : "";
    }
    ~Server() { stop(); }
    int stop() {
        const int code = pid > 0 && ::kill(pid, SIGINT) == 0 ? finishTool(pid).exitCode : -1;
        pid = -1;
        return code;
    }

    httplib::Client client() const { return httplib::Client("127.0.0.1", port); }
    json get(const std::string& path, int expect = 200) const {
        auto res = client().Get(path);
        EXPECT_TRUE(res && res->status == expect) << path << " " << (res ? res->body : "no answer");
        return res ? json::parse(res->body, nullptr, false) : json();
    }
    // A change, with the token unless other headers are given: the answer's status and body.
    std::pair<int, json> post(const std::string& path, const std::string& body, httplib::Headers headers = {}) const {
        auto res = client().Post(path, headers.empty() ? httplib::Headers {{"X-ZX-Token", token}} : headers, body,
                                 "application/json");
        return res ? std::pair {res->status, json::parse(res->body, nullptr, false)} : std::pair {0, json()};
    }

    pid_t pid;
    int port = 0;
    std::string token;
};

TEST(Serve, EveryReadShowsTheScenario) {
    const Machine& m = kMachines[1];  // two GPUs
    Server s(m);
    ASSERT_EQ(s.token.size(), 32u);

    // The same records as zxctl --json, whose values the zxctl tests check.
    EXPECT_EQ(s.get("/api/info"), zxctlJson(m.name, {"info"}));
    EXPECT_EQ(s.get("/api/status"), zxctlJson(m.name, {"status"}));
    EXPECT_EQ(s.get("/api/status?gpu=" + std::to_string(m.gpus.size() - 1))["gpus"].size(), 1u);
    s.get("/api/status?gpu=9", 400);
    EXPECT_EQ(s.get("/api/lock"), json({{"lock", "unlocked"}}));

    const GpuExpect& e = m.gpus[0];
    const json samples = s.get("/api/samples")["samples"];
    ASSERT_GE(samples.size(), m.gpus.size());
    EXPECT_EQ(samples[0]["temperature_c"], e.temperature);
    EXPECT_EQ(samples[0]["gpu_mhz"], e.gpuMHz[e.currentLevel]);

    // Live samples as server-sent events.
    std::string events;
    s.client().Get("/api/events", [&](const char* data, std::size_t n) {
        events.append(data, n);
        return events.find("event: lock") == std::string::npos;
    });
    EXPECT_NE(events.find("event: sample\ndata: {"), std::string::npos) << events;
    EXPECT_NE(events.find("\"temperature_c\":" + std::to_string(e.temperature)), std::string::npos) << events;

    // Nothing outside the embedded files is served.
    auto res = s.client().Get("/%2e%2e/CMakeLists.txt");
    EXPECT_TRUE(res && res->status == 404);
    EXPECT_EQ(s.stop(), 0);
}

TEST(Serve, AChangeNeedsTheTokenTheServersOwnNamesAValidRequestAndTheLock) {
    const Machine& m = kMachines[0];
    Server s(m);
    const std::string change = R"({"what": "gpu-clock", "gpu": 0, "level": 1, "value": 420})";
    const std::string hold = R"({"hold": true})";
    const httplib::Headers noToken = {{"X-Other", "1"}};
    const std::tuple<std::string, std::string, httplib::Headers, int, const char*> cases[] = {
        {"/api/set", change, noToken, 403, "forbidden"},
        {"/api/lock", hold, noToken, 403, "forbidden"},
        {"/api/set", change, {{"X-ZX-Token", s.token}, {"Origin", "http://evil.example"}}, 403, "forbidden"},
        {"/api/set", change, {{"X-ZX-Token", s.token}, {"Host", "evil.example:" + std::to_string(s.port)}}, 403,
         "forbidden"},
        {"/api/set", R"({"what": "gpu-clock", )", {}, 400, "usage error"},
        {"/api/set", R"({"what": "gpu-clock", "level": 1, "value": 5000})", {}, 400, "usage error"},
        {"/api/set", R"({"what": "fan", "gpu": 3, "value": 50})", {}, 400, "usage error"},
        // The command line's checks: a fan, level or value the card lacks.
        {"/api/set", R"({"what": "fan", "fan": 7, "value": 50})", {}, 400, "usage error"},
        {"/api/set", R"({"what": "voltage", "value": 999})", {}, 400, "usage error"},
        {"/api/set", R"({"what": "voltage", "value": 5})", {}, 400, "usage error"},
        {"/api/set", R"({"what": "voltage", "level": 0, "value": 1200})", {}, 400, "usage error"},
        {"/api/set", R"({"what": "gpu-clock", "level": 3, "value": 500})", {}, 400, "usage error"},
        {"/api/set", R"({"what": "gpu-clock", "level": 1, "value": "0700"})", {}, 400, "usage error"},
        {"/api/set", R"({"what": "memory-voltage", "value": 9})", {}, 400, "usage error"},
        {"/api/set", R"({"what": "dac", "value": 1})", {}, 422, "not supported by this card"},
        {"/api/reset", R"({"what": "everything"})", {}, 400, "usage error"},
        {"/api/set", change, {}, 409, "locked by another process"},  // another process holds the lock
    };
    const json before = s.get("/api/status");
    const std::size_t changes = changesLogged();
    pid_t holder = -1;
    for (const auto& [path, body, headers, status, error] : cases) {
        if (status == 409 && holder < 0) {
            holder = holdLock(m.name);
            ASSERT_GT(holder, 0);
            EXPECT_EQ(s.get("/api/lock")["lock"], "held by another process");
        }
        const auto [answered, answer] = s.post(path, body, headers);
        EXPECT_EQ(answered, status) << path << " " << body << ": " << answer;
        EXPECT_EQ(answer["error"], error) << path << " " << body << ": " << answer;
        EXPECT_FALSE(answer["what"].get<std::string>().empty()) << path << " " << body;
    }
    ::kill(holder, SIGINT);
    EXPECT_EQ(finishTool(holder).exitCode, 0);
    EXPECT_EQ(changesLogged(), changes);
    EXPECT_EQ(s.get("/api/status"), before);

    // With the token the change reaches the card, and another process sees it.
    auto [status, answer] = s.post("/api/set", change);
    ASSERT_EQ(status, 200) << answer;
    EXPECT_EQ(answer["done"], "GPU 0: GPU clock of level 1 set to 420 MHz");
    EXPECT_EQ(answer["status"]["clocks"]["gpu"]["mhz"][1], 420);
    EXPECT_GT(changesLogged(), changes);
    EXPECT_EQ(zxctlJson(m.name, {"status"})["gpus"][0]["clocks"]["gpu"]["mhz"][1], 420);

    // The server takes the lock and resets; another process is refused.
    EXPECT_EQ(s.post("/api/lock", hold).second, json({{"lock", "held by this process"}}));
    EXPECT_EQ(zxctl(m.name, {"set", "gpu-clock", "1", "430"}).exitCode, 5);
    EXPECT_EQ(s.post("/api/reset", R"({"what": "clocks"})").second["status"]["clocks"]["gpu"]["mhz"],
              json(m.gpus[0].gpuMHz));
}

}  // namespace
}  // namespace zxtest
