// Prometheus metrics of the machine's cards (see metrics.h, docs/metrics.md).
#include "metrics.h"

#include <arpa/inet.h>

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "simulate.h"

namespace zxctl::metrics {

namespace {

// One per-GPU series: its reading, name, help, the label that tells the
// clocks apart, and the power of ten from the library's unit to the base
// unit (MHz to Hz: 6; percent to a ratio: -2).
struct Series {
    Reading reading;
    const char* failureName;  // the reading label of the failure counter
    const char* name;
    const char* help;
    const char* label;
    int exponent;
};

constexpr Series kSeries[] = {
    {kTemperature, "temperature", "zxdisplay_gpu_temperature_celsius", "GPU temperature.", "", 0},
    {kFan, "fan_speed", "zxdisplay_gpu_fan_speed_ratio", "Speed of the GPU's fan 0, 0 to 1 of full speed.", "",
     -2},
    {kGpuClock, "gpu_clock", "zxdisplay_gpu_clock_hertz",
     "Clock in force: that of the current performance level, per clock domain.", "clock=\"gpu\"", 6},
    {kMemoryClock, "memory_clock", "zxdisplay_gpu_clock_hertz", "", "clock=\"memory\"", 6},
    {kShaderClock, "shader_clock", "zxdisplay_gpu_clock_hertz", "", "clock=\"shader\"", 6},
    {kLevel, "performance_level", "zxdisplay_gpu_performance_level", "Current performance level (0-based).", "", 0},
    {kVoltage, "voltage", "zxdisplay_gpu_voltage_volts", "GPU voltage now.", "", -3},
    {kMemoryVoltage, "memory_voltage_level", "zxdisplay_gpu_memory_voltage_level",
     "Memory-voltage level of the regulator, in the card data file's levels.", "", 0},
    {kPwm, "pwm_clock_level", "zxdisplay_gpu_pwm_clock_level",
     "PWM-clock level of the regulator, in the card data file's levels.", "", 0},
};

std::string escape(const std::string& value) {
    std::string out;
    for (char c : value) {
        out += c == '\\' ? "\\\\" : c == '"' ? "\\\"" : c == '\n' ? "\\n" : std::string(1, c);
    }
    return out;
}

// Whole units stay integers (700 MHz is 700000000); fractions are divided,
// not multiplied by 0.01 (57 % is 0.57, not 0.5700000000000001), and written
// in the shortest form that reads back exactly (1200 mV is 1.2).
std::string number(std::uint32_t value, int exponent) {
    std::uint64_t power = 1;
    for (int i = 0; i < (exponent < 0 ? -exponent : exponent); ++i) {
        power *= 10;
    }
    if (exponent >= 0) {
        return std::to_string(value * power);
    }
    char buf[32];
    const auto end = std::to_chars(buf, buf + sizeof buf, value / static_cast<double>(power)).ptr;
    return std::string(buf, end);
}

void header(std::string& out, const char* name, const char* help, const char* type) {
    out += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n";
}

const char* vendorOf(std::uint32_t kind) {
    return kind == ZX_VENDOR_ATI ? "ATI" : kind == ZX_VENDOR_NVIDIA ? "NVIDIA" : "none";
}

bool parseAddress(std::string text, std::array<unsigned char, 16>& out) {
    in_addr a4{};
    if (::inet_pton(AF_INET, text.c_str(), &a4) == 1) {
        out = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
        std::memcpy(out.data() + 12, &a4, 4);
        return true;
    }
    return ::inet_pton(AF_INET6, text.c_str(), out.data()) == 1;
}

std::string trim(const std::string& s) {
    const auto b = s.find_first_not_of(" \t\r\n");
    return b == std::string::npos ? std::string() : s.substr(b, s.find_last_not_of(" \t\r\n") - b + 1);
}

}  // namespace

bool failed(const GpuReadings& g, Reading r) {
    return g.status[r] != ZX_STATUS_OK && g.status[r] != ZX_STATUS_NOT_SUPPORTED;
}

void Failures::count(const Sample& s) {
    counts_.resize(std::max(counts_.size(), s.gpus.size()));
    for (std::size_t g = 0; g < s.gpus.size(); ++g) {
        for (unsigned r = 0; r < kReadingCount; ++r) {
            counts_[g][r] += failed(s.gpus[g], Reading(r)) ? 1 : 0;
        }
    }
}

std::uint64_t Failures::of(std::size_t gpu, Reading r) const { return gpu < counts_.size() ? counts_[gpu][r] : 0; }

std::string render(const Sample& s, const Failures& failures) {
    const std::string machine = s.machine.empty() ? "" : "machine=\"" + escape(s.machine) + "\"";
    const std::string machineLabels = machine.empty() ? "" : "{" + machine + "}";
    std::string out;
    header(out, "zxdisplay_up", "Whether the library started (1) or not (0).", "gauge");
    out += "zxdisplay_up" + machineLabels + (s.start == ZX_STATUS_OK ? " 1\n" : " 0\n");
    header(out, "zxdisplay_start_status", "The library's start-up answer: 0 ok, 1 failed, 5 adapters of "
                                          "different models.", "gauge");
    out += "zxdisplay_start_status" + machineLabels + " " + std::to_string(s.start) + "\n";
    header(out, "zxdisplay_gpus", "GPUs the library drives.", "gauge");
    out += "zxdisplay_gpus" + machineLabels + " " + std::to_string(s.gpus.size()) + "\n";
    if (s.lockStatus == ZX_STATUS_OK) {
        header(out, "zxdisplay_card_lock_held", "Whether this process or another one holds the card lock.",
               "gauge");
        for (const auto& [holder, state] : {std::pair{"this_process", ZX_LOCK_HELD_HERE},
                                            std::pair{"other_process", ZX_LOCK_HELD_ELSEWHERE}}) {
            out += std::string("zxdisplay_card_lock_held{") + (machine.empty() ? "" : machine + ",") + "holder=\"" +
                   holder + "\"} " + (s.lock == state ? "1" : "0") + "\n";
        }
    }
    std::vector<std::string> labels;
    for (std::size_t g = 0; g < s.gpus.size(); ++g) {
        labels.push_back("gpu=\"" + std::to_string(g) + "\",card_id=\"" + escape(s.gpus[g].cardId) +
                         "\",vendor=\"" + escape(s.vendor) + "\"" + (machine.empty() ? "" : "," + machine));
    }
    for (const Series& series : kSeries) {
        if (*series.help != '\0') {
            header(out, series.name, series.help, "gauge");
        }
        for (std::size_t g = 0; g < s.gpus.size(); ++g) {
            const GpuReadings& gpu = s.gpus[g];
            // A voltage of 0 is one not known until first set.
            if (gpu.status[series.reading] != ZX_STATUS_OK || (series.reading == kVoltage && gpu.value[kVoltage] == 0)) {
                continue;
            }
            out += std::string(series.name) + "{" + labels[g] + (*series.label != '\0' ? "," : "") + series.label +
                   "} " + number(gpu.value[series.reading], series.exponent) + "\n";
        }
    }
    header(out, "zxdisplay_gpu_reading_failures_total", "Readings whose getter failed, per reading, since the "
                                                        "server started.", "counter");
    for (std::size_t g = 0; g < s.gpus.size(); ++g) {
        for (const Series& series : kSeries) {
            out += "zxdisplay_gpu_reading_failures_total{" + labels[g] + ",reading=\"" + series.failureName +
                   "\"} " + std::to_string(failures.of(g, series.reading)) + "\n";
        }
    }
    return out;
}

Sample collect() {
    Sample s;
    const char* sim = std::getenv(kSimulatedEnv);
    s.machine = sim != nullptr ? sim : "";
    ZXAdapterInfoRecord a{};
    ZXGetAdapterInfo(&a);
    s.vendor = vendorOf(a.count > 0 ? a.kind[0] : 0);
    s.lockStatus = ZXGetLockLibStatus(&s.lock);
    std::uint32_t n = 0;
    ZXGetGpuCount(&n);
    using LevelsFn = ZXStatus (*)(std::uint32_t, ZXLevelValues*);
    constexpr std::pair<Reading, LevelsFn> kClocks[] = {{kGpuClock, ZXGetPerformanceLevelGPUClocks},
                                                        {kMemoryClock, ZXGetPerformanceLevelMemoryClocks},
                                                        {kShaderClock, ZXGetPerformanceLevelShaderClocks}};
    for (std::uint32_t i = 0; i < n && i < 64; ++i) {
        GpuReadings g;
        // Adapters are all one model (the library refuses mixed ones).
        const std::uint32_t ad = std::min<std::uint32_t>(i, a.count > 0 ? a.count - 1 : 0);
        g.cardId = a.count == 0 ? "" : std::string(a.vendorId[ad]) + "_" + a.deviceId[ad] + "_" + a.subsystemId[ad] +
                                           "_" + a.subsystemVendorId[ad];
        auto& v = g.value;
        g.status[kTemperature] = ZXGetTemperature(i, &v[kTemperature]);
        g.status[kFan] = ZXGetFanSpeed(i, 0, &v[kFan], 0);
        g.status[kLevel] = ZXGetCurrentPerformanceLevel(i, &v[kLevel]);
        for (const auto& [reading, levels] : kClocks) {
            ZXLevelValues lv{};
            ZXStatus st = g.status[kLevel] != ZX_STATUS_OK ? g.status[kLevel] : levels(i, &lv);
            if (st == ZX_STATUS_OK && v[kLevel] >= std::min<std::uint32_t>(lv.count, 4)) {
                st = ZX_STATUS_FAILED;
            }
            g.status[reading] = st;
            v[reading] = st == ZX_STATUS_OK ? lv.values[v[kLevel]] : 0;
        }
        std::uint32_t vid = 0;
        g.status[kVoltage] = ZXGetCurrentVoltage(i, &v[kVoltage], &vid);
        g.status[kMemoryVoltage] = ZXGetCurrentMemoryVoltageLevel(i, &v[kMemoryVoltage]);
        g.status[kPwm] = ZXGetCurrentPWMClockLevel(i, &v[kPwm]);
        s.gpus.push_back(g);
    }
    return s;
}

std::string Collector::scrape() {
    if (start_ != ZX_STATUS_OK) {
        start_ = ZXInitLib();
    }
    Sample s = start_ == ZX_STATUS_OK ? collect() : Sample{};
    s.start = start_;
    if (!started()) {
        s.lockStatus = ZX_STATUS_NOT_INITIALISED;
        const char* sim = std::getenv(kSimulatedEnv);
        s.machine = sim != nullptr ? sim : "";
    }
    failures_.count(s);
    return render(s, failures_);
}

std::optional<std::string> loadAccess(Access& access, bool loopback, const std::string& tokenFile,
                                      const std::string& allowFile) {
    if (!tokenFile.empty()) {
        std::ifstream in(tokenFile, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        access.token = trim(text.str());
        if (!in || access.token.empty() || access.token.find_first_of(" \t\r\n") != std::string::npos) {
            return "--metrics-token-file: " + tokenFile + " cannot be read or holds no single token";
        }
    }
    if (!allowFile.empty()) {
        std::ifstream in(allowFile);
        if (!in) {
            return "--metrics-allow-file: " + allowFile + " cannot be read";
        }
        int number = 0;
        for (std::string line; std::getline(in, line);) {
            ++number;
            line = trim(line.substr(0, line.find('#')));
            std::array<unsigned char, 16> address{};
            if (!line.empty() && !parseAddress(line, address)) {
                return "--metrics-allow-file: " + allowFile + ":" + std::to_string(number) + ": '" + line +
                       "' is not an IP address";
            }
            if (!line.empty()) {
                access.clients.push_back(address);
            }
        }
        if (access.clients.empty()) {
            return "--metrics-allow-file: " + allowFile + " lists no address";
        }
    }
    access.open = loopback && access.token.empty() && access.clients.empty();
    return std::nullopt;
}

int refusal(const Access& access, const std::string& clientAddress, const std::string& authorization) {
    if (access.open) {
        return 0;
    }
    if (access.token.empty() && access.clients.empty()) {
        return 403;  // another address and no credential configured
    }
    std::array<unsigned char, 16> client{};
    if (!access.clients.empty() && (!parseAddress(clientAddress, client) ||
                                    std::find(access.clients.begin(), access.clients.end(), client) ==
                                        access.clients.end())) {
        return 403;
    }
    if (!access.token.empty()) {
        const std::string expected = "Bearer " + access.token;
        unsigned diff = authorization.size() != expected.size() ? 1 : 0;
        for (std::size_t i = 0; i < authorization.size() && i < expected.size(); ++i) {
            diff |= static_cast<unsigned>(authorization[i] ^ expected[i]);
        }
        return diff == 0 ? 0 : 401;
    }
    return 0;
}

}  // namespace zxctl::metrics
