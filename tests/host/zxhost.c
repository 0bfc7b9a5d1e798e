/*
 * A host application on the public C header, deployed beside card data files as a real application would be. Each
 * argument is a command (docs/testing.md); an export name takes the numbers that follow as its inputs and prints
 * "<ExportName> <status> <outputs...>", outputs pre-filled with 0xAA bytes so that uncleared words show.
 */
#define _POSIX_C_SOURCE 200809L
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/types.h>
#include <time.h>
#include <unistd.h>

#include "zxdisplay.h"

/* Parameter lists: IN inputs, OUT u32 outputs, GPU a leading GPU index, FAN (gpu, fan, out, u32). */
enum Shape { NONE, OUT1, IN1, IN2, IN3, IN4, ADAPTERS, GPU_OUT1, GPU_OUT2, GPU_DESC, GPU_LEVELS, GPU_RANGE,
             GPU_IN_RANGE, FAN_RANGE, FAN_OUT1 };

typedef void (*AnyFn)(void);
struct Export { const char *name; enum Shape shape; AnyFn fn; };

#define X(name, shape) {#name, shape, (AnyFn)name}
static const struct Export exports[] = {
    X(ZXInitLib, NONE), X(ZXDeInitLib, NONE), X(ZXGetLockLibStatus, OUT1), X(ZXSetLockLibStatus, IN1),
    X(ZXGetAdapterInfo, ADAPTERS), X(ZXGetControlMode, OUT1), X(ZXGetGpuCount, OUT1),
    X(ZXGetCurrentPerformanceLevel, GPU_OUT1), X(ZXGetVGAInfoDescription, GPU_DESC), X(ZXGetCurrentVoltage, GPU_OUT2),
    X(ZXGetPerformanceLevelVoltages, GPU_LEVELS), X(ZXGetPerformanceDefaultVoltages, GPU_LEVELS),
    X(ZXGetVoltageInfo, GPU_RANGE), X(ZXGet2DDefaultVoltage, GPU_OUT1), X(ZXSetCurrentVoltageLevel, IN2),
    X(ZXSetPerformanceVoltageLevel, IN3), X(ZXSetVoltageDefault, IN1), X(ZXGetCurrentMemoryVoltageLevel, GPU_OUT1),
    X(ZXGetMemoryVoltageInfo, GPU_RANGE), X(ZXGetMemoryVoltageDefault, GPU_OUT1),
    X(ZXSetCurrentMemoryVoltageLevel, IN2), X(ZXSetMemoryVoltageDefault, IN1),
    X(ZXGetPerformanceLevelGPUClocks, GPU_LEVELS), X(ZXGetGPUClockInfo, GPU_RANGE),
    X(ZXGetGPUClockInfoEx, GPU_IN_RANGE), X(ZXGetPerformanceDefaultGPUClocks, GPU_LEVELS),
    X(ZXSetPerformanceLevelGPUClock, IN3), X(ZXSetGPUClockDefault, IN1),
    X(ZXGetPerformanceLevelMemoryClocks, GPU_LEVELS), X(ZXGetMemoryClockInfo, GPU_RANGE),
    X(ZXGetMemoryClockInfoEx, GPU_IN_RANGE), X(ZXGetPerformanceDefaultMemoryClocks, GPU_LEVELS),
    X(ZXSetPerformanceLevelMemoryClock, IN3), X(ZXSetMemoryClockDefault, IN1),
    X(ZXGetPerformanceLevelShaderClocks, GPU_LEVELS), X(ZXGetShaderClockInfo, GPU_RANGE),
    X(ZXGetShaderClockInfoEx, GPU_IN_RANGE), X(ZXGetPerformanceDefaultShaderClocks, GPU_LEVELS),
    X(ZXSetPerformanceLevelShaderClock, IN3), X(ZXSetShaderClockDefault, IN1), X(ZXGetCurrentPWMClockLevel, GPU_OUT1),
    X(ZXGetPWMClockInfo, GPU_RANGE), X(ZXGetPWMClockDefault, GPU_OUT1), X(ZXSetCurrentPWMClockLevel, IN2),
    X(ZXSetPWMClockDefault, IN1), X(ZXGetTemperature, GPU_OUT1), X(ZXGetUsage, GPU_OUT1), X(ZXGetDACLevel, GPU_OUT1),
    X(ZXSetDACLevel, IN2), X(ZXGetFanSpeedInfo, FAN_RANGE), X(ZXGetFanSpeed, FAN_OUT1), X(ZXSetFanSpeed, IN4),
    X(ZXSetFanSpeedDefault, IN3),
};
#undef X

