/* Control interface of the simulated NVAPI driver library (libnvidia-api.so.1).
 *
 * The simulator stands in for the NVIDIA driver in tests and the demo. Besides
 * nvapi_QueryInterface it exports the functions below, which tests reach with
 * dlsym on the same loaded object the library under test uses. None of them is
 * written to the call log. Scenario and log formats: docs/nvapi-simulator.md.
 */
#ifndef ZXSIM_NVAPI_H
#define ZXSIM_NVAPI_H

#if defined(ZXSIM_NVAPI_BUILDING) && defined(_WIN32)
#define ZXSIM_NVAPI_EXPORT __declspec(dllexport)
#elif defined(ZXSIM_NVAPI_BUILDING) && defined(__GNUC__)
#define ZXSIM_NVAPI_EXPORT __attribute__((visibility("default")))
#else
#define ZXSIM_NVAPI_EXPORT
#endif

/* Statuses the simulated operations return. */
#define ZXSIM_NVAPI_OK 0
#define ZXSIM_NVAPI_ERROR (-1)            /* failed; an I2C device did not answer */
#define ZXSIM_NVAPI_NOT_INITIALISED (-4)  /* called before a successful Initialize */
#define ZXSIM_NVAPI_INVALID_ARGUMENT (-5) /* null pointer, bad field, value out of range */
#define ZXSIM_NVAPI_INVALID_HANDLE (-8)   /* not a handle of the current scenario */
#define ZXSIM_NVAPI_VERSION_MISMATCH (-9) /* record version word is not the expected one */

#ifdef __cplusplus
extern "C" {
#endif

/* Replaces the scenario with the given text and resets everything: GPU state,
 * faults, call counters, initialisation and the in-memory log. Returns 0, or
 * the (1-based) number of the first bad line; a bad scenario leaves a broken
 * driver whose Initialize fails, and the error is printed to stderr. */
ZXSIM_NVAPI_EXPORT int zxsim_nvapi_load_scenario(const char* text);

/* Adds fault, missing and init lines to the running scenario without resetting
 * anything. Returns 0, or the number of the first bad line (nothing applied). */
ZXSIM_NVAPI_EXPORT int zxsim_nvapi_apply(const char* text);

/* Back to the state just after the current scenario was loaded. */
ZXSIM_NVAPI_EXPORT void zxsim_nvapi_reset(void);

/* The last scenario error ("" when the current scenario loaded cleanly). The
 * text stays valid until the next call that returns text. */
ZXSIM_NVAPI_EXPORT const char* zxsim_nvapi_last_error(void);

/* In-memory call log (the most recent 65536 lines). A line stays valid until
 * the next call that returns text; i out of range gives
 * a null pointer. */
ZXSIM_NVAPI_EXPORT unsigned zxsim_nvapi_log_count(void);
ZXSIM_NVAPI_EXPORT const char* zxsim_nvapi_log_line(unsigned i);
ZXSIM_NVAPI_EXPORT void zxsim_nvapi_clear_log(void);
/* 0 stops logging calls (in memory and to the log file), so that benchmarks
 * see the library's own cost; non-zero starts it again. On at first. */
ZXSIM_NVAPI_EXPORT void zxsim_nvapi_set_logging(int on);

/* Current state, by scenario GPU index. -1 where there is no such thing. */
ZXSIM_NVAPI_EXPORT int zxsim_nvapi_initialised(void);
ZXSIM_NVAPI_EXPORT int zxsim_nvapi_gpu_count(void);
/* Level frequency in kHz of the first entry of the domain at the selector. */
ZXSIM_NVAPI_EXPORT long long zxsim_nvapi_clock_khz(unsigned gpu, unsigned selector, unsigned domain);
ZXSIM_NVAPI_EXPORT int zxsim_nvapi_cooler_level(unsigned gpu, unsigned row);
ZXSIM_NVAPI_EXPORT int zxsim_nvapi_cooler_policy(unsigned gpu, unsigned row);
/* Register content of the device at an address byte, without bus effects. */
ZXSIM_NVAPI_EXPORT int zxsim_nvapi_i2c_peek(unsigned gpu, unsigned addr, unsigned reg);
/* Stores a register value; 0, or -1 when there is no such device or register. */
ZXSIM_NVAPI_EXPORT int zxsim_nvapi_i2c_poke(unsigned gpu, unsigned addr, unsigned reg, unsigned value);

#ifdef __cplusplus
}
#endif

#endif /* ZXSIM_NVAPI_H */
