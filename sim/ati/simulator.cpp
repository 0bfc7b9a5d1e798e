#include "simulator.h"

#include "driver_support.h"
#include "state_file.h"
#include "zxsim_ati.h"

namespace zxsim::ati {

namespace {

constexpr int kOk = ZXSIM_ATI_OK;
constexpr int kError = ZXSIM_ATI_ERROR;
constexpr int kInvalid = ZXSIM_ATI_INVALID_ARGUMENT;
constexpr int kNoAdapter = ZXSIM_ATI_NO_ADAPTER;

constexpr std::int32_t kPinControllerAddress = 0x3E;

std::string rowsText(const LevelRow* rows, std::size_t n) {
    std::string s;
    for (std::size_t i = 0; i < n; ++i) {
        s += fmt("%s%d/%d/%d", i == 0 ? "" : ",", rows[i].engine, rows[i].memory, rows[i].voltage);
    }
    return "[" + s + "]";
}

bool within(std::int32_t value, std::int32_t min, std::int32_t max) { return value >= min && value <= max; }

// Bytes of a level table of count rows.
std::int64_t tableSize(std::int32_t count) { return 8 + 12 * static_cast<std::int64_t>(count); }

bool reaches(const AdapterSet& set, std::int32_t adapter) { return !set || set->count(adapter) != 0; }

}  // namespace

// One entry-point call being answered: builds its log line ("Name arguments
// -> status outputs") and applies the checks every call makes first.
class Simulator::Call {
public:
    Call(Simulator& sim, Op op, int adapter, const Location* loc = nullptr) : sim_(sim), op_(op), adapter_(adapter) {
        sim_.startLocked();
        line_ = opName(op);
        line_ += fmt(op == Op::GetAdapterID ? " display=%d" : " adapter=%d", adapter);
        if (opTakesGpu(op)) {
            if (loc == nullptr) {
                line_ += " loc=null";
            } else {
                for (std::size_t i = 0; i < sim_.state_.gpus.size(); ++i) {
                    const Location& l = sim_.state_.gpus[i].location;
                    if (l.bus == loc->bus && l.device == loc->device && l.function == loc->function) {
                        gpu_ = static_cast<unsigned>(i);
                        break;
                    }
                }
                line_ += gpu_ ? fmt(" gpu=%u", *gpu_) : fmt(" gpu=?(%u,%u,%u)", loc->bus, loc->device, loc->function);
            }
        }
    }

    void arg(const std::string& text) { line_ += text; }

    // The status that ends the call before the operation proper: a broken
    // library, no GPU at the location, an injected fault, or the failed
    // argument check.
    std::optional<int> refuse(int check = kOk, std::optional<std::int32_t> speed = std::nullopt,
                              std::optional<std::int32_t> action = std::nullopt) {
        if (sim_.broken_) {
            return kError;
        }
        if (opTakesGpu(op_) && !gpu_) {
            return kNoAdapter;
        }
        const auto matches = [&](const Fault& f) {
            return f.op == op_ && (!f.gpu || f.gpu == gpu_) && (!f.adapter || *f.adapter == adapter_) &&
                   (!f.speed || f.speed == speed) && (!f.action || f.action == action);
        };
        return refusal(sim_.state_.faults, matches, check, kOk);
    }

    Gpu& gpu() { return sim_.state_.gpus[*gpu_]; }
    Gpu* gpuOrNull() { return gpu_ ? &sim_.state_.gpus[*gpu_] : nullptr; }

