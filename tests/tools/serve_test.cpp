// zxctl serve end to end: the real server on a simulated machine, talked to
// over HTTP; the simulator's call log shows what reached the card.
#include <gtest/gtest.h>
#include <signal.h>

#include <httplib.h>
#include <nlohmann/json.hpp>

#include "support/test_env.h"
#include "tools/run_tool.h"

namespace zxtest {
namespace {

using json = nlohmann::json;

// What each machine's scenario and profile say about GPU 0.
struct Machine {
    const char* name;
    const char* cardId;
    const char* description0;
    unsigned gpuCount;
    unsigned temperature0;
    std::vector<unsigned> gpuMHz0;
};

const Machine kMachines[] = {
    {"nvidia-kind1", "10DE_0622_B111_7A3C", "ZX GeForce 9600 GT, 512 MB GDDR3", 1, 52, {300, 500, 650}},
    {"nvidia-dual-kind2", "10DE_0611_A102_7A3C", "ZX GeForce 8800 GT, 1 GB GDDR3", 2, 54, {300, 550, 700}},
};

void PrintTo(const Machine& m, std::ostream* os) { *os << m.name; }

std::vector<std::pair<std::string, std::string>> simEnv() {
    return {{"XDG_STATE_HOME", testRoot() + "/state"}, {"ZXSIM_NVAPI_LOG", testRoot() + "/nvapi.log"}};
}

ToolResult zxctl(const Machine& m, std::vector<std::string> args) {
    ToolRun run;
    run.args = {ZXCTL_PROGRAM, "--simulate", m.name};
    run.args.insert(run.args.end(), args.begin(), args.end());
    run.env = simEnv();
    return runTool(run);
}

// Calls that change the card, in the simulator's log.
std::size_t changesLogged() {
    const std::string path = testRoot() + "/nvapi.log";
    if (!fileExists(path)) {
        return 0;
    }
    std::size_t n = 0;
    std::istringstream in(readFile(path));
    for (std::string line; std::getline(in, line);) {
        n += line.rfind("Set", 0) == 0 || line.rfind("I2CWrite", 0) == 0 || line.rfind("Restore", 0) == 0 ? 1 : 0;
    }
    return n;
}

class Server {
public:
    explicit Server(const Machine& m) {
        ToolRun run;
        run.args = {ZXCTL_PROGRAM, "--simulate", m.name, "serve", "--port", "0"};
        run.env = simEnv();
        pid_ = startTool(run);
        EXPECT_TRUE(waitForOutput(pid_, "press Ctrl-C"));
        const std::string out = outputSoFar(pid_);
        const auto at = out.find("http://127.0.0.1:");
        const auto tok = out.find("/?token=");
        if (at != std::string::npos && tok != std::string::npos) {
            port_ = std::stoi(out.substr(at + 17, tok - at - 17));
            token_ = out.substr(tok + 8, 32);
        }
    }
    ~Server() {
        if (pid_ > 0) {
            stop();
        }
    }
    ToolResult stop() {
        ::kill(pid_, SIGINT);
        ToolResult r = finishTool(pid_);
        pid_ = -1;
        return r;
    }

    httplib::Client client() const { return httplib::Client("127.0.0.1", port_); }
    const std::string& token() const { return token_; }
    std::string host() const { return "127.0.0.1:" + std::to_string(port_); }

    json get(const std::string& path, int expect = 200) const {
        auto res = client().Get(path.c_str());
        EXPECT_TRUE(res) << path;
        if (!res) {
            return {};
        }
        EXPECT_EQ(res->status, expect) << path << " " << res->body;
        return json::parse(res->body, nullptr, false);
    }

