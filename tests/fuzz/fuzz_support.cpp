#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "fuzz_input.h"

void FuzzCheckFailed(const char* what) {
    fprintf(stderr, "fuzz check failed: %s\n", what);
    abort();
}

void SilenceStandardOutput() {
    fflush(stdout);
    int devNull = open("/dev/null", O_WRONLY);
    if (devNull < 0 || dup2(devNull, STDOUT_FILENO) < 0) {
        perror("fuzz: /dev/null");
        abort();
    }
    close(devNull);
}
