// Prometheus metrics of the machine's cards (GET /metrics of zxctl serve):
// one sample of the library's getters, written in the text exposition
// format. Reading them never takes the card lock and never changes the card.
// Series, units and access: docs/metrics.md.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <zxdisplay.h>

namespace zxctl::metrics {

// The readings of one GPU, in the order their series are written.
enum Reading : unsigned {
    kTemperature,
    kFan,
    kGpuClock,
    kMemoryClock,
    kShaderClock,
    kLevel,
    kVoltage,
    kMemoryVoltage,
    kPwm,
    kReadingCount
};

// One GPU's readings in the library's units (°C, %, MHz, level, mV), each
// with the getter's answer.
struct GpuReadings {
    std::string cardId;
    std::array<ZXStatus, kReadingCount> status{};
    std::array<std::uint32_t, kReadingCount> value{};
};

struct Sample {
    ZXStatus start = ZX_STATUS_OK;  // ZXInitLib's answer
    std::string vendor;             // "NVIDIA", "ATI", "none"
    std::string machine;            // the simulated machine; "" on the real one
    ZXStatus lockStatus = ZX_STATUS_OK;
    std::uint32_t lock = ZX_LOCK_UNLOCKED;
    std::vector<GpuReadings> gpus;
};

// A reading whose series is missing because a getter failed; one the card
// does not offer, or a voltage not known until first set, is no failure.
bool failed(const GpuReadings& g, Reading r);

// Failed readings per GPU and reading since the serving process started.
class Failures {
public:
    void count(const Sample& s);
    std::uint64_t of(std::size_t gpu, Reading r) const;

private:
    std::vector<std::array<std::uint64_t, kReadingCount>> counts_;
};

// The exposition text of one sample.
std::string render(const Sample& s, const Failures& failures);

// One sample through the public header (the library must be started).
Sample collect();

// Scrapes: collects, counts the failures and renders. While the library has
// not started, each scrape tries ZXInitLib again. The caller serialises the
// calls with every other library call of the process.
class Collector {
public:
    explicit Collector(ZXStatus start) : start_(start) {}
    std::string scrape();
    bool started() const { return start_ == ZX_STATUS_OK; }

private:
    ZXStatus start_;
    Failures failures_;
};

// Who may read the metrics: anyone on a loopback address unless a credential
// is configured; else the bearer token, the listed client addresses, or both
// when both are given.
struct Access {
    bool open = true;
    std::string token;
    std::vector<std::array<unsigned char, 16>> clients;  // IPv6, IPv4 mapped
};

// Reads the token file and the file of allowed client addresses (one a line,
// '#' comments); the problem when one cannot be used.
std::optional<std::string> loadAccess(Access& access, bool loopback, const std::string& tokenFile,
                                      const std::string& allowFile);

// 0 when the request may read the metrics, else the HTTP status to answer
// (401 no or wrong token, 403 a client not listed).
int refusal(const Access& access, const std::string& clientAddress, const std::string& authorization);

}  // namespace zxctl::metrics
