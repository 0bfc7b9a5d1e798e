/*
 * ZXDisplayLib - vendor-neutral control of NVIDIA and ATI/AMD graphics cards.
 *
 * Public C interface: 53 functions, each returning a ZXStatus. Every argument
 * is one 32-bit value (an unsigned number) or a pointer to caller storage.
 * Nothing is thrown across this interface (a failure inside, an allocation
 * included, answers ZX_STATUS_FAILED) and no pointer is tested for null:
 * callers pass writable storage of the documented size.
 *
 * Usage: call ZXInitLib once, then the getters and setters, then ZXDeInitLib.
 *
 * Common results of the per-GPU functions (see each function for which apply):
 *   ZX_STATUS_OK              0  success; out-parameters hold the results
 *   ZX_STATUS_FAILED          1  a vendor-library call failed, an index is
 *                                out of range, or a value names nothing the
 *                                card can take; a setter then changed nothing
 *   ZX_STATUS_NOT_SUPPORTED   2  the card or its backend lacks the feature;
 *                                out-parameters stay zero
 *   ZX_STATUS_NOT_INITIALISED 3  ZXInitLib has not succeeded; outputs zero
 *   ZX_STATUS_LOCKED_BY_OTHER 4  (setters only) another process holds the
 *                                card lock; nothing was changed
 *
 * Getters write zero into all their out-parameters before anything else, so
 * every early return leaves them zero. Setters first test the card lock, then
 * whether the library is started.
 *
 * Units: clocks in MHz, temperature in degrees Celsius, usage and fan speed in
 * percent; voltages, memory-voltage, PWM-clock and DAC levels in the units of
 * the card's data file. GPU and level indices are 0-based.
 *
 * Thread safety: ZXInitLib and ZXDeInitLib must not run concurrently with any
 * other call. Other calls may run on several threads at once; the lock is the
 * process's, shared by its threads. A child made by fork() does not hold its
 * parent's lock.
 */
#ifndef ZXDISPLAY_H
#define ZXDISPLAY_H

#include <stddef.h>
#include <stdint.h>

#define ZXDISPLAY_VERSION_MAJOR 0
#define ZXDISPLAY_VERSION_MINOR 1
#define ZXDISPLAY_VERSION_PATCH 0
#define ZXDISPLAY_VERSION_STRING "0.1.0"

/* Calling convention and symbol export. The Windows DLL uses __stdcall with
 * undecorated names (exported through a module-definition file). */
#if defined(_WIN32)
#  define ZX_CALL __stdcall
#  if defined(ZXDISPLAY_BUILDING)
     /* The module-definition file alone names the exports, so that no
      * decorated name is exported beside the plain one. */
#    define ZX_API
#  else
#    define ZX_API __declspec(dllimport)
#  endif
#else
#  define ZX_CALL
#  if defined(__GNUC__)
#    define ZX_API __attribute__((visibility("default")))
#  else
#    define ZX_API
#  endif
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Result of every function. */
typedef uint32_t ZXStatus;
#define ZX_STATUS_OK 0u
#define ZX_STATUS_FAILED 1u
#define ZX_STATUS_NOT_SUPPORTED 2u
#define ZX_STATUS_NOT_INITIALISED 3u
#define ZX_STATUS_LOCKED_BY_OTHER 4u
#define ZX_STATUS_ADAPTER_MISMATCH 5u

/* Short English text of a status, for messages ("locked by another process").
 * Header-only: it is not exported by the library. */
static inline const char *ZXStatusName(ZXStatus status)
{
    switch (status) {
    case ZX_STATUS_OK: return "ok";
    case ZX_STATUS_FAILED: return "failed";
    case ZX_STATUS_NOT_SUPPORTED: return "not supported by this card";
    case ZX_STATUS_NOT_INITIALISED: return "library not initialised";
    case ZX_STATUS_LOCKED_BY_OTHER: return "locked by another process";
    case ZX_STATUS_ADAPTER_MISMATCH: return "adapters are not all the same card model";
    default: return "unknown status";
    }
}

/* Vendor kind of an adapter (ZXAdapterInfoRecord.kind). */
#define ZX_VENDOR_NONE 0u
#define ZX_VENDOR_ATI 1u
#define ZX_VENDOR_NVIDIA 2u

