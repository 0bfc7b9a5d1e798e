#include "simulator.h"

#include "driver_support.h"
#include "state_file.h"
#include "zxsim_nvapi.h"

namespace zxsim {

namespace {

constexpr NvStatus kOk = ZXSIM_NVAPI_OK;
constexpr NvStatus kError = ZXSIM_NVAPI_ERROR;
constexpr NvStatus kNotInitialised = ZXSIM_NVAPI_NOT_INITIALISED;
constexpr NvStatus kInvalidArgument = ZXSIM_NVAPI_INVALID_ARGUMENT;
constexpr NvStatus kInvalidHandle = ZXSIM_NVAPI_INVALID_HANDLE;
constexpr NvStatus kVersionMismatch = ZXSIM_NVAPI_VERSION_MISMATCH;

// The physical-GPU handles: GPU i of the scenario is &g_handles[i].
std::uint8_t g_handles[nv::kMaxPhysicalGpus];

std::string versionText(std::uint32_t version) { return fmt(" version=0x%X", version); }

}  // namespace

// One driver call being answered: builds its log line ("Name args -> status
// outputs") and applies the checks every operation makes first.
class Simulator::Call {
public:
    Call(Simulator& sim, Op op, nv::NvGpuHandle handle = nullptr) : sim_(sim), op_(op) {
        sim_.startLocked();
        line_ = opInfo(op).name;
        if (opInfo(op).takesGpu) {
            gpu_ = sim_.gpuIndex(handle);
            line_ += gpu_ ? fmt(" gpu=%u", *gpu_) : std::string(" gpu=?");
        }
    }

    void arg(const std::string& text) { line_ += text; }

    // A record pointer and its version word: the status they call for, with
    // what is wrong added to the line. Nothing past the version word is read.
    template <typename Record>
    NvStatus checkRecord(const Record* rec, std::uint32_t version) {
        if (rec == nullptr) {
            arg(" rec=null");
            return kInvalidArgument;
        }
        if (rec->version != version) {
            arg(versionText(rec->version));
            return kVersionMismatch;
        }
        return kOk;
    }

    // The status that ends the call before the operation proper: not
    // initialised, not a GPU of the scenario, an injected fault, or else the
    // failed argument check.
    std::optional<NvStatus> refuse(NvStatus check = kOk) {
        if (op_ != Op::Initialize && !sim_.initialised_) {
            return kNotInitialised;
        }
        if (opInfo(op_).takesGpu && !gpu_) {
            return kInvalidHandle;
        }
        return refusal(
            sim_.state_.faults, [&](const Fault& f) { return f.op == op_ && (!f.gpu || f.gpu == gpu_); }, check, kOk);
    }

    Gpu& gpu() { return sim_.state_.gpus[*gpu_]; }
    unsigned gpuNumber() const { return *gpu_; }