    int done(int status, const std::string& outputs = {}) {
        sim_.appendLog(line_ + fmt(" -> %d", status) + (status == kOk ? outputs : std::string()));
        return status;
    }

private:
    Simulator& sim_;
    Op op_;
    int adapter_;
    std::optional<unsigned> gpu_;
    std::string line_;
};

Simulator::Simulator() : DriverCore({"zxsim_ati", "ZXSIM_ATI_SCENARIO", "ZXSIM_ATI_LOG", "ZXSIM_ATI_STATE", "ZXSIM_ATI_ADDITIONS"}) {}

Simulator& Simulator::instance() {
    static Simulator sim;
    return sim;
}

int Simulator::getOdParameters(int adapter, OdParameters* od, Location* loc) {
    std::lock_guard<std::mutex> lock(mutex_);
    Call call(*this, Op::GetODParameters, adapter, loc);
    int check = kOk;
    if (od == nullptr || od->size != static_cast<std::int32_t>(sizeof(OdParameters))) {
        call.arg(od == nullptr ? " od=null" : fmt(" size=%d", od->size));
        check = kInvalid;
    }
    if (auto status = call.refuse(check)) {
        return call.done(*status);
    }
    const Gpu& g = call.gpu();
    *od = g.od;
    od->size = sizeof(OdParameters);
    od->levels = g.reportedLevels();
    return call.done(kOk, fmt(" levels=%d engine=%d..%d/%d memory=%d..%d/%d voltage=%d..%d/%d", od->levels,
                              od->engineMin, od->engineMax, od->engineStep, od->memoryMin, od->memoryMax,
                              od->memoryStep, od->voltageMin, od->voltageMax, od->voltageStep));
}

int Simulator::getPmCurrentActivity(int adapter, PmActivity* a, Location* loc) {
    std::lock_guard<std::mutex> lock(mutex_);
    Call call(*this, Op::GetPMCurrentActivity, adapter, loc);
    int check = kOk;
    if (a == nullptr || a->size != static_cast<std::int32_t>(sizeof(PmActivity))) {
        call.arg(a == nullptr ? " activity=null" : fmt(" size=%d", a->size));
        check = kInvalid;
    }
    if (auto status = call.refuse(check)) {
        return call.done(*status);
    }
    const Gpu& g = call.gpu();
    const bool inTable = g.currentLevel >= 0 && static_cast<std::size_t>(g.currentLevel) < g.levels.size();
    a->level = g.currentLevel;
    a->activity = g.activity;
    a->engineClock = inTable ? g.levels[static_cast<std::size_t>(g.currentLevel)].engine : 0;
    a->memoryClock = inTable ? g.levels[static_cast<std::size_t>(g.currentLevel)].memory : 0;
    a->voltage = g.voltage.value_or(inTable ? g.levels[static_cast<std::size_t>(g.currentLevel)].voltage : 0);
    return call.done(kOk, fmt(" voltage=%d activity=%d level=%d", a->voltage, a->activity, a->level));
}

int Simulator::getOdPerformanceLevels(int adapter, LevelsHeader* levels, int defaults, Location* loc) {
    std::lock_guard<std::mutex> lock(mutex_);
    Call call(*this, Op::GetODPerformanceLevels, adapter, loc);
    call.arg(fmt(" default=%d", defaults));
    Gpu* g = call.gpuOrNull();
    const std::int32_t count = g != nullptr ? g->reportedLevels() : 0;
    int check = kOk;
    if (levels == nullptr) {
        call.arg(" levels=null");
        check = kInvalid;
    } else if (g != nullptr && (count < 0 || levels->size != tableSize(count))) {
        call.arg(fmt(" size=%d", levels->size));
        check = kInvalid;
    } else if (defaults != 0 && defaults != 1) {
        check = kInvalid;
    }
    if (auto status = call.refuse(check)) {
        return call.done(*status);
    }
    auto* rows = reinterpret_cast<LevelRow*>(levels + 1);
    const std::vector<LevelRow>& source = defaults != 0 ? g->defaults : g->levels;
    const std::size_t n = std::min(static_cast<std::size_t>(count), source.size());
    for (std::size_t i = 0; i < n; ++i) {
        rows[i] = source[i];
    }
    return call.done(kOk, " rows=" + rowsText(rows, n));
}

int Simulator::setOdPerformanceLevels(int adapter, LevelsHeader* levels, Location* loc) {
    std::lock_guard<std::mutex> lock(mutex_);
    Call call(*this, Op::SetODPerformanceLevels, adapter, loc);
    Gpu* g = call.gpuOrNull();
    const std::int32_t count = g != nullptr ? g->reportedLevels() : 0;
    int check = kOk;
    const LevelRow* rows = levels != nullptr ? reinterpret_cast<const LevelRow*>(levels + 1) : nullptr;
    if (levels == nullptr) {
        call.arg(" levels=null");
        check = kInvalid;
    } else if (g != nullptr && (count < 0 || levels->size != tableSize(count))) {
        call.arg(fmt(" size=%d", levels->size));
        check = kInvalid;
    } else if (g != nullptr) {
        call.arg(" rows=" + rowsText(rows, static_cast<std::size_t>(count)));
        // Every row must lie within the card's ranges; otherwise nothing applies.
        for (std::int32_t i = 0; i < count; ++i) {
            const LevelRow& r = rows[i];
            if (!within(r.engine, g->od.engineMin, g->od.engineMax) ||
                !within(r.memory, g->od.memoryMin, g->od.memoryMax) ||
                !within(r.voltage, g->od.voltageMin, g->od.voltageMax)) {
                check = kInvalid;
            }
        }
    }
    if (auto status = call.refuse(check)) {
        return call.done(*status);
    }
    const std::size_t n = std::min(static_cast<std::size_t>(count), g->levels.size());
    for (std::size_t i = 0; i < n; ++i) {
        g->levels[i] = rows[i];
    }
    saveLocked();
    return call.done(kOk);
}

int Simulator::getTemperature(int adapter, int controller, Temperature* t, Location* loc) {
    std::lock_guard<std::mutex> lock(mutex_);
    Call call(*this, Op::GetTemperature, adapter, loc);
    call.arg(fmt(" controller=%d", controller));
    int check = kOk;
    if (t == nullptr || t->size != static_cast<std::int32_t>(sizeof(Temperature))) {
        call.arg(t == nullptr ? " temp=null" : fmt(" size=%d", t->size));
        check = kInvalid;
    } else if (controller != 0) {
        check = kInvalid;
    }
    if (auto status = call.refuse(check)) {
        return call.done(*status);
    }
    t->milliDegrees = call.gpu().milliDegrees;
    return call.done(kOk, fmt(" temp=%d", t->milliDegrees));
}

// One byte to or from the pin controller of a GPU's I2C bus (gpu nullptr: no
// bus answers).
int Simulator::transfer(Call& call, Gpu* gpu, I2cTransfer* t) {
    int check = kOk;
    std::optional<std::int32_t> speed;
    std::optional<std::int32_t> action;
    if (t == nullptr) {
        call.arg(" transfer=null");
        check = kInvalid;
    } else {
        speed = t->speed;
        action = t->action;
        const bool read = t->action == 1;
        call.arg(fmt(" addr=0x%02X reg=0x%02X", static_cast<unsigned>(t->address), static_cast<unsigned>(t->offset)));
        if (t->action == 2 && t->data != nullptr && t->length >= 1) {
            call.arg(fmt(" data=0x%02X", t->data[0]));
        }
        call.arg(fmt(" speed=%d", t->speed));
        if (t->size != static_cast<std::int32_t>(sizeof(I2cTransfer))) call.arg(fmt(" size=%d", t->size));
        if (t->line != 1) call.arg(fmt(" line=%d", t->line));
        if (t->action != 1 && t->action != 2) call.arg(fmt(" action=%d", t->action));
        if (t->length != 1) call.arg(fmt(" length=%d", t->length));
        if (t->data == nullptr) call.arg(" data=null");
        if (t->size != static_cast<std::int32_t>(sizeof(I2cTransfer)) || t->line != 1 ||
            (t->action != 1 && t->action != 2) || t->length < 1 || t->data == nullptr || t->offset < 0 ||
            t->offset > 0xFF || (t->address & 1) != (read ? 1 : 0)) {
            check = kInvalid;
        }
    }
    if (auto status = call.refuse(check, speed, action)) {
        return call.done(*status);
    }
    if (gpu == nullptr || (t->address & 0xFE) != kPinControllerAddress) {
        return call.done(kError);
    }
    const auto reg = static_cast<std::uint8_t>(t->offset);
    if (t->action == 2) {
        if (!gpu->pins.write(reg, t->data[0])) {
            return call.done(kError);
        }
        saveLocked();
        return call.done(kOk);
    }
    std::uint8_t value = 0;
    if (!gpu->pins.read(reg, value)) {
        return call.done(kError);
    }
    t->data[0] = value;
    return call.done(kOk, fmt(" data=0x%02X", value));
}

int Simulator::writeAndReadI2c(int adapter, I2cTransfer* t) {
    std::lock_guard<std::mutex> lock(mutex_);
    Call call(*this, Op::WriteAndReadI2C, adapter);
    // The plain path reaches the bus of the first GPU wired to that index.
    Gpu* target = nullptr;
    for (Gpu& g : state_.gpus) {
        if (reaches(g.plain, adapter)) {
            target = &g;
            break;
        }
    }
    return transfer(call, target, t);
}

int Simulator::writeAndReadI2cEx(int adapter, I2cTransfer* t, Location* loc) {
    std::lock_guard<std::mutex> lock(mutex_);
    Call call(*this, Op::WriteAndReadI2CEx, adapter, loc);
    Gpu* g = call.gpuOrNull();
    return transfer(call, g != nullptr && reaches(g->extended, adapter) ? g : nullptr, t);
}

int Simulator::getAdapterId(int display, int* id) {
    std::lock_guard<std::mutex> lock(mutex_);
    Call call(*this, Op::GetAdapterID, display);
    if (id == nullptr) {
        call.arg(" id=null");
    }
    if (auto status = call.refuse(id == nullptr ? kInvalid : kOk)) {
        return call.done(*status);
    }
    Display d;
    if (const auto it = state_.displays.find(display); it != state_.displays.end()) {
        d = it->second;
    }
    if (d.status != kOk) {
        return call.done(d.status);
    }
    *id = d.id;
    return call.done(kOk, fmt(" id=%d", *id));
}

int Simulator::getFanSpeedInfo(int adapter, int fan, FanInfo* info, Location* loc) {
    std::lock_guard<std::mutex> lock(mutex_);
    Call call(*this, Op::GetFanSpeedInfo, adapter, loc);
    call.arg(fmt(" fan=%d", fan));
    Gpu* g = call.gpuOrNull();
    int check = kOk;
    if (info == nullptr || info->size != static_cast<std::int32_t>(sizeof(FanInfo))) {
        call.arg(info == nullptr ? " info=null" : fmt(" size=%d", info->size));
        check = kInvalid;
    } else if (g != nullptr && (fan < 0 || static_cast<std::size_t>(fan) >= g->fans.size())) {
        check = kInvalid;
    }
    if (auto status = call.refuse(check)) {
        return call.done(*status);
    }
    const Fan& f = g->fans[static_cast<std::size_t>(fan)];
    info->flags = 1;
    info->minPercent = f.min;
    info->maxPercent = f.max;
    info->minRpm = f.min * 30;
    info->maxRpm = f.max * 30;
    return call.done(kOk, fmt(" min=%d max=%d", f.min, f.max));
}

int Simulator::getFanSpeed(int adapter, int fan, FanValue* value, Location* loc) {
    std::lock_guard<std::mutex> lock(mutex_);
    Call call(*this, Op::GetFanSpeed, adapter, loc);
    call.arg(fmt(" fan=%d", fan));
    Gpu* g = call.gpuOrNull();
    int check = kOk;
    if (value == nullptr || value->size != static_cast<std::int32_t>(sizeof(FanValue))) {
        call.arg(value == nullptr ? " value=null" : fmt(" size=%d", value->size));
        check = kInvalid;
    } else {
        call.arg(fmt(" type=%d flags=%d", value->type, value->flags));
        if (value->type != 1 || (g != nullptr && (fan < 0 || static_cast<std::size_t>(fan) >= g->fans.size()))) {
            check = kInvalid;
        }
    }
    if (auto status = call.refuse(check)) {
        return call.done(*status);
    }
    value->speed = g->fans[static_cast<std::size_t>(fan)].speed;
    return call.done(kOk, fmt(" speed=%d", value->speed));
}

int Simulator::setFanSpeed(int adapter, int fan, FanValue* value, Location* loc) {
    std::lock_guard<std::mutex> lock(mutex_);
    Call call(*this, Op::SetFanSpeed, adapter, loc);
    call.arg(fmt(" fan=%d", fan));
    Gpu* g = call.gpuOrNull();
    int check = kOk;
    if (value == nullptr || value->size != static_cast<std::int32_t>(sizeof(FanValue))) {
        call.arg(value == nullptr ? " value=null" : fmt(" size=%d", value->size));
        check = kInvalid;
    } else {
        call.arg(fmt(" type=%d speed=%d flags=%d", value->type, value->speed, value->flags));
        if (value->type != 1) {
            check = kInvalid;
        } else if (g != nullptr) {
            if (fan < 0 || static_cast<std::size_t>(fan) >= g->fans.size()) {
                check = kInvalid;
            } else {
                const Fan& f = g->fans[static_cast<std::size_t>(fan)];
                check = within(value->speed, f.min, f.max) ? kOk : kInvalid;
            }
        }
    }
    if (auto status = call.refuse(check)) {
        return call.done(*status);
    }
    g->fans[static_cast<std::size_t>(fan)].speed = value->speed;
    saveLocked();
    return call.done(kOk);
}

int Simulator::setFanSpeedToDefault(int adapter, int fan, Location* loc) {
    std::lock_guard<std::mutex> lock(mutex_);
    Call call(*this, Op::SetFanSpeedToDefault, adapter, loc);
    call.arg(fmt(" fan=%d", fan));
    Gpu* g = call.gpuOrNull();
    const bool bad = g != nullptr && (fan < 0 || static_cast<std::size_t>(fan) >= g->fans.size());
    if (auto status = call.refuse(bad ? kInvalid : kOk)) {
        return call.done(*status);
    }
    Fan& f = g->fans[static_cast<std::size_t>(fan)];
    f.speed = f.defaultSpeed;
    saveLocked();
    return call.done(kOk);
}

std::size_t Simulator::gpuCount() {
    std::lock_guard<std::mutex> lock(mutex_);
    startLocked();
    return state_.gpus.size();
}

std::optional<unsigned> Simulator::pinLevel(unsigned gpu, unsigned pin) {
    std::lock_guard<std::mutex> lock(mutex_);
    startLocked();
    return gpu < state_.gpus.size() ? state_.gpus[gpu].pins.pinLevel(pin) : std::nullopt;
}

std::optional<std::int32_t> Simulator::levelValue(unsigned gpu, unsigned row, unsigned column) {
    std::lock_guard<std::mutex> lock(mutex_);
    startLocked();
    if (gpu >= state_.gpus.size() || row >= state_.gpus[gpu].levels.size() || column > 2) {
        return std::nullopt;
    }
    const LevelRow& r = state_.gpus[gpu].levels[row];
    return column == 0 ? r.engine : column == 1 ? r.memory : r.voltage;
}

}  // namespace zxsim::ati
