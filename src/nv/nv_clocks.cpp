// GPU, memory and shader clocks of every performance level, straight from
// the driver's performance clocks records. Nothing is cached between calls.
#include <limits>

#include "nv/nv_backend.h"
#include "nv/nv_state.h"
#include "nv/nvapi_binding.h"

namespace zx::nv {

namespace {

// NVAPI's selector of performance level 0 to 3.
constexpr std::uint32_t kLevelSelectors[kMaxLevels] = {0, 1, 2, 4};

constexpr std::uint32_t kKHzPerMHz = 1000;

// One record per operation, reused for all its calls; the version word is
// written again before every query.
class ClockSession {
public:
    explicit ClockSession(NvGpuHandle gpu) : gpu_(gpu) {}

    bool query(std::uint32_t level) {
        rec_.version = kPerfClocksVersion;
        return nvapi().getPerfClocks(gpu_, kLevelSelectors[level], &rec_) == 0;
    }
    bool queryCurrentLevelSelector() {
        rec_.version = kPerfClocksVersion;
        return nvapi().getPerfClocks(gpu_, 0, &rec_) == 0;
    }
    bool apply(std::uint32_t level) { return nvapi().setPerfClocks(gpu_, kLevelSelectors[level], &rec_) == 0; }

    // Entries the driver reported, never more than the record holds.
    std::uint32_t entryCount() const {
        return rec_.entryCount < kMaxClockEntries ? rec_.entryCount : kMaxClockEntries;
    }
    NvClockEntry* find(std::uint32_t domain) {
        for (std::uint32_t i = 0; i < entryCount(); ++i) {
            if (rec_.entries[i].domainId == domain) {
                return &rec_.entries[i];
            }
        }
        return nullptr;
    }
    NvClockEntry& entry(std::uint32_t i) { return rec_.entries[i]; }
    const NvPerfClocksRecord& record() const { return rec_; }

private:
    NvGpuHandle gpu_;
    NvPerfClocksRecord rec_{};
};

// Levels reported and restored: those the driver has, at most the four that
// have a selector and room in LevelValues.
std::uint32_t usableLevelCount() {
    const std::uint32_t n = nvState().levelCount;
    return n < kMaxLevels ? n : kMaxLevels;
}

StatusCode levelClocks(std::uint32_t gpu, std::uint32_t domain, bool defaults, LevelValues* out) {
    const NvGpuHandle handle = gpuHandle(gpu);
    if (handle == nullptr) {
        return StatusCode::Failed;
    }
    // Filled aside: a driver call that fails half-way leaves the caller's
    // record as cleared, never a count with levels that were not read. A
    // card without the clock hands out the count (and what was found).
    LevelValues read{};
    const std::uint32_t levels = usableLevelCount();
    read.count = levels;
    ClockSession s(handle);
    for (std::uint32_t level = 0; level < levels; ++level) {
        if (!s.query(level)) {
            return StatusCode::Failed;
        }
        const NvClockEntry* e = s.find(domain);
        if (e == nullptr) {
            *out = read;
            return StatusCode::NotSupported;
        }
        read.values[level] = (defaults ? e->defaultKHz : e->frequencyKHz) / kKHzPerMHz;
    }
    *out = read;
    return StatusCode::Ok;
}

StatusCode rangeOf(ClockSession& s, std::uint32_t domain, RangeInfo* out) {
    const NvClockEntry* e = s.find(domain);
    if (e == nullptr) {
        return StatusCode::NotSupported;
    }
    out->maximum = e->maxKHz / kKHzPerMHz;
    out->minimum = e->minKHz / kKHzPerMHz;
    out->step = 1;
    return StatusCode::Ok;
}

StatusCode clockInfoOfLevel(std::uint32_t gpu, std::uint32_t domain, std::uint32_t level, RangeInfo* out) {
    const NvGpuHandle handle = gpuHandle(gpu);
    if (handle == nullptr) {
        return StatusCode::Failed;
    }
    if (level >= kMaxLevels) {
        return StatusCode::NotSupported;
    }
    ClockSession s(handle);
    if (!s.query(level)) {
        return StatusCode::Failed;
    }
    return rangeOf(s, domain, out);
}

StatusCode clockInfo(std::uint32_t gpu, std::uint32_t domain, RangeInfo* out) {
    const NvGpuHandle handle = gpuHandle(gpu);
    if (handle == nullptr) {
        return StatusCode::Failed;
    }
    ClockSession s(handle);
    if (!s.queryCurrentLevelSelector()) {
        return StatusCode::Failed;
    }
    const std::uint32_t current = s.record().currentLevel;
    if (current >= kMaxLevels) {
        return StatusCode::NotSupported;
    }
    if (!s.query(current)) {
        return StatusCode::Failed;
    }
    return rangeOf(s, domain, out);
}

// Marks the entries a set call is to apply and gives the clock's own entry
// its new frequency (or its default). Setting the memory clock re-applies the
// GPU clock of the level; setting the shader clock re-applies the GPU and
// memory clocks, each at the frequency the driver just reported.
StatusCode markForSet(ClockSession& s, std::uint32_t domain, bool useDefault, std::uint32_t kHz) {
    if (domain == ClockDomain::Graphics) {
        NvClockEntry* e = s.find(domain);
        if (e == nullptr) {
            return StatusCode::NotSupported;
        }
        e->frequencyKHz = useDefault ? e->defaultKHz : kHz;
        e->flags |= kClockEntryApply;
        return StatusCode::Ok;
    }
    bool found = false;
    for (std::uint32_t i = 0; i < s.entryCount(); ++i) {
        NvClockEntry& e = s.entry(i);
        if (e.domainId == domain) {
            e.frequencyKHz = useDefault ? e.defaultKHz : kHz;
            e.flags |= kClockEntryApply;
            found = true;
        } else if (e.domainId == ClockDomain::Graphics ||
                   (domain == ClockDomain::Processor && e.domainId == ClockDomain::Memory)) {
            e.flags |= kClockEntryApply;
        }
    }
    return found ? StatusCode::Ok : StatusCode::NotSupported;
}

StatusCode setLevelClock(std::uint32_t gpu, std::uint32_t domain, std::uint32_t level, std::uint32_t mhz) {
    const NvGpuHandle handle = gpuHandle(gpu);
    if (handle == nullptr) {
        return StatusCode::Failed;
    }
    if (level >= kMaxLevels) {
        return StatusCode::NotSupported;
    }
    // A clock whose kHz value does not fit 32 bits would wrap to an unrelated
    // frequency; no card runs that fast.
    if (mhz > std::numeric_limits<std::uint32_t>::max() / kKHzPerMHz) {
        return StatusCode::Failed;
    }
    ClockSession s(handle);
    if (!s.query(level)) {
        return StatusCode::Failed;
    }
    const StatusCode marked = markForSet(s, domain, false, mhz * kKHzPerMHz);
    if (marked != StatusCode::Ok) {
        return marked;
    }
    return s.apply(level) ? StatusCode::Ok : StatusCode::Failed;
}

// Stops at the first failing level; the levels before it stay restored.
StatusCode restoreDefaultClocks(std::uint32_t gpu, std::uint32_t domain) {
    const NvGpuHandle handle = gpuHandle(gpu);
    if (handle == nullptr) {
        return StatusCode::Failed;
    }
    ClockSession s(handle);
    for (std::uint32_t level = 0; level < usableLevelCount(); ++level) {
        if (!s.query(level)) {
            return StatusCode::Failed;
        }
        const StatusCode marked = markForSet(s, domain, true, 0);
        if (marked != StatusCode::Ok) {
            return marked;
        }
        if (!s.apply(level)) {
            return StatusCode::Failed;
        }
    }
    return StatusCode::Ok;
}

}  // namespace

#define ZX_NV_CLOCK_FAMILY(Name, domain)                                                                    \
    StatusCode NvBackend::getPerformanceLevel##Name##Clocks(std::uint32_t gpu, LevelValues* clocks) {      \
        return levelClocks(gpu, domain, false, clocks);                                                     \
    }                                                                                                       \
    StatusCode NvBackend::getPerformanceDefault##Name##Clocks(std::uint32_t gpu, LevelValues* clocks) {    \
        return levelClocks(gpu, domain, true, clocks);                                                      \
    }                                                                                                       \
    StatusCode NvBackend::get##Name##ClockInfo(std::uint32_t gpu, RangeInfo* range) {                      \
        return clockInfo(gpu, domain, range);                                                               \
    }                                                                                                       \
    StatusCode NvBackend::get##Name##ClockInfoEx(std::uint32_t gpu, std::uint32_t level, RangeInfo* range) { \
        return clockInfoOfLevel(gpu, domain, level, range);                                                 \
    }                                                                                                       \
    StatusCode NvBackend::setPerformanceLevel##Name##Clock(std::uint32_t gpu, std::uint32_t level,         \
                                                           std::uint32_t mhz) {                             \
        return setLevelClock(gpu, domain, level, mhz);                                                      \
    }                                                                                                       \
    StatusCode NvBackend::set##Name##ClockDefault(std::uint32_t gpu) { return restoreDefaultClocks(gpu, domain); }

ZX_NV_CLOCK_FAMILY(Gpu, ClockDomain::Graphics)
ZX_NV_CLOCK_FAMILY(Memory, ClockDomain::Memory)
ZX_NV_CLOCK_FAMILY(Shader, ClockDomain::Processor)

#undef ZX_NV_CLOCK_FAMILY

}  // namespace zx::nv
