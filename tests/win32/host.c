/* A Windows host application on the DLL's import library: runs its arguments
 * (init, deinit, lock, unlock, status, set: a setter) in order, one output
 * line each. */
#include <stdio.h>
#include <string.h>

#include "zxdisplay.h"

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const char* cmd = argv[i];
        uint32_t lock = 99;
        ZXStatus s;
        if (strcmp(cmd, "init") == 0) {
            s = ZXInitLib();
        } else if (strcmp(cmd, "deinit") == 0) {
            s = ZXDeInitLib();
        } else if (strcmp(cmd, "lock") == 0 || strcmp(cmd, "unlock") == 0) {
            s = ZXSetLockLibStatus(cmd[0] == 'l' ? 1 : 0);
        } else if (strcmp(cmd, "set") == 0) {
            s = ZXSetFanSpeedDefault(0, 0, 0);
        } else if (strcmp(cmd, "status") == 0) {
            s = ZXGetLockLibStatus(&lock);
            printf("status -> %u lock=%u\n", (unsigned)s, (unsigned)lock);
            continue;
        } else {
            fprintf(stderr, "unknown command %s\n", cmd);
            return 2;
        }
        printf("%s -> %u\n", cmd, (unsigned)s);
    }
    return 0;
}