/* Control-mode bits written by ZXGetControlMode. */
#define ZX_CONTROL_GPU_VOLTAGE 0x0001u
#define ZX_CONTROL_GPU_CLOCK 0x0002u
#define ZX_CONTROL_MEMORY_VOLTAGE 0x0004u
#define ZX_CONTROL_MEMORY_CLOCK 0x0008u
#define ZX_CONTROL_SHADER_CLOCK 0x0010u
#define ZX_CONTROL_PWM_CLOCK 0x0020u
#define ZX_CONTROL_DAC_LEVEL 0x0040u
#define ZX_CONTROL_SET_2D_AS_3D_CLOCK 0x1000u

/* Lock states written by ZXGetLockLibStatus. */
#define ZX_LOCK_UNLOCKED 0u
#define ZX_LOCK_HELD_HERE 1u
#define ZX_LOCK_HELD_ELSEWHERE 2u

/* PCI location: bus, device and function number. */
typedef struct ZXPciLocation {
    uint32_t bus;
    uint32_t device;
    uint32_t function;
} ZXPciLocation;

/* Adapters found at start-up (112 bytes, no padding). Entry i of a string
 * column holds four characters and a NUL; location words are always zero in
 * the copy handed out by ZXGetAdapterInfo. */
typedef struct ZXAdapterInfoRecord {
    uint32_t count;                  /* offset 0: valid entries, 0 to 3 */
    uint32_t kind[3];                /* offset 4: ZX_VENDOR_*, 0 past count */
    char vendorId[3][5];             /* offset 16: after "VEN_", e.g. "10DE" */
    char deviceId[3][5];             /* offset 31: after "DEV_" */
    char subsystemId[3][5];          /* offset 46: first four after "SUBSYS_" */
    char subsystemVendorId[3][5];    /* offset 61: next four (board maker) */
    ZXPciLocation location[3];       /* offset 76 */
} ZXAdapterInfoRecord;

/* Range written by the ...Info getters (12 bytes). */
typedef struct ZXRangeInfo {
    uint32_t maximum;
    uint32_t minimum;
    uint32_t step;
} ZXRangeInfo;

/* Per-level values (20 bytes): count n, then the values of levels 0..n-1. */
typedef struct ZXLevelValues {
    uint32_t count;
    uint32_t values[4];
} ZXLevelValues;

/* Card description strings (404 bytes). */
typedef struct ZXVgaInfoDescription {
    uint32_t count;                  /* 0 to 10 */
    char strings[10][40];            /* NUL-terminated, string k at 4 + 40k */
} ZXVgaInfoDescription;

/* Layout checks, valid in C99 and C++. */
#define ZX_LAYOUT_CHECK(name, cond) typedef char zx_layout_check_##name[(cond) ? 1 : -1]
ZX_LAYOUT_CHECK(adapter_size, sizeof(ZXAdapterInfoRecord) == 112);
ZX_LAYOUT_CHECK(adapter_kind, offsetof(ZXAdapterInfoRecord, kind) == 4);
ZX_LAYOUT_CHECK(adapter_vendor, offsetof(ZXAdapterInfoRecord, vendorId) == 16);
ZX_LAYOUT_CHECK(adapter_device, offsetof(ZXAdapterInfoRecord, deviceId) == 31);
ZX_LAYOUT_CHECK(adapter_subsys, offsetof(ZXAdapterInfoRecord, subsystemId) == 46);
ZX_LAYOUT_CHECK(adapter_subven, offsetof(ZXAdapterInfoRecord, subsystemVendorId) == 61);
ZX_LAYOUT_CHECK(adapter_location, offsetof(ZXAdapterInfoRecord, location) == 76);
ZX_LAYOUT_CHECK(range_size, sizeof(ZXRangeInfo) == 12);
ZX_LAYOUT_CHECK(levels_size, sizeof(ZXLevelValues) == 20);
ZX_LAYOUT_CHECK(vga_size, sizeof(ZXVgaInfoDescription) == 404);
ZX_LAYOUT_CHECK(vga_strings, offsetof(ZXVgaInfoDescription, strings) == 4);
#undef ZX_LAYOUT_CHECK

