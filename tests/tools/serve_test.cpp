// zxctl serve end to end: the real server on a simulated machine, talked to
// over HTTP; the NVAPI simulator's call log shows what reached the card.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>

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
// port and the one-time code, exchanged for the session cookie. Stopped by SIGINT.
struct Server {
    explicit Server(const Machine& m, const std::string& bind = "127.0.0.1")
        : pid(startTool({ZXCTL_PROGRAM, "--simulate", m.name, "serve", "--port", "0", "--bind", bind})) {
        const std::string out = waitForOutput(pid, "press Ctrl-C");
        const auto at = out.find("http://127.0.0.1:");
        const auto tok = out.find("/?code=");
        EXPECT_TRUE(at != std::string::npos && tok != std::string::npos) << "no URL printed: " << out;
        port = at != std::string::npos ? std::stoi(out.substr(at + 17)) : 0;
        code = tok != std::string::npos ? out.substr(tok + 7, 32) : "";
        auto res = client().Post("/api/session", json({{"code", code}}).dump(), "application/json");
        const std::string cookie = res ? res->get_header_value("Set-Cookie") : "";
        EXPECT_NE(cookie.find("; HttpOnly; SameSite=Strict"), std::string::npos) << cookie;
        session = cookie.substr(0, cookie.find(';'));
    }
    ~Server() { stop(); }
    int stop() {
        const int exit = pid > 0 && ::kill(pid, SIGINT) == 0 ? finishTool(pid).exitCode : -1;
        pid = -1;
        return exit;
    }

    httplib::Client client() const { return httplib::Client("127.0.0.1", port); }
    json get(const std::string& path, int expect = 200) const {
        auto res = client().Get(path);
        EXPECT_TRUE(res && res->status == expect) << path << " " << (res ? res->body : "no answer");
        return res ? json::parse(res->body, nullptr, false) : json();
    }
    // A change, with the session unless other headers are given: the answer's status and body.
    std::pair<int, json> post(const std::string& path, const std::string& body, httplib::Headers headers = {}) const {
        auto res = client().Post(path, headers.empty() ? httplib::Headers {{"Cookie", session}} : headers, body,
                                 "application/json");
        return res ? std::pair {res->status, json::parse(res->body, nullptr, false)} : std::pair {0, json()};
    }

    pid_t pid;
    int port = 0;
    std::string code, session;
};

// A connection to the server that sends text now and leaves the rest to the caller.
int connectAndSend(int port, const std::string& text) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a {};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    EXPECT_EQ(::send(fd, text.data(), text.size(), MSG_NOSIGNAL), static_cast<ssize_t>(text.size()));
    return fd;
}