    // A change: POST with the token (unless other headers are given).
    httplib::Result post(const std::string& path, const std::string& body, httplib::Headers headers = {}) const {
        if (headers.empty()) {
            headers = {{"X-ZX-Token", token_}};
        }
        return client().Post(path.c_str(), headers, body, "application/json");
    }

private:
    pid_t pid_ = -1;
    int port_ = 0;
    std::string token_;
};

class ServeMachine : public ::testing::TestWithParam<Machine> {};

TEST_P(ServeMachine, EveryReadShowsTheScenario) {
    const Machine& m = GetParam();
    Server s(m);
    ASSERT_EQ(s.token().size(), 32u);

    const json info = s.get("/api/info");
    EXPECT_EQ(info["simulated"], m.name);
    EXPECT_EQ(info["backend"], "NVIDIA");
    EXPECT_EQ(info["gpu_count"], m.gpuCount);
    EXPECT_EQ(info["adapters"][0]["card_id"], m.cardId);
    EXPECT_EQ(info["descriptions"][0], m.description0);

    const json status = s.get("/api/status");
    ASSERT_EQ(status["gpus"].size(), m.gpuCount);
    EXPECT_EQ(status["gpus"][0]["temperature_c"], m.temperature0);
    EXPECT_EQ(status["gpus"][0]["clocks"]["gpu"]["mhz"], json(m.gpuMHz0));
    EXPECT_TRUE(status["gpus"][0]["usage_percent"].is_null());
    EXPECT_EQ(status["gpus"][0]["unavailable"]["usage_percent"], "failed");
    // The same records as zxctl status --json.
    const ToolResult cli = zxctl(m, {"status", "--json"});
    ASSERT_EQ(cli.exitCode, 0) << cli.err;
    EXPECT_EQ(status, json::parse(cli.out));
    EXPECT_EQ(s.get("/api/status?gpu=" + std::to_string(m.gpuCount - 1))["gpus"].size(), 1u);
    s.get("/api/status?gpu=9", 400);

    EXPECT_EQ(s.get("/api/lock"), json({{"lock", "unlocked"}}));
    const json samples = s.get("/api/samples")["samples"];
    ASSERT_GE(samples.size(), m.gpuCount);
    EXPECT_EQ(samples[0]["temperature_c"], m.temperature0);
    EXPECT_EQ(samples[0]["gpu_mhz"], m.gpuMHz0.back());  // the current level is the top one

    // Live samples as server-sent events.
    std::string events;
    auto cli2 = s.client();
    cli2.Get("/api/events", [&](const char* data, std::size_t n) {
        events.append(data, n);
        return events.find("event: lock") == std::string::npos;
    });
    EXPECT_NE(events.find("event: sample\ndata: {"), std::string::npos) << events;
    EXPECT_NE(events.find("\"temperature_c\":" + std::to_string(m.temperature0)), std::string::npos) << events;

    // The embedded files, and nothing else.
    struct Path {
        const char* path;
        int status;
        const char* contains;
    };
    const Path paths[] = {{"/", 200, "dashboard.js"},          {"/dashboard.js", 200, "EventSource"},
                          {"/chart.min.js", 200, "Chart.js"},  {"/dashboard.css", 200, "body"},
                          {"/../../etc/passwd", 404, ""},      {"/%2e%2e/CMakeLists.txt", 404, ""},
                          {"/web/index.html", 404, ""},        {"/api/nothing", 404, ""}};
    for (const Path& p : paths) {
        auto res = s.client().Get(p.path);
        ASSERT_TRUE(res) << p.path;
        EXPECT_EQ(res->status, p.status) << p.path;
        EXPECT_NE(res->body.find(p.contains), std::string::npos) << p.path;
    }

    const ToolResult end = s.stop();
    EXPECT_EQ(end.exitCode, 0) << end.err;
    EXPECT_NE(end.out.find("Dashboard stopped."), std::string::npos) << end.out;
}

INSTANTIATE_TEST_SUITE_P(Machines, ServeMachine, ::testing::ValuesIn(kMachines), [](const auto& param) {
    std::string n = param.param.name;
    for (char& c : n) {
        c = c == '-' ? '_' : c;
    }
    return n;
});

TEST(Serve, RefusedChangesNeverReachTheCard) {
    const Machine& m = kMachines[0];
    Server s(m);
    const std::string change = R"({"what": "gpu-clock", "gpu": 0, "level": 1, "value": 420})";
    struct Case {
        const char* name;
        std::string path;
        std::string body;
        httplib::Headers headers;  // empty: the right token only
        int status;
        const char* error;
    };
    const httplib::Headers token = {{"X-ZX-Token", s.token()}};
    const std::vector<Case> cases = {
        {"no token", "/api/set", change, {{"X-Other", "1"}}, 403, "forbidden"},
        {"wrong token", "/api/set", change, {{"X-ZX-Token", std::string(32, '0')}}, 403, "forbidden"},
        {"lock without token", "/api/lock", R"({"hold": true})", {{"X-Other", "1"}}, 403, "forbidden"},
        {"foreign Origin", "/api/set", change,
         {{"X-ZX-Token", s.token()}, {"Origin", "http://evil.example"}}, 403, "forbidden"},
        {"foreign Host", "/api/set", change,
         {{"X-ZX-Token", s.token()}, {"Host", "evil.example:" + s.host().substr(10)}}, 403, "forbidden"},
        {"malformed JSON", "/api/set", R"({"what": "gpu-clock", )", {}, 400, "usage error"},
        {"not an object", "/api/set", "[1, 2]", {}, 400, "usage error"},
        {"out of range", "/api/set", R"({"what": "gpu-clock", "level": 1, "value": 5000})", {}, 400, "usage error"},
        {"fan out of range", "/api/set", R"({"what": "fan", "value": 101})", {}, 400, "usage error"},
        {"negative", "/api/set", R"({"what": "gpu-clock", "level": 1, "value": -1})", {}, 400, "usage error"},
        {"no level", "/api/set", R"({"what": "gpu-clock", "value": 400})", {}, 400, "usage error"},
        {"level 4", "/api/set", R"({"what": "gpu-clock", "level": 4, "value": 400})", {}, 400, "usage error"},
        {"unknown setting", "/api/set", R"({"what": "turbo", "value": 1})", {}, 400, "usage error"},
        {"no such GPU", "/api/set", R"({"what": "fan", "gpu": 3, "value": 50})", {}, 400, "usage error"},
        {"unknown reset", "/api/reset", R"({"what": "everything"})", {}, 400, "usage error"},
        {"bad lock", "/api/lock", R"({"hold": "yes"})", {}, 400, "usage error"},
    };
    const json before = s.get("/api/status");
    const std::size_t changes = changesLogged();
    for (const Case& c : cases) {
        auto res = s.post(c.path, c.body, c.headers);
        ASSERT_TRUE(res) << c.name;
        EXPECT_EQ(res->status, c.status) << c.name << ": " << res->body;
        const json body = json::parse(res->body, nullptr, false);
        EXPECT_EQ(body["error"], c.error) << c.name << ": " << res->body;
        EXPECT_FALSE(body["what"].get<std::string>().empty()) << c.name;
    }
    EXPECT_EQ(changesLogged(), changes);
    EXPECT_EQ(s.get("/api/status"), before);
    EXPECT_EQ(s.get("/api/lock")["lock"], "unlocked");
    // A read from another site's page is refused as well.
    auto res = s.client().Get("/api/status", {{"Origin", "http://evil.example"}});
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 403);