static void print_words(const uint32_t *w, size_t n) {
    size_t i;
    for (i = 0; i < n; ++i) printf(" %lu", (unsigned long)w[i]);
}

/* Printed before every line: "child:" in a forked child. */
static const char *prefix = "";

/* Calls the export; prints its line unless quiet. */
static ZXStatus call(const struct Export *e, char **a, int n, int quiet) {
    ZXStatus s = 0;
    struct {
        uint32_t w[5];
        ZXRangeInfo range;
        ZXLevelValues levels;
        ZXVgaInfoDescription desc;
        ZXAdapterInfoRecord info;
    } o;
    uint32_t *w = o.w, v[4];
    int i;

    memset(&o, 0xAA, sizeof o);
    for (i = 0; i < 4; ++i) v[i] = i < n ? (uint32_t)strtoul(a[i], NULL, 0) : 0u; /* missing inputs are 0 */
    switch (e->shape) {
    case NONE: s = ((ZXStatus (ZX_CALL *)(void))e->fn)(); break;
    case OUT1: s = ((ZXStatus (ZX_CALL *)(uint32_t *))e->fn)(&w[0]); break;
    case IN1: s = ((ZXStatus (ZX_CALL *)(uint32_t))e->fn)(v[0]); break;
    case IN2: s = ((ZXStatus (ZX_CALL *)(uint32_t, uint32_t))e->fn)(v[0], v[1]); break;
    case IN3: s = ((ZXStatus (ZX_CALL *)(uint32_t, uint32_t, uint32_t))e->fn)(v[0], v[1], v[2]); break;
    case IN4: s = ((ZXStatus (ZX_CALL *)(uint32_t, uint32_t, uint32_t, uint32_t))e->fn)(v[0], v[1], v[2], v[3]); break;
    case ADAPTERS: s = ((ZXStatus (ZX_CALL *)(ZXAdapterInfoRecord *))e->fn)(&o.info); break;
    case GPU_OUT1: s = ((ZXStatus (ZX_CALL *)(uint32_t, uint32_t *))e->fn)(v[0], &w[0]); break;
    case GPU_OUT2: s = ((ZXStatus (ZX_CALL *)(uint32_t, uint32_t *, uint32_t *))e->fn)(v[0], &w[0], &w[1]); break;
    case GPU_DESC: s = ((ZXStatus (ZX_CALL *)(uint32_t, ZXVgaInfoDescription *))e->fn)(v[0], &o.desc); break;
    case GPU_LEVELS: s = ((ZXStatus (ZX_CALL *)(uint32_t, ZXLevelValues *))e->fn)(v[0], &o.levels); break;
    case GPU_RANGE: s = ((ZXStatus (ZX_CALL *)(uint32_t, ZXRangeInfo *))e->fn)(v[0], &o.range); break;
    case GPU_IN_RANGE:
        s = ((ZXStatus (ZX_CALL *)(uint32_t, uint32_t, ZXRangeInfo *))e->fn)(v[0], v[1], &o.range);
        break;
    case FAN_RANGE:
        s = ((ZXStatus (ZX_CALL *)(uint32_t, uint32_t, ZXRangeInfo *, uint32_t))e->fn)(v[0], v[1],
                                                                                      &o.range, v[2]);
        break;
    case FAN_OUT1:
        s = ((ZXStatus (ZX_CALL *)(uint32_t, uint32_t, uint32_t *, uint32_t))e->fn)(v[0], v[1],
                                                                                   &w[0], v[2]);
        break;
    }

    if (quiet) return s;
    printf("%s%s %lu", prefix, e->name, (unsigned long)s);
    switch (e->shape) {
    case OUT1: case GPU_OUT1: case FAN_OUT1: print_words(w, 1); break;
    case GPU_OUT2: print_words(w, 2); break;
    case GPU_LEVELS: print_words(&o.levels.count, 1); print_words(o.levels.values, 4); break;
    case GPU_RANGE: case GPU_IN_RANGE: case FAN_RANGE:
        printf(" %lu %lu %lu", (unsigned long)o.range.maximum, (unsigned long)o.range.minimum,
               (unsigned long)o.range.step);
        break;
    case GPU_DESC:
        printf(" %lu", (unsigned long)o.desc.count);
        for (i = 0; i < 10; ++i) {
            /* An uncleared first byte shows as "?". */
            if ((unsigned char)o.desc.strings[i][0] == 0xAA) {
                printf(" ?");
            } else {
                printf(" [%.*s]", 39, o.desc.strings[i]);
            }
        }
        break;
    case ADAPTERS:
        printf(" %lu", (unsigned long)o.info.count);
        print_words(o.info.kind, 3);
        for (i = 0; i < 3; ++i) {
            printf(" %.4s_%.4s_%.4s_%.4s", o.info.vendorId[i], o.info.deviceId[i], o.info.subsystemId[i],
                   o.info.subsystemVendorId[i]);
        }
        print_words(&o.info.location[0].bus, 9);
        break;
    default: break;
    }
    printf("\n");
    return s;
}

