// zxctl serve end to end: the real server on a simulated machine, talked to
// over HTTP; the NVAPI simulator's call log shows what reached the card.
#include <gtest/gtest.h>
#include <signal.h>

#include <sstream>

#include <httplib.h>
#include <nlohmann/json.hpp>

#include "support/test_env.h"
#include "tools/run_tool.h"

namespace zxtest {
namespace {

using json = nlohmann::json;

// Calls that change the card, in the simulator's log.
std::size_t changesLogged() {
    const std::string path = testRoot() + "/nvapi.log";
    std::istringstream in(fileExists(path) ? readFile(path) : "");
    std::size_t n = 0;
    for (std::string line; std::getline(in, line);) {
        n += line.rfind("Set", 0) == 0 || line.rfind("I2CWrite", 0) == 0 || line.rfind("Restore", 0) == 0 ? 1 : 0;
    }
    return n;
}

// `zxctl serve` on the machine, on a free port; the printed URL gives the
// port and the token.
class Server {
public:
    explicit Server(const Machine& m) : pid_(startTool({ZXCTL_PROGRAM, "--simulate", m.name, "serve", "--port", "0"})) {
        const std::string out = waitForOutput(pid_, "press Ctrl-C");
        const auto at = out.find("http://127.0.0.1:");
        const auto tok = out.find("/?token=");
        if (at == std::string::npos || tok == std::string::npos) {
            ADD_FAILURE() << "no URL printed: " << out;
            return;
        }
        port_ = std::stoi(out.substr(at + 17, tok - at - 17));
        token_ = out.substr(tok + 8, 32);
    }
    ~Server() {
        if (pid_ > 0) {
            stop();
        }
    }
    ToolResult stop() {
        ::kill(pid_, SIGINT);
        const ToolResult r = finishTool(pid_);
        pid_ = -1;
        return r;
    }

    httplib::Client client() const { return httplib::Client("127.0.0.1", port_); }
    const std::string& token() const { return token_; }
    int port() const { return port_; }