/* ---- Library ------------------------------------------------------------ */

/* Finds the adapters, chooses the backend, reads the card's data file and
 * starts the backend. Every call repeats all of it.
 * 0 started; 1 no supported adapter, or a start-up step failed;
 * 5 the adapters are not all the same card model (ZXGetAdapterInfo still
 * lists them). */
ZX_API ZXStatus ZX_CALL ZXInitLib(void);

/* Gives back the card lock if this process holds it and releases the vendor
 * library. 0, or 3 when the library is not started and held no lock. */
ZX_API ZXStatus ZX_CALL ZXDeInitLib(void);

/* Writes ZX_LOCK_UNLOCKED, ZX_LOCK_HELD_HERE or ZX_LOCK_HELD_ELSEWHERE.
 * 0, or 3 (status not written) when the library is not started; a lock this
 * process holds is reported whatever the start-up state. */
ZX_API ZXStatus ZX_CALL ZXGetLockLibStatus(uint32_t *status);

/* Takes (low byte of flag non-zero) or gives back (low byte zero) the card
 * lock. The lock is held until given back or until the holding process ends.
 * 0 done; 1 taking while anyone (this process included) holds it, giving back
 * while this process does not hold it, or the system refused; 3 not started
 * (a lock this process holds can still be given back). */
ZX_API ZXStatus ZX_CALL ZXSetLockLibStatus(uint32_t flag);

/* Copies the adapter table (location words zero). Needs no start-up, takes no
 * lock. 0, or 3 with count 0 when no adapter has been found. */
ZX_API ZXStatus ZX_CALL ZXGetAdapterInfo(ZXAdapterInfoRecord *info);

/* ZX_CONTROL_* bits of what the card can control. 0 or 3. */
ZX_API ZXStatus ZX_CALL ZXGetControlMode(uint32_t *flags);

/* Number of GPUs of the chosen backend. 0 or 3. */
ZX_API ZXStatus ZX_CALL ZXGetGpuCount(uint32_t *count);

/* Index of the GPU's current performance level. 0; 1 when the driver
 * failed or there is no such GPU; 3. */
ZX_API ZXStatus ZX_CALL ZXGetCurrentPerformanceLevel(uint32_t gpu, uint32_t *level);

/* Card description strings; gpu is not used. Clears count and the first byte
 * of each string. 0 or 3. */
ZX_API ZXStatus ZX_CALL ZXGetVGAInfoDescription(uint32_t gpu, ZXVgaInfoDescription *desc);

/* ---- GPU voltage (0, 1, 2, 3; setters also 4) --------------------------
 * 2 when the card profile defines no GPU voltage control, or (NVIDIA) the
 * card has no regulator the library can drive. 1 when the driver or the bus
 * failed, the GPU does not exist, or the regulator's pins show no voltage of
 * its table. A requested voltage at or above the maximum sets the maximum;
 * one below the minimum counts as a step number only while it is below the
 * top step, and is otherwise refused with 1. A setter that answers 1 leaves
 * the voltage as it was: a pin sequence cut short by a bus fault is put back.
 * NVIDIA registry-voltage cards (regulator kind 2) report, per GPU, the
 * voltage last set there (0 until one was), as both voltage and level. */

/* Current GPU voltage and its voltage level. */
ZX_API ZXStatus ZX_CALL ZXGetCurrentVoltage(uint32_t gpu, uint32_t *voltage, uint32_t *level);
/* GPU voltage of each performance level (NVIDIA: one level). */
ZX_API ZXStatus ZX_CALL ZXGetPerformanceLevelVoltages(uint32_t gpu, ZXLevelValues *values);
/* Default GPU voltage of each performance level, on the scale ZXGetVoltageInfo
 * reports. */