TEST(Serve, EveryReadShowsTheScenario) {
    const Machine& m = kMachines[1];  // two GPUs
    Server s(m);
    ASSERT_EQ(s.code.size(), 32u);

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

TEST(Serve, AChangeNeedsTheSessionTheServersOwnNamesAValidRequestAndTheLock) {
    const Machine& m = kMachines[0];
    Server s(m);
    const std::string change = R"({"what": "gpu-clock", "gpu": 0, "level": 1, "value": 420})";
    const std::string hold = R"({"hold": true})";
    const httplib::Headers noSession = {{"Cookie", "zx_session_" + std::to_string(s.port) + "=" + s.code}};
    const std::tuple<std::string, std::string, httplib::Headers, int, const char*> cases[] = {
        {"/api/set", change, noSession, 403, "forbidden"},
        {"/api/lock", hold, noSession, 403, "forbidden"},
        {"/api/session", json({{"code", s.code}}).dump(), noSession, 403, "forbidden"},  // the code works once
        {"/api/set", change, {{"Cookie", s.session}, {"Origin", "http://evil.example"}}, 403, "forbidden"},
        {"/api/set", change, {{"Cookie", s.session}, {"Origin", "null"}}, 403, "forbidden"},
        {"/api/set", change, {{"Cookie", s.session}, {"Host", "evil.example:" + std::to_string(s.port)}}, 403,
         "forbidden"},
        {"/api/set", change, {{"Cookie", s.session}, {"Host", "10.1.2.3:" + std::to_string(s.port)}}, 403,
         "forbidden"},
        {"/api/set", std::string(30000, '[') + std::string(30000, ']'), {}, 400, "usage error"},
        {"/api/set", std::string(100000, '['), {}, 413, "usage error"},
        {"/api/lock", R"({"hold": false})", {}, 200, nullptr},  // nothing to give back: not a card failure
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
        EXPECT_EQ(answer.value(error ? "error" : "lock", ""), error ? error : "unlocked") << path << ": " << answer;
        EXPECT_FALSE(answer.value(error ? "what" : "result", "").empty()) << path << " " << answer;
    }
    ::kill(holder, SIGINT);
    EXPECT_EQ(finishTool(holder).exitCode, 0);
    EXPECT_EQ(changesLogged(), changes);
    EXPECT_EQ(s.get("/api/status"), before);

    // With the session the change reaches the card, and another process sees it.
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

TEST(Serve, OnAnotherAddressReadsNeedTheSessionAndOnlyTheArrivalAddressNamesTheServer) {
    Server s(kMachines[0], "0.0.0.0");
    const std::string port = ":" + std::to_string(s.port);
    const std::tuple<std::string, httplib::Headers, int> cases[] = {
        {"127.0.0.1", {}, 403},
        {"127.0.0.1", {{"Cookie", s.session}}, 200},
        {"127.0.0.1", {{"Cookie", s.session}, {"Host", "10.9.9.9" + port}}, 403},
        {"127.0.0.2", {{"Cookie", s.session}, {"Host", "127.0.0.2" + port}}, 200},  // where it arrived
        {"127.0.0.2", {{"Cookie", s.session}, {"Host", "127.0.0.3" + port}}, 403},
    };
    for (const auto& [address, headers, status] : cases) {
        auto res = httplib::Client(address, s.port).Get("/api/lock", headers);
        EXPECT_TRUE(res && res->status == status) << address << " " << (res ? res->body : "no answer");
    }
}

TEST(Serve, AnswersWithinMomentsWhileHundredsOfStreamsAndSlowClientsAreOpenAndOwnsItsPort) {
    Server s(kMachines[0]);
    EXPECT_EQ(zxctl(kMachines[0].name, {"serve", "--port", std::to_string(s.port)}).exitCode, 1);

    using Clock = std::chrono::steady_clock;
    const auto statusTime = [&] {
        const auto t0 = Clock::now();
        auto res = s.client().Get("/api/status");
        EXPECT_TRUE(res && res->status == 200);
        return Clock::now() - t0;
    };
    auto normal = Clock::duration::zero();
    for (int i = 0; i < 5; ++i) {
        normal = std::max(normal, statusTime());
    }
    const std::string host = "Host: 127.0.0.1:" + std::to_string(s.port) + "\r\n";
    std::vector<int> streams, slow;
    for (int i = 0; i < 200; ++i) {
        streams.push_back(connectAndSend(s.port, "GET /api/events HTTP/1.1\r\n" + host + "\r\n"));
        slow.push_back(connectAndSend(s.port, "GET /api/info HTTP/1.1\r\n"));
    }
    // Slow clients send a header line a second; the server answers as usual
    // and drops them once their request is overdue.
    const auto start = Clock::now();
    for (int tick = 0; Clock::now() - start < std::chrono::seconds(7); ++tick) {
        if (tick % 10 == 0) {
            for (int fd : slow) {
                ::send(fd, host.data(), host.size(), MSG_NOSIGNAL);
            }
        }
        // A request queued behind the open sockets stays late; one the shared
        // machine's scheduler held up once is on time when asked again.
        EXPECT_LT(std::min(statusTime(), statusTime()), normal + std::chrono::milliseconds(100)) << "tick " << tick;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    // Streams beyond 256 are refused.
    for (int i = 0; i < 57; ++i) {
        streams.push_back(connectAndSend(s.port, "GET /api/events HTTP/1.1\r\n" + host + "\r\n"));
    }
    std::size_t dropped = 0, streaming = 0, refused = 0;
    char buf[4096];
    for (int fd : slow) {
        while (::recv(fd, buf, sizeof buf, MSG_DONTWAIT) > 0) {
        }
        dropped += ::recv(fd, buf, sizeof buf, MSG_DONTWAIT) == 0 ? 1 : 0;
        ::close(fd);
    }
    for (int fd : streams) {
        pollfd ready {fd, POLLIN, 0};
        ::poll(&ready, 1, 2000);
        const ssize_t n = ::recv(fd, buf, sizeof buf - 1, MSG_DONTWAIT);
        const std::string answer(buf, static_cast<std::size_t>(std::max<ssize_t>(n, 0)));
        streaming += answer.starts_with("HTTP/1.1 200") ? 1 : 0;
        refused += answer.starts_with("HTTP/1.1 503") ? 1 : 0;
    }
    std::for_each(streams.begin(), streams.end(), ::close);  // only now: a stream closed frees a place
    EXPECT_EQ(dropped, slow.size());
    EXPECT_EQ(streaming, 256u);
    EXPECT_EQ(refused, 1u);
    EXPECT_LT(statusTime(), normal + std::chrono::milliseconds(100));
    EXPECT_EQ(s.stop(), 0);
}

}  // namespace
}  // namespace zxtest
