/* Control interface of the simulated ATI display library (libatipdlxx.so,
 * libatipdlxx32.so). Besides the twelve ATIDL_* entry points it exports the
 * functions below, which tests reach with dlsym on the same loaded object the
 * library under test uses. None of them is logged. Scenario and log formats:
 * docs/ati-simulator.md. */
#ifndef ZXSIM_ATI_H
#define ZXSIM_ATI_H

#if defined(ZXSIM_ATI_BUILDING) && defined(_WIN32)
#define ZXSIM_ATI_EXPORT __declspec(dllexport)
#elif defined(ZXSIM_ATI_BUILDING) && defined(__GNUC__)
#define ZXSIM_ATI_EXPORT __attribute__((visibility("default")))
#else
#define ZXSIM_ATI_EXPORT
#endif

/* Results of the simulated entry points. */
#define ZXSIM_ATI_OK 0
#define ZXSIM_ATI_ERROR (-1)            /* failed; nothing answered on the bus */
#define ZXSIM_ATI_INVALID_ARGUMENT (-2) /* null pointer, wrong size, field out of range */
#define ZXSIM_ATI_NO_ADAPTER (-3)       /* no simulated GPU at that location */

#ifdef __cplusplus
extern "C" {
#endif

/* Replaces the scenario and resets state, faults and log; 0, or the 1-based
 * number of the first bad line (the library is then broken: every entry
 * point answers -1). */
ZXSIM_ATI_EXPORT int zxsim_ati_load_scenario(const char* text);
/* Adds fault and display lines to the running scenario; 0, or the number of
 * the first bad line (nothing added). */
ZXSIM_ATI_EXPORT int zxsim_ati_apply(const char* text);
/* Back to the scenario as loaded. */
ZXSIM_ATI_EXPORT void zxsim_ati_reset(void);
/* The last scenario error, "" after a clean load. Valid until the next call
 * that returns text. */
ZXSIM_ATI_EXPORT const char* zxsim_ati_last_error(void);
/* The in-memory call log (latest 65536 lines); a line stays valid until the
 * next call that returns text; null beyond the count. */
ZXSIM_ATI_EXPORT unsigned zxsim_ati_log_count(void);
ZXSIM_ATI_EXPORT const char* zxsim_ati_log_line(unsigned i);
ZXSIM_ATI_EXPORT void zxsim_ati_clear_log(void);
/* 0 stops logging calls (benchmarks); non-zero starts it again. On at first. */
ZXSIM_ATI_EXPORT void zxsim_ati_set_logging(int on);
/* State by scenario GPU index; -1 where there is no such thing. */
ZXSIM_ATI_EXPORT int zxsim_ati_gpu_count(void);
ZXSIM_ATI_EXPORT int zxsim_ati_pin_level(unsigned gpu, unsigned pin);
/* column 0 engine clock, 1 memory clock, 2 voltage of a level in force. */
ZXSIM_ATI_EXPORT long long zxsim_ati_level_value(unsigned gpu, unsigned row, unsigned column);

#ifdef __cplusplus
}
#endif

#endif /* ZXSIM_ATI_H */
