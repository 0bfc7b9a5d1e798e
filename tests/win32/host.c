/* A Windows host application: runs the commands of its arguments in order
 * through the public header and the import library, one output line each.
 *   init | deinit              ZXInitLib / ZXDeInitLib
 *   lock | unlock              ZXSetLockLibStatus(1) / (0)
 *   status                     ZXGetLockLibStatus
 *   set                        a setter: ZXSetFanSpeedDefault(0, 0, 0)
 *   wait                       reads one line from standard input
 */
#include <stdio.h>
#include <string.h>

#include "zxdisplay.h"

int main(int argc, char** argv) {
    int i;
    for (i = 1; i < argc; ++i) {
        const char* cmd = argv[i];
        if (strcmp(cmd, "wait") == 0) {
            char line[64];
            if (fgets(line, sizeof line, stdin) == NULL) {
                return 2;
            }
            printf("wait -> ok\n");
        } else if (strcmp(cmd, "status") == 0) {
            uint32_t lock = 99;
            const ZXStatus s = ZXGetLockLibStatus(&lock);
            printf("status -> %u lock=%u\n", (unsigned)s, (unsigned)lock);
        } else {
            ZXStatus s;
            if (strcmp(cmd, "init") == 0) {
                s = ZXInitLib();
            } else if (strcmp(cmd, "deinit") == 0) {
                s = ZXDeInitLib();
            } else if (strcmp(cmd, "lock") == 0) {
                s = ZXSetLockLibStatus(1);
            } else if (strcmp(cmd, "unlock") == 0) {
                s = ZXSetLockLibStatus(0);
            } else if (strcmp(cmd, "set") == 0) {
                s = ZXSetFanSpeedDefault(0, 0, 0);
            } else {
                fprintf(stderr, "unknown command %s\n", cmd);
                return 2;
            }
            printf("%s -> %u\n", cmd, (unsigned)s);
        }
        fflush(stdout);
    }
    return 0;
}