static double now_ms(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec * 1000.0 + (double)t.tv_nsec / 1e6;
}

static void repeat(const struct Export *e, char **a, int n, long ms) {
    unsigned long counts[7] = {0, 0, 0, 0, 0, 0, 0};
    unsigned long calls = 0;
    const double end = now_ms() + (double)ms;
    int k;
    do {
        ZXStatus s = call(e, a, n, 1);
        ++counts[s < 6 ? s : 6];
        ++calls;
    } while ((calls & 63u) != 0 || now_ms() < end);
    printf("%srepeat %s %lu", prefix, e->name, calls);
    for (k = 0; k < 6; ++k) printf(" s%d=%lu", k, counts[k]);
    printf(" other=%lu\n", counts[6]);
}

/* Starts (1) or stops (0) the preloaded call counter; prints its counts. */
static void count(int start) {
    void *global = dlopen(NULL, RTLD_NOW);
    void (*begin)(void) = NULL;
    void (*end)(unsigned long *, unsigned long *) = NULL;
    unsigned long allocations = 0, opens = 0;
    *(void **)&begin = dlsym(global, "zxcount_start");
    *(void **)&end = dlsym(global, "zxcount_stop");
    if (begin == NULL || end == NULL) {
        printf("%scount unavailable\n", prefix);
    } else if (start) {
        begin();
    } else {
        end(&allocations, &opens);
        printf("%scount %lu %lu\n", prefix, allocations, opens);
    }
}

static void pause_ms(long ms) {
    struct timespec t;
    t.tv_sec = ms / 1000;
    t.tv_nsec = (ms % 1000) * 1000000L;
    nanosleep(&t, NULL);
}

int main(int argc, char **argv) {
    int i = 1;
    long repeat_ms = -1;
    setvbuf(stdout, NULL, _IOLBF, 0);
    while (i < argc) {
        const char *cmd = argv[i++];
        const struct Export *found = NULL;
        int n = 0;
        size_t k;
        if (strcmp(cmd, "fork") == 0) {
            pid_t pid;
            fflush(stdout);
            pid = fork();
            if (pid < 0) return 3;
            if (pid == 0) {
                prefix = "child:";
            } else {
                while (i < argc && strcmp(argv[i++], "parent") != 0) continue; /* the child's commands */
            }
        } else if (strcmp(cmd, "parent") == 0) {
            fflush(stdout);
            _exit(0);
        } else if (strncmp(cmd, "repeat:", 7) == 0) {
            repeat_ms = strtol(cmd + 7, NULL, 10);
        } else if (strncmp(cmd, "count:", 6) == 0) {
            count(strcmp(cmd, "count:start") == 0);
        } else if (strncmp(cmd, "touch:", 6) == 0) {
            FILE *f = fopen(cmd + 6, "w");
            if (f) fclose(f);
        } else if (strncmp(cmd, "wait:", 5) == 0) {
            while (access(cmd + 5, F_OK) != 0) pause_ms(5);
        } else if (strncmp(cmd, "loaded:", 7) == 0) {
            /* Whether the process has a library of that name loaded. */
            void *h = dlopen(cmd + 7, RTLD_NOW | RTLD_NOLOAD);
            printf("%sloaded %s %d\n", prefix, cmd + 7, h != NULL);
            if (h != NULL) dlclose(h);
        } else if (strcmp(cmd, "hold") == 0) {
            for (;;) pause_ms(1000);
        } else {
            for (k = 0; k < sizeof exports / sizeof exports[0]; ++k) {
                if (strcmp(exports[k].name, cmd) == 0) found = &exports[k];
            }
            if (found == NULL) {
                fprintf(stderr, "zxhost: unknown command %s\n", cmd);
                return 2;
            }
            /* Numeric arguments follow the export's name. */
            while (i + n < argc && (argv[i + n][0] >= '0' && argv[i + n][0] <= '9')) ++n;
            if (repeat_ms >= 0) {
                repeat(found, &argv[i], n, repeat_ms);
            } else {
                call(found, &argv[i], n, 0);
            }
            repeat_ms = -1;
            i += n;
        }
    }
    return 0;
}