    json get(const std::string& path, int expect = 200) const {
        auto res = client().Get(path);
        EXPECT_TRUE(res && res->status == expect) << path << " " << (res ? res->body : "no answer");
        return res ? json::parse(res->body, nullptr, false) : json();
    }
    // A change: POST with the token unless other headers are given. The
    // answer's status and body.
    std::pair<int, json> post(const std::string& path, const std::string& body, httplib::Headers headers = {}) const {
        auto res = client().Post(path, headers.empty() ? httplib::Headers {{"X-ZX-Token", token_}} : headers, body,
                                 "application/json");
        EXPECT_TRUE(res) << path;
        return res ? std::pair {res->status, json::parse(res->body, nullptr, false)} : std::pair {0, json()};
    }

private:
    pid_t pid_;
    int port_ = 0;
    std::string token_;
};

class ServeMachine : public ::testing::TestWithParam<Machine> {};

TEST_P(ServeMachine, EveryReadShowsTheScenario) {
    const Machine& m = GetParam();
    Server s(m);
    ASSERT_EQ(s.token().size(), 32u);

    // The same records as zxctl --json, whose values the zxctl tests check.
    const json info = s.get("/api/info");
    EXPECT_EQ(info["adapters"][0]["card_id"], m.cardId);
    EXPECT_EQ(info, zxctlJson(m.name, {"info"}));
    const json status = s.get("/api/status");
    EXPECT_EQ(status["gpus"][0]["temperature_c"], m.gpus[0].temperature);
    EXPECT_EQ(status, zxctlJson(m.name, {"status"}));
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

    // The embedded files, and nothing else.
    const std::tuple<const char*, int, const char*> paths[] = {
        {"/", 200, "dashboard.js"},          {"/dashboard.js", 200, "EventSource"},
        {"/chart.min.js", 200, "Chart.js"},  {"/dashboard.css", 200, "body"},
        {"/../../etc/passwd", 404, ""},      {"/%2e%2e/CMakeLists.txt", 404, ""},
        {"/web/index.html", 404, ""},        {"/api/nothing", 404, ""}};
    for (const auto& [path, code, contains] : paths) {
        auto res = s.client().Get(path);
        ASSERT_TRUE(res) << path;
        EXPECT_EQ(res->status, code) << path;
        EXPECT_NE(res->body.find(contains), std::string::npos) << path;
    }

    const ToolResult end = s.stop();
    EXPECT_EQ(end.exitCode, 0) << end.err;
    EXPECT_NE(end.out.find("Dashboard stopped."), std::string::npos) << end.out;
}

INSTANTIATE_TEST_SUITE_P(Machines, ServeMachine, ::testing::ValuesIn(kMachines),
                         [](const auto& param) { return testName(param.param); });

TEST(Serve, AChangeNeedsTheTokenTheServersOwnNamesAValidRequestAndTheLock) {
    const Machine& m = kMachines[0];
    Server s(m);
    const std::string change = R"({"what": "gpu-clock", "gpu": 0, "level": 1, "value": 420})";
    const std::string hold = R"({"hold": true})";
    const httplib::Headers noToken = {{"X-Other", "1"}};
    const std::tuple<std::string, std::string, httplib::Headers, int, const char*> cases[] = {
        {"/api/set", change, noToken, 403, "forbidden"},
        {"/api/set", change, {{"X-ZX-Token", std::string(32, '0')}}, 403, "forbidden"},
        {"/api/lock", hold, noToken, 403, "forbidden"},
        {"/api/set", change, {{"X-ZX-Token", s.token()}, {"Origin", "http://evil.example"}}, 403, "forbidden"},
        {"/api/set", change, {{"X-ZX-Token", s.token()}, {"Host", "evil.example:" + std::to_string(s.port())}}, 403,
         "forbidden"},
        {"/api/set", R"({"what": "gpu-clock", )", {}, 400, "usage error"},
        {"/api/set", "[1, 2]", {}, 400, "usage error"},
        {"/api/set", R"({"what": "gpu-clock", "level": 1, "value": 5000})", {}, 400, "usage error"},
        {"/api/set", R"({"what": "fan", "value": 101})", {}, 400, "usage error"},
        {"/api/set", R"({"what": "gpu-clock", "level": 1, "value": -1})", {}, 400, "usage error"},
        {"/api/set", R"({"what": "gpu-clock", "value": 400})", {}, 400, "usage error"},
        {"/api/set", R"({"what": "gpu-clock", "level": 4, "value": 400})", {}, 400, "usage error"},
        {"/api/set", R"({"what": "turbo", "value": 1})", {}, 400, "usage error"},
        {"/api/set", R"({"what": "fan", "gpu": 3, "value": 50})", {}, 400, "usage error"},
        {"/api/reset", R"({"what": "everything"})", {}, 400, "usage error"},
        {"/api/lock", R"({"hold": "yes"})", {}, 400, "usage error"},
        {"/api/set", change, {}, 409, "locked by another process"},  // from here on another process holds the lock
        {"/api/lock", hold, {}, 409, "locked by another process"},
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
    // A read from another site's page is refused as well.
    auto res = s.client().Get("/api/status", {{"Origin", "http://evil.example"}});
    EXPECT_TRUE(res && res->status == 403);

    // With the token the change reaches the card, and another process sees it.
    auto [status, answer] = s.post("/api/set", change);
    ASSERT_EQ(status, 200) << answer;
    EXPECT_EQ(answer["done"], "GPU 0: GPU clock of level 1 set to 420 MHz");
    EXPECT_EQ(answer["status"]["clocks"]["gpu"]["mhz"][1], 420);
    EXPECT_GT(changesLogged(), changes);
    EXPECT_EQ(zxctlJson(m.name, {"status"})["gpus"][0]["clocks"]["gpu"]["mhz"][1], 420);

    // The switch: the server holds the lock and changes; another process is refused.
    EXPECT_EQ(s.post("/api/lock", hold).second, json({{"lock", "held by this process"}}));
    EXPECT_EQ(zxctl(m.name, {"set", "gpu-clock", "1", "430"}).exitCode, 5);
    std::tie(status, answer) = s.post("/api/reset", R"({"what": "clocks"})");
    EXPECT_EQ(status, 200) << answer;
    EXPECT_EQ(answer["status"]["clocks"]["gpu"]["mhz"], json(m.gpus[0].gpuMHz));
    EXPECT_EQ(s.post("/api/lock", R"({"hold": false})").second, json({{"lock", "unlocked"}}));
    EXPECT_EQ(zxctl(m.name, {"set", "gpu-clock", "1", "440"}).exitCode, 0);
}

}  // namespace
}  // namespace zxtest
