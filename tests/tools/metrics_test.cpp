// The Prometheus metrics: the text of one sample, who may read it, and a
// failing reading end to end (tests/tools/prometheus_test.py: a real server).
#include <gtest/gtest.h>
#include <signal.h>

#include <httplib.h>

#include "metrics.h"
#include "tools/run_tool.h"

namespace zxtest {
namespace {

using namespace zxctl::metrics;

TEST(Metrics, BaseUnitsEscapedLabelsAndNoSeriesForWhatWasNotRead) {
    Sample s{ZX_STATUS_OK, "NVIDIA", "a\"b\\c\nd", ZX_STATUS_OK, ZX_LOCK_HELD_ELSEWHERE, {}};
    s.gpus.assign(2, GpuReadings{"10DE_0611_A102_7A3C", {}, {54, 57, 700, 1100, 1500, 2, 1175, 1, 3}});
    s.gpus[1].status[kTemperature] = ZX_STATUS_FAILED;
    s.gpus[1].status[kMemoryVoltage] = ZX_STATUS_NOT_SUPPORTED;
    s.gpus[1].value[kVoltage] = 0;  // not known until first set
    Failures f;
    f.count(s), f.count(s);
    const std::string text = render(s, f), m = R"(machine="a\"b\\c\nd")";
    const std::string g0 = R"({gpu="0",card_id="10DE_0611_A102_7A3C",vendor="NVIDIA",)" + m;
    const std::string g1 = R"({gpu="1",card_id="10DE_0611_A102_7A3C",vendor="NVIDIA",)" + m;
    const std::pair<std::string, bool> lines[] = {
        {"zxdisplay_up{" + m + "} 1\n", true},
        {"zxdisplay_card_lock_held{" + m + R"(,holder="other_process"} 1)", true},
        {"zxdisplay_gpu_temperature_celsius" + g0 + "} 54\n", true},
        {"zxdisplay_gpu_fan_speed_ratio" + g0 + "} 0.57\n", true},
        {"zxdisplay_gpu_clock_hertz" + g0 + R"(,clock="shader"} 1500000000)", true},
        {"zxdisplay_gpu_performance_level" + g0 + "} 2\n", true},
        {"zxdisplay_gpu_voltage_volts" + g0 + "} 1.175\n", true},
        {"zxdisplay_gpu_temperature_celsius" + g1, false}, {"zxdisplay_gpu_memory_voltage_level" + g1, false},
        {"zxdisplay_gpu_voltage_volts" + g1, false},
        {"zxdisplay_gpu_reading_failures_total" + g1 + R"(,reading="temperature"} 2)", true},
        {"zxdisplay_gpu_reading_failures_total" + g1 + R"(,reading="memory_voltage_level"} 0)", true},
        {"zxdisplay_gpu_reading_failures_total" + g1 + R"(,reading="voltage"} 0)", true},
    };
    for (const auto& [line, present] : lines) {
        EXPECT_EQ(text.find(line) != std::string::npos, present) << line << "\n" << text;
    }
    const std::string down = render(Sample{ZX_STATUS_FAILED, "none", "", ZX_STATUS_NOT_INITIALISED, 0, {}}, f);
    EXPECT_TRUE(down.find("\nzxdisplay_up 0\n") != std::string::npos &&
                down.find("\nzxdisplay_start_status 1\n") != std::string::npos &&
                down.find("zxdisplay_card_lock_held{") == std::string::npos) << down;
}

TEST(Metrics, OffLoopbackOnlyTheTokenOrAListedClientReads) {
    const std::string token = testRoot() + "/token", allow = testRoot() + "/allow", bad = testRoot() + "/bad";
    writeFile(token, "s3cret\n");
    writeFile(allow, "# the lab's Prometheus\n10.0.0.7\n::1\n");
    writeFile(bad, "10.0.0.7\nprometheus.lab\n");
    const std::tuple<bool, std::string, std::string, std::string, std::string, int> cases[] = {
        {true, "", "", "127.0.0.1", "", 0},          {false, "", "", "10.0.0.7", "", 403},
        {true, token, "", "127.0.0.1", "", 401},     {false, token, "", "10.0.0.7", "Bearer s3cret", 0},
        {false, token, "", "10.0.0.7", "Bearer s3cre", 401},
        {false, "", allow, "::ffff:10.0.0.7", "", 0}, {false, "", allow, "::1", "", 0},
        {false, "", allow, "10.0.0.8", "Bearer s3cret", 403},
        {false, token, allow, "10.0.0.7", "", 401},  {false, token, allow, "10.0.0.9", "Bearer s3cret", 403},
    };
    for (const auto& [loopback, tokenFile, allowFile, client, authorization, expect] : cases) {
        Access a;
        ASSERT_EQ(loadAccess(a, loopback, tokenFile, allowFile), std::nullopt);
        EXPECT_EQ(refusal(a, client, authorization), expect) << tokenFile << allowFile << " " << client;
    }
    Access a;
    EXPECT_NE(loadAccess(a, false, "", bad).value_or("").find("bad:2: 'prometheus.lab'"), std::string::npos);
    EXPECT_NE(loadAccess(a, false, testRoot() + "/none", ""), std::nullopt);
}

// A fault line in the simulator's state file (which stands for its scenario)
// fails the temperature getter after the first scrape's two GPUs.
TEST(Metrics, AFailingReadingIsCountedAndItsSeriesGoes) {
    const Machine& m = kMachines[1];
    ASSERT_EQ(zxctl(m.name, {"info"}).exitCode, 0);
    const std::string state = testRoot() + "/state/zxdisplaylib/sim/" + m.name;
    writeFile(state + "/nvapi.state",
              readFile(state + "/machine/nvapi.scn") + "fault op=GetThermalSettings status=-1 after=2\n");
    writeFile(testRoot() + "/token", "s3cret");
    const pid_t pid = startTool({ZXCTL_PROGRAM, "--simulate", m.name, "serve", "--metrics-only", "--port", "0",
                                 "--metrics-token-file", testRoot() + "/token"});
    const std::string out = waitForOutput(pid, "Press Ctrl-C");
    const auto at = out.find("Metrics: http://127.0.0.1:");
    ASSERT_NE(at, std::string::npos) << out << finishTool(pid).err;
    httplib::Client c("127.0.0.1", std::stoi(out.substr(at + 26)));
    auto res = c.Get("/metrics");
    EXPECT_TRUE(res && res->status == 401);
    const std::string labels = R"({gpu="1",card_id=")" + std::string(m.cardId) + R"(",vendor="NVIDIA",machine=")" +
                               m.name + "\"";
    for (int n = 0; n < 3; ++n) {
        res = c.Get("/metrics", {{"Authorization", "Bearer s3cret"}});
        ASSERT_TRUE(res && res->status == 200);
        const std::string& body = res->body;
        EXPECT_NE(body.find("_failures_total" + labels + ",reading=\"temperature\"} " + std::to_string(n) + "\n"),
                  std::string::npos) << body;
        EXPECT_EQ(body.find("_temperature_celsius" + labels + "} " + std::to_string(m.gpus[1].temperature) + "\n") !=
                      std::string::npos, n == 0) << body;
        EXPECT_EQ(body.find("_temperature_celsius{") != std::string::npos, n == 0) << body;
    }
    ::kill(pid, SIGINT);
    EXPECT_EQ(finishTool(pid).exitCode, 0);
    for (const std::string& call : readLines(testRoot() + "/nvapi.log")) {  // nothing reached the card
        EXPECT_FALSE(call.starts_with("Set") || call.starts_with("I2CWrite") || call.starts_with("Restore")) << call;
    }
}

}  // namespace
}  // namespace zxtest