    // With the token the change reaches the card, and another process sees it.
    res = s.post("/api/set", change);
    ASSERT_TRUE(res);
    ASSERT_EQ(res->status, 200) << res->body;
    const json answer = json::parse(res->body);
    EXPECT_EQ(answer["done"], "GPU 0: GPU clock of level 1 set to 420 MHz");
    EXPECT_EQ(answer["status"]["clocks"]["gpu"]["mhz"][1], 420);
    EXPECT_GT(changesLogged(), changes);
    EXPECT_EQ(json::parse(zxctl(m, {"status", "--json"}).out)["gpus"][0]["clocks"]["gpu"]["mhz"][1], 420);

    res = s.post("/api/reset", R"({"what": "clocks"})");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200) << res->body;
    EXPECT_EQ(json::parse(res->body)["status"]["clocks"]["gpu"]["mhz"], json(m.gpuMHz0));
}

TEST(Serve, TheLockSwitchAndALockHeldElsewhere) {
    const Machine& m = kMachines[0];
    Server s(m);
    ToolRun hold;
    hold.args = {ZXCTL_PROGRAM, "--simulate", m.name, "lock", "hold"};
    hold.env = simEnv();
    const pid_t holder = startTool(hold);
    ASSERT_TRUE(waitForOutput(holder, "Holding the card lock"));
    EXPECT_EQ(s.get("/api/lock")["lock"], "held by another process");
    const std::size_t changes = changesLogged();
    for (const char* path : {"/api/set", "/api/lock"}) {
        auto res = s.post(path, path == std::string("/api/set") ? R"({"what": "gpu-clock", "level": 1, "value": 420})"
                                                                 : R"({"hold": true})");
        ASSERT_TRUE(res);
        EXPECT_EQ(res->status, 409) << path << " " << res->body;
        EXPECT_EQ(json::parse(res->body)["error"], "locked by another process") << path;
    }
    EXPECT_EQ(changesLogged(), changes);
    ::kill(holder, SIGINT);
    EXPECT_EQ(finishTool(holder).exitCode, 0);

    // The switch: the server holds the lock, another process is refused.
    auto res = s.post("/api/lock", R"({"hold": true})");
    ASSERT_TRUE(res);
    EXPECT_EQ(json::parse(res->body), json({{"lock", "held by this process"}})) << res->body;
    EXPECT_EQ(zxctl(m, {"set", "gpu-clock", "1", "420"}).exitCode, 5);
    res = s.post("/api/set", R"({"what": "gpu-clock", "level": 1, "value": 430})");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200) << res->body;
    res = s.post("/api/lock", R"({"hold": false})");
    ASSERT_TRUE(res);
    EXPECT_EQ(json::parse(res->body), json({{"lock", "unlocked"}}));
    EXPECT_EQ(zxctl(m, {"set", "gpu-clock", "1", "440"}).exitCode, 0);
}

}  // namespace
}  // namespace zxtest