    NvStatus done(NvStatus status, const std::string& outputs = {}) {
        sim_.appendLog(line_ + fmt(" -> %d", status) + (status == kOk ? outputs : std::string()));
        if (status == kOk && changesState(op_)) {
            sim_.saveLocked();
        }
        return status;
    }

private:
    Simulator& sim_;
    Op op_;
    std::optional<unsigned> gpu_;
    std::string line_;
};

Simulator::Simulator()
    : DriverCore({"zxsim_nvapi", "ZXSIM_NVAPI_SCENARIO", "ZXSIM_NVAPI_LOG", "ZXSIM_NVAPI_STATE", "ZXSIM_NVAPI_ADDITIONS"}) {}

Simulator& Simulator::instance() {
    static Simulator sim;
    return sim;
}

std::optional<unsigned> Simulator::gpuIndex(nv::NvGpuHandle handle) const {
    for (std::size_t i = 0; i < state_.gpus.size(); ++i) {
        if (handle == &g_handles[i]) {
            return static_cast<unsigned>(i);
        }
    }
    return std::nullopt;
}

Gpu* Simulator::gpuAt(unsigned gpu) { return gpu < state_.gpus.size() ? &state_.gpus[gpu] : nullptr; }

std::optional<Op> Simulator::queryInterface(std::uint32_t id) {
    std::lock_guard<std::mutex> lock(mutex_);
    startLocked();
    std::optional<Op> op = opById(id);
    if (op && state_.missing[static_cast<std::size_t>(*op)]) {
        op.reset();
    }
    appendLog(fmt("QueryInterface 0x%08X -> %s", id, op ? "found" : "none"));
    return op;
}

NvStatus Simulator::initialize() {
    std::lock_guard<std::mutex> lock(mutex_);
    Call call(*this, Op::Initialize);
    if (auto status = call.refuse()) {
        return call.done(*status);
    }
    if (broken_) {
        return call.done(kError);
    }
    initialised_ = true;
    return call.done(kOk);
}

NvStatus Simulator::enumPhysicalGpus(nv::NvGpuHandle* handles, std::uint32_t* count) {
    std::lock_guard<std::mutex> lock(mutex_);
    Call call(*this, Op::EnumPhysicalGpus);
    if (handles == nullptr) {
        call.arg(" handles=null");
    }
    if (count == nullptr) {
        call.arg(" count=null");
    }
    if (auto status = call.refuse(handles == nullptr || count == nullptr ? kInvalidArgument : kOk)) {
        return call.done(*status);
    }
    std::size_t n = state_.gpus.size();
    for (std::size_t i = 0; i < n; ++i) {
        handles[i] = &g_handles[i];
    }
    *count = static_cast<std::uint32_t>(n);
    return call.done(kOk, fmt(" count=%u", *count));
}

NvStatus Simulator::getBusId(nv::NvGpuHandle gpu, std::uint32_t* bus) {
    std::lock_guard<std::mutex> lock(mutex_);
    Call call(*this, Op::GetBusId, gpu);
    if (bus == nullptr) {
        call.arg(" bus=null");
    }
    if (auto status = call.refuse(bus == nullptr ? kInvalidArgument : kOk)) {
        return call.done(*status);
    }
    *bus = call.gpu().bus;
    return call.done(kOk, fmt(" bus=%u", *bus));
}

NvStatus Simulator::getPerfClocks(nv::NvGpuHandle gpu, std::uint32_t selector, nv::NvPerfClocksRecord* rec) {
    std::lock_guard<std::mutex> lock(mutex_);
    Call call(*this, Op::GetPerfClocks, gpu);
    call.arg(fmt(" sel=%u", selector));
    NvStatus check = call.checkRecord(rec, nv::kPerfClocksVersion);
    if (auto status = call.refuse(check)) {
        return call.done(*status);
    }
    const Gpu& g = call.gpu();
    rec->levelCount = g.levelCount;
    rec->currentLevel = g.currentLevel;
    auto it = g.clocks.find(selector);
    std::size_t n = it == g.clocks.end() ? 0 : it->second.size();
    rec->entryCount = static_cast<std::uint32_t>(n);
    for (std::size_t k = 0; k < n; ++k) {
        rec->entries[k] = it->second[k];
    }
    return call.done(kOk);
}

NvStatus Simulator::setPerfClocks(nv::NvGpuHandle gpu, std::uint32_t selector, nv::NvPerfClocksRecord* rec) {
    std::lock_guard<std::mutex> lock(mutex_);
    Call call(*this, Op::SetPerfClocks, gpu);
    call.arg(fmt(" sel=%u", selector));
    NvStatus check = call.checkRecord(rec, nv::kPerfClocksVersion);
    if (check == kOk && rec->entryCount > nv::kMaxClockEntries) {
        call.arg(fmt(" entries=%u", rec->entryCount));
        check = kInvalidArgument;
    } else if (check == kOk) {
        std::string flagged;
        for (std::uint32_t k = 0; k < rec->entryCount; ++k) {
            const nv::NvClockEntry& e = rec->entries[k];
            if ((e.flags & nv::kClockEntryApply) != 0) {
                flagged += fmt("%s%u:%u", flagged.empty() ? "" : ",", e.domainId, e.frequencyKHz);
            }
        }
        call.arg(" flagged=[" + flagged + "]");
    }
    if (auto status = call.refuse(check)) {
        return call.done(*status);
    }
    auto it = call.gpu().clocks.find(selector);
    // Every flagged entry must name a domain the level has, at a frequency in
    // its range; otherwise nothing is applied.
    std::vector<std::pair<nv::NvClockEntry*, std::uint32_t>> changes;
    for (std::uint32_t k = 0; k < rec->entryCount; ++k) {
        const nv::NvClockEntry& e = rec->entries[k];
        if ((e.flags & nv::kClockEntryApply) == 0) {
            continue;
        }
        nv::NvClockEntry* target = nullptr;
        if (it != call.gpu().clocks.end()) {
            for (nv::NvClockEntry& own : it->second) {
                if (own.domainId == e.domainId) {
                    target = &own;
                    break;
                }
            }
        }
        if (target == nullptr || e.frequencyKHz < target->minKHz || e.frequencyKHz > target->maxKHz) {
            return call.done(kInvalidArgument);
        }
        changes.emplace_back(target, e.frequencyKHz);
    }
    for (auto& [target, khz] : changes) {
        target->frequencyKHz = khz;
    }
    return call.done(kOk);
}

NvStatus Simulator::getThermalSettings(nv::NvGpuHandle gpu, std::uint32_t sensor, nv::NvThermalRecord* rec) {
    std::lock_guard<std::mutex> lock(mutex_);
    Call call(*this, Op::GetThermalSettings, gpu);
    call.arg(fmt(" sensor=%u", sensor));
    NvStatus check = call.checkRecord(rec, nv::kThermalVersion);
    if (auto status = call.refuse(check)) {
        return call.done(*status);
    }
    const Gpu& g = call.gpu();
    if (sensor >= g.sensors.size()) {
        return call.done(kInvalidArgument);
    }
    rec->sensorCount = 1;
    rec->sensors[0] = g.sensors[sensor];
    if (const auto s = g.schedules.find(sensor); s != g.schedules.end()) {
        const std::optional<std::uint32_t> now = s->second.now();
        if (!now) {
            return call.done(kError);
        }
        rec->sensors[0].currentTemp = *now;
    }
    return call.done(kOk);
}

NvStatus Simulator::getCoolerSettings(nv::NvGpuHandle gpu, std::uint32_t selector, nv::NvCoolerRecord* rec) {
    std::lock_guard<std::mutex> lock(mutex_);
    Call call(*this, Op::GetCoolerSettings, gpu);
    call.arg(fmt(" sel=%u", selector));
    NvStatus check = call.checkRecord(rec, nv::kCoolerVersion);
    if (auto status = call.refuse(check)) {
        return call.done(*status);
    }
    const std::vector<Cooler>& coolers = call.gpu().coolers;
    if (selector == nv::kCoolerSelectorAll) {
        rec->count = static_cast<std::uint32_t>(coolers.size());
        for (std::size_t i = 0; i < coolers.size(); ++i) {
            rec->coolers[i] = coolers[i].row;
        }
    } else if (selector < coolers.size()) {
        rec->count = 1;
        rec->coolers[0] = coolers[selector].row;
    } else {
        return call.done(kInvalidArgument);
    }
    return call.done(kOk);
}

NvStatus Simulator::setCoolerLevels(nv::NvGpuHandle gpu, std::uint32_t index, nv::NvCoolerLevelsRecord* rec) {
    std::lock_guard<std::mutex> lock(mutex_);
    Call call(*this, Op::SetCoolerLevels, gpu);
    call.arg(fmt(" index=%u", index));
    NvStatus check = call.checkRecord(rec, nv::kCoolerLevelsVersion);
    if (check == kOk) {
        std::string rows;
        for (const auto& row : rec->coolers) {
            rows += fmt("%s%u/%u", rows.empty() ? "" : ",", row.level, row.policy);
        }
        call.arg(" rows=[" + rows + "]");
    }
    if (auto status = call.refuse(check)) {
        return call.done(*status);
    }
    std::vector<Cooler>& coolers = call.gpu().coolers;
    if (index >= coolers.size()) {
        return call.done(kInvalidArgument);
    }
    nv::NvCoolerRow& row = coolers[index].row;
    std::uint32_t level = rec->coolers[index].level;
    if (level < row.currentMinLevel || level > row.currentMaxLevel) {
        return call.done(kInvalidArgument);
    }
    if (const auto ceiling = coolers[index].ceiling; ceiling && level > *ceiling) {
        level = *ceiling;
    }
    row.currentLevel = level;
    row.currentPolicy = rec->coolers[index].policy;
    return call.done(kOk);
}

NvStatus Simulator::restoreCoolerSettings(nv::NvGpuHandle gpu, std::uint32_t* indices, std::uint32_t count) {
    std::lock_guard<std::mutex> lock(mutex_);
    Call call(*this, Op::RestoreCoolerSettings, gpu);
    NvStatus check = kOk;
    if (indices == nullptr) {
        call.arg(fmt(" indices=null count=%u", count));
        check = kInvalidArgument;
    } else if (count == 0 || count > nv::kMaxCoolers) {
        call.arg(fmt(" count=%u", count));
        check = kInvalidArgument;
    } else {
        std::string list;
        for (std::uint32_t k = 0; k < count; ++k) {
            list += fmt("%s%u", list.empty() ? "" : ",", indices[k]);
        }
        call.arg(" indices=[" + list + "]");
    }
    if (auto status = call.refuse(check)) {
        return call.done(*status);
    }
    std::vector<Cooler>& coolers = call.gpu().coolers;
    for (std::uint32_t k = 0; k < count; ++k) {
        if (indices[k] >= coolers.size()) {
            return call.done(kInvalidArgument);
        }
    }
    for (std::uint32_t k = 0; k < count; ++k) {
        Cooler& c = coolers[indices[k]];
        c.row.currentLevel = c.defaultLevel;
        c.row.currentPolicy = c.row.defaultPolicy;
    }
    return call.done(kOk);
}

NvStatus Simulator::i2cRead(nv::NvGpuHandle gpu, nv::NvI2cTransfer* t, std::uint32_t* one) {
    std::lock_guard<std::mutex> lock(mutex_);
    Call call(*this, Op::I2cRead, gpu);
    return transfer(call, t, one, false);
}

NvStatus Simulator::i2cWrite(nv::NvGpuHandle gpu, nv::NvI2cTransfer* t, std::uint32_t* one) {
    std::lock_guard<std::mutex> lock(mutex_);
    Call call(*this, Op::I2cWrite, gpu);
    return transfer(call, t, one, true);
}

// One byte to or from one register of a device on the GPU's own I2C port. The
// log shows the address, register and (written or read) byte, then every
// record field that is not what a one-byte transfer carries.
NvStatus Simulator::transfer(Call& call, nv::NvI2cTransfer* t, std::uint32_t* one, bool write) {
    NvStatus check = kOk;
    if (t == nullptr) {
        call.arg(" transfer=null");
        check = kInvalidArgument;
    } else if (t->version != nv::kI2cVersion) {
        call.arg(versionText(t->version));
        check = kVersionMismatch;
    } else {
        call.arg(fmt(" addr=0x%02X", t->deviceAddress));
        if (t->registerAddress == nullptr) {
            call.arg(" reg=null");
        } else if (t->registerAddressSize >= 1) {
            call.arg(fmt(" reg=0x%02X", t->registerAddress[0]));
        }
        if (t->data == nullptr) {
            call.arg(" data=null");
        } else if (write && t->dataSize >= 1) {
            call.arg(fmt(" data=0x%02X", t->data[0]));
        }
        if (t->displayMask != 0) {
            call.arg(fmt(" mask=0x%X", t->displayMask));
        }
        if (t->isDdcPort != 0) {
            call.arg(fmt(" ddc=%u", t->isDdcPort));
        }
        if (t->registerAddressSize != 1) {
            call.arg(fmt(" regsize=%u", t->registerAddressSize));
        }
        if (t->dataSize != 1) {
            call.arg(fmt(" datasize=%u", t->dataSize));
        }
        if (t->speed != nv::kI2cSpeed) {
            call.arg(fmt(" speed=%u", t->speed));
        }
        if (one == nullptr) {
            call.arg(" one=null");
        } else if (*one != 1) {
            call.arg(fmt(" one=%u", *one));
        }
        if (t->registerAddress == nullptr || t->registerAddressSize != 1 || t->data == nullptr ||
            t->dataSize != 1 || one == nullptr) {
            check = kInvalidArgument;
        }
    }
    if (auto status = call.refuse(check)) {
        return call.done(*status);
    }
    // Display DDC ports have nothing on them here.
    I2cDevice* device = t->isDdcPort != 0 ? nullptr : call.gpu().i2c.device(t->deviceAddress);
    if (device == nullptr) {
        return call.done(kError);
    }
    std::uint8_t reg = t->registerAddress[0];
    if (write) {
        // A pin controller whose pins change shows what the card now runs at.
        auto* pins = dynamic_cast<PinControllerDevice*>(device);
        const std::string before = pins != nullptr ? pins->stateText() : std::string();
        NvStatus status = call.done(device->write(reg, t->data[0]) ? kOk : kError);
        if (pins != nullptr && pins->stateText() != before) {
            appendLog(fmt("Regulator gpu=%u ", call.gpuNumber()) + pins->stateText());
        }
        return status;
    }
    std::uint8_t value = 0;
    if (!device->read(reg, value)) {
        return call.done(kError);
    }
    t->data[0] = value;
    return call.done(kOk, fmt(" data=0x%02X", value));
}

bool Simulator::initialised() {
    std::lock_guard<std::mutex> lock(mutex_);
    startLocked();
    return initialised_;
}

std::size_t Simulator::gpuCount() {
    std::lock_guard<std::mutex> lock(mutex_);
    startLocked();
    return state_.gpus.size();
}

std::optional<std::uint32_t> Simulator::clockKHz(unsigned gpu, std::uint32_t selector, std::uint32_t domain) {
    std::lock_guard<std::mutex> lock(mutex_);
    startLocked();
    const Gpu* g = gpuAt(gpu);
    if (g == nullptr) {
        return std::nullopt;
    }
    auto it = g->clocks.find(selector);
    if (it != g->clocks.end()) {
        for (const nv::NvClockEntry& e : it->second) {
            if (e.domainId == domain) {
                return e.frequencyKHz;
            }
        }
    }
    return std::nullopt;
}

std::optional<nv::NvCoolerRow> Simulator::coolerRow(unsigned gpu, unsigned row) {
    std::lock_guard<std::mutex> lock(mutex_);
    startLocked();
    const Gpu* g = gpuAt(gpu);
    if (g == nullptr || row >= g->coolers.size()) {
        return std::nullopt;
    }
    return g->coolers[row].row;
}

std::optional<std::uint8_t> Simulator::i2cPeek(unsigned gpu, unsigned address, unsigned reg) {
    std::lock_guard<std::mutex> lock(mutex_);
    startLocked();
    const Gpu* g = gpuAt(gpu);
    if (g == nullptr || address > 0xFF || reg > 0xFF) {
        return std::nullopt;
    }
    const I2cDevice* device = g->i2c.device(static_cast<std::uint8_t>(address));
    if (device == nullptr) {
        return std::nullopt;
    }
    return device->peek(static_cast<std::uint8_t>(reg));
}

bool Simulator::i2cPoke(unsigned gpu, unsigned address, unsigned reg, unsigned value) {
    std::lock_guard<std::mutex> lock(mutex_);
    startLocked();
    Gpu* g = gpuAt(gpu);
    if (g == nullptr || address > 0xFF || reg > 0xFF || value > 0xFF) {
        return false;
    }
    I2cDevice* device = g->i2c.device(static_cast<std::uint8_t>(address));
    return device != nullptr && device->poke(static_cast<std::uint8_t>(reg), static_cast<std::uint8_t>(value));
}

}  // namespace zxsim
