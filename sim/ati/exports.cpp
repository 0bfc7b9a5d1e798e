// The library's exports: the ATIDL_* entry points and the control interface
// of zxsim_ati.h. Nothing may throw past them: a C++ exception becomes -1.
#include <mutex>
#include <string>

#include "simulator.h"
#include "zxsim_ati.h"

#if defined(_WIN32)
#define ZXSIM_ATIDL_EXPORT extern "C" __declspec(dllexport)
#else
#define ZXSIM_ATIDL_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {

using zxsim::ati::Simulator;

template <class Fn>
int guarded(Fn fn) {
    try {
        return fn();
    } catch (...) {
        return ZXSIM_ATI_ERROR;
    }
}

// Text handed to C callers lives here until the next call that returns text.
std::mutex g_textMutex;
std::string g_text;

const char* keep(std::string text) {
    std::lock_guard<std::mutex> lock(g_textMutex);
    g_text = std::move(text);
    return g_text.c_str();
}

}  // namespace

namespace ati = zxsim::ati;

ZXSIM_ATIDL_EXPORT int ATIDL_GetODParameters(int adapter, ati::OdParameters* od, ati::Location* loc) {
    return guarded([&] { return Simulator::instance().getOdParameters(adapter, od, loc); });
}

ZXSIM_ATIDL_EXPORT int ATIDL_GetPMCurrentActivity(int adapter, ati::PmActivity* activity, ati::Location* loc) {
    return guarded([&] { return Simulator::instance().getPmCurrentActivity(adapter, activity, loc); });
}

ZXSIM_ATIDL_EXPORT int ATIDL_GetODPerformanceLevels(int adapter, ati::LevelsHeader* levels, int defaults,
                                                    ati::Location* loc) {
    return guarded([&] { return Simulator::instance().getOdPerformanceLevels(adapter, levels, defaults, loc); });
}

ZXSIM_ATIDL_EXPORT int ATIDL_SetODPerformanceLevels(int adapter, ati::LevelsHeader* levels, ati::Location* loc) {
    return guarded([&] { return Simulator::instance().setOdPerformanceLevels(adapter, levels, loc); });
}

ZXSIM_ATIDL_EXPORT int ATIDL_GetTemperature(int adapter, int controller, ati::Temperature* t, ati::Location* loc) {
    return guarded([&] { return Simulator::instance().getTemperature(adapter, controller, t, loc); });
}

ZXSIM_ATIDL_EXPORT int ATIDL_WriteAndReadI2C(int adapter, ati::I2cTransfer* t) {
    return guarded([&] { return Simulator::instance().writeAndReadI2c(adapter, t); });
}

ZXSIM_ATIDL_EXPORT int ATIDL_WriteAndReadI2CEx(int adapter, ati::I2cTransfer* t, ati::Location* loc) {
    return guarded([&] { return Simulator::instance().writeAndReadI2cEx(adapter, t, loc); });
}

ZXSIM_ATIDL_EXPORT int ATIDL_GetAdapterID(int display, int* id) {
    return guarded([&] { return Simulator::instance().getAdapterId(display, id); });
}

// A driver without fan control lacks these four.
#if !defined(ZXSIM_ATI_NO_FAN)
ZXSIM_ATIDL_EXPORT int ATIDL_GetFanSpeedInfo(int adapter, int fan, ati::FanInfo* info, ati::Location* loc) {
    return guarded([&] { return Simulator::instance().getFanSpeedInfo(adapter, fan, info, loc); });
}

ZXSIM_ATIDL_EXPORT int ATIDL_GetFanSpeed(int adapter, int fan, ati::FanValue* value, ati::Location* loc) {
    return guarded([&] { return Simulator::instance().getFanSpeed(adapter, fan, value, loc); });
}

ZXSIM_ATIDL_EXPORT int ATIDL_SetFanSpeed(int adapter, int fan, ati::FanValue* value, ati::Location* loc) {
    return guarded([&] { return Simulator::instance().setFanSpeed(adapter, fan, value, loc); });
}

ZXSIM_ATIDL_EXPORT int ATIDL_SetFanSpeedToDefault(int adapter, int fan, ati::Location* loc) {
    return guarded([&] { return Simulator::instance().setFanSpeedToDefault(adapter, fan, loc); });
}
#endif

extern "C" {

int zxsim_ati_load_scenario(const char* text) {
    return guarded([&] { return Simulator::instance().loadScenario(text != nullptr ? text : ""); });
}

int zxsim_ati_apply(const char* text) {
    return guarded([&] { return Simulator::instance().apply(text != nullptr ? text : ""); });
}

void zxsim_ati_reset(void) {
    guarded([] {
        Simulator::instance().reset();
        return 0;
    });
}

const char* zxsim_ati_last_error(void) {
    try {
        return keep(Simulator::instance().lastError());
    } catch (...) {
        return "";
    }
}

unsigned zxsim_ati_log_count(void) {
    return static_cast<unsigned>(guarded([] { return static_cast<int>(Simulator::instance().logCount()); }));
}

const char* zxsim_ati_log_line(unsigned i) {
    try {
        const auto line = Simulator::instance().logLine(i);
        return line ? keep(*line) : nullptr;
    } catch (...) {
        return nullptr;
    }
}

void zxsim_ati_clear_log(void) {
    guarded([] {
        Simulator::instance().clearLog();
        return 0;
    });
}

void zxsim_ati_set_logging(int on) {
    guarded([&] {
        Simulator::instance().setLogging(on != 0);
        return 0;
    });
}

int zxsim_ati_gpu_count(void) {
    return guarded([] { return static_cast<int>(Simulator::instance().gpuCount()); });
}

int zxsim_ati_pin_level(unsigned gpu, unsigned pin) {
    return guarded([&] {
        const auto level = Simulator::instance().pinLevel(gpu, pin);
        return level ? static_cast<int>(*level) : -1;
    });
}

long long zxsim_ati_level_value(unsigned gpu, unsigned row, unsigned column) {
    try {
        const auto value = Simulator::instance().levelValue(gpu, row, column);
        return value ? *value : -1;
    } catch (...) {
        return -1;
    }
}

}  // extern "C"