ZX_API ZXStatus ZX_CALL ZXGetPerformanceDefaultVoltages(uint32_t gpu, ZXLevelValues *values);
/* GPU voltage range: maximum, minimum, step. */
ZX_API ZXStatus ZX_CALL ZXGetVoltageInfo(uint32_t gpu, ZXRangeInfo *range);
/* Default 2D GPU voltage (2 on ATI cards). */
ZX_API ZXStatus ZX_CALL ZXGet2DDefaultVoltage(uint32_t gpu, uint32_t *voltage);
/* Sets the GPU voltage of every performance level. */
ZX_API ZXStatus ZX_CALL ZXSetCurrentVoltageLevel(uint32_t gpu, uint32_t voltage);
/* Sets the GPU voltage of one performance level (NVIDIA: of all). */
ZX_API ZXStatus ZX_CALL ZXSetPerformanceVoltageLevel(uint32_t gpu, uint32_t level, uint32_t voltage);
/* Restores the default GPU voltages; 1 and nothing written when they were
 * never captured. */
ZX_API ZXStatus ZX_CALL ZXSetVoltageDefault(uint32_t gpu);

/* ---- Memory voltage level (0, 1, 2, 3; setters also 4) ------------------
 * 2 when the card has no memory voltage control (NVIDIA: also no regulator,
 * and the current level of a registry-voltage card cannot be read back).
 * 1 for a level above 3, a GPU that does not exist, a bus that failed, or a
 * default that was never captured; nothing is then changed on the card. */

/* Current memory voltage level. */
ZX_API ZXStatus ZX_CALL ZXGetCurrentMemoryVoltageLevel(uint32_t gpu, uint32_t *level);
/* Memory voltage level range: maximum, minimum, step. */
ZX_API ZXStatus ZX_CALL ZXGetMemoryVoltageInfo(uint32_t gpu, ZXRangeInfo *range);
/* Default memory voltage level. */
ZX_API ZXStatus ZX_CALL ZXGetMemoryVoltageDefault(uint32_t gpu, uint32_t *level);
ZX_API ZXStatus ZX_CALL ZXSetCurrentMemoryVoltageLevel(uint32_t gpu, uint32_t level);
/* Restores the default memory voltage level. */
ZX_API ZXStatus ZX_CALL ZXSetMemoryVoltageDefault(uint32_t gpu);

/* ---- GPU, memory and shader clocks, MHz (0, 1, 2, 3; setters also 4) ---
 * ...Clocks getters: the number of performance levels (at most 4) and the
 * clock of each. ...Info: range (maximum, minimum, step 1) of the current
 * level; ...InfoEx: of the given level. Set...Clock: sets one level's clock;
 * ...Default: restores every level's default clock, stopping at the first
 * level that fails.
 * 1: the driver refused, or no such GPU; 2: the card reports no such clock,
 * or the level is beyond the fourth. */

ZX_API ZXStatus ZX_CALL ZXGetPerformanceLevelGPUClocks(uint32_t gpu, ZXLevelValues *clocks);
ZX_API ZXStatus ZX_CALL ZXGetGPUClockInfo(uint32_t gpu, ZXRangeInfo *range);
ZX_API ZXStatus ZX_CALL ZXGetGPUClockInfoEx(uint32_t gpu, uint32_t level, ZXRangeInfo *range);
ZX_API ZXStatus ZX_CALL ZXGetPerformanceDefaultGPUClocks(uint32_t gpu, ZXLevelValues *clocks);
ZX_API ZXStatus ZX_CALL ZXSetPerformanceLevelGPUClock(uint32_t gpu, uint32_t level, uint32_t mhz);
ZX_API ZXStatus ZX_CALL ZXSetGPUClockDefault(uint32_t gpu);

ZX_API ZXStatus ZX_CALL ZXGetPerformanceLevelMemoryClocks(uint32_t gpu, ZXLevelValues *clocks);
ZX_API ZXStatus ZX_CALL ZXGetMemoryClockInfo(uint32_t gpu, ZXRangeInfo *range);
ZX_API ZXStatus ZX_CALL ZXGetMemoryClockInfoEx(uint32_t gpu, uint32_t level, ZXRangeInfo *range);
ZX_API ZXStatus ZX_CALL ZXGetPerformanceDefaultMemoryClocks(uint32_t gpu, ZXLevelValues *clocks);
ZX_API ZXStatus ZX_CALL ZXSetPerformanceLevelMemoryClock(uint32_t gpu, uint32_t level, uint32_t mhz);
ZX_API ZXStatus ZX_CALL ZXSetMemoryClockDefault(uint32_t gpu);

/* Shader clocks exist on NVIDIA cards only (2 on ATI cards). */
ZX_API ZXStatus ZX_CALL ZXGetPerformanceLevelShaderClocks(uint32_t gpu, ZXLevelValues *clocks);
ZX_API ZXStatus ZX_CALL ZXGetShaderClockInfo(uint32_t gpu, ZXRangeInfo *range);
ZX_API ZXStatus ZX_CALL ZXGetShaderClockInfoEx(uint32_t gpu, uint32_t level, ZXRangeInfo *range);
ZX_API ZXStatus ZX_CALL ZXGetPerformanceDefaultShaderClocks(uint32_t gpu, ZXLevelValues *clocks);
ZX_API ZXStatus ZX_CALL ZXSetPerformanceLevelShaderClock(uint32_t gpu, uint32_t level, uint32_t mhz);
ZX_API ZXStatus ZX_CALL ZXSetShaderClockDefault(uint32_t gpu);

/* ---- PWM clock level of the regulator (0, 1, 2, 3; setters also 4) -----
 * 2 when the card has no PWM clock control (NVIDIA: as memory voltage).
 * 1 for a level above 1, a GPU that does not exist, a bus that failed, or a
 * default that was never captured; nothing is then changed on the card. */

ZX_API ZXStatus ZX_CALL ZXGetCurrentPWMClockLevel(uint32_t gpu, uint32_t *level);
/* PWM clock level range: maximum, minimum, step. */
ZX_API ZXStatus ZX_CALL ZXGetPWMClockInfo(uint32_t gpu, ZXRangeInfo *range);
ZX_API ZXStatus ZX_CALL ZXGetPWMClockDefault(uint32_t gpu, uint32_t *level);
ZX_API ZXStatus ZX_CALL ZXSetCurrentPWMClockLevel(uint32_t gpu, uint32_t level);
/* Restores the default PWM clock level. */
ZX_API ZXStatus ZX_CALL ZXSetPWMClockDefault(uint32_t gpu);

/* ---- Temperature, usage and DAC level (0, 1, 2, 3; setter also 4) ------ */

/* Degrees Celsius. 1 when the driver cannot tell. */
ZX_API ZXStatus ZX_CALL ZXGetTemperature(uint32_t gpu, uint32_t *celsius);
/* GPU usage in percent. 1 when the driver cannot tell (always on NVIDIA
 * cards). */
ZX_API ZXStatus ZX_CALL ZXGetUsage(uint32_t gpu, uint32_t *percent);
/* DAC level (0 or 1; a non-zero level sets 1). 2 when the card has no DAC
 * level control (always on NVIDIA cards); 1 when the bus failed or the GPU
 * does not exist. */
ZX_API ZXStatus ZX_CALL ZXGetDACLevel(uint32_t gpu, uint32_t *level);
ZX_API ZXStatus ZX_CALL ZXSetDACLevel(uint32_t gpu, uint32_t level);

/* ---- Fan, percent (0, 1, 2, 3; setters also 4) -------------------------
 * fan: fan (thermal controller) index, used on ATI cards only. The last
 * argument is not used and is passed on unchanged. 1: the driver failed or
 * the GPU has no fan; 2: the driver offers no fan control. */

/* Fan speed range: maximum, minimum, step 1. */
ZX_API ZXStatus ZX_CALL ZXGetFanSpeedInfo(uint32_t gpu, uint32_t fan, ZXRangeInfo *range, uint32_t reserved);
/* Current fan speed. */
ZX_API ZXStatus ZX_CALL ZXGetFanSpeed(uint32_t gpu, uint32_t fan, uint32_t *percent, uint32_t reserved);
/* Sets the fan speed; the driver decides what it accepts. */
ZX_API ZXStatus ZX_CALL ZXSetFanSpeed(uint32_t gpu, uint32_t fan, uint32_t percent, uint32_t reserved);
/* Hands the fan back to the driver's own control. */
ZX_API ZXStatus ZX_CALL ZXSetFanSpeedDefault(uint32_t gpu, uint32_t fan, uint32_t reserved);

#ifdef __cplusplus
}
#endif

#endif /* ZXDISPLAY_H */
