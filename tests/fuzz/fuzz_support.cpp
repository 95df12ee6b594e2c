#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "fuzz_input.h"

namespace tarnix {

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

void CheckPortChoice(const PortChoice& choice) {
    if (choice.devicePath.empty()) {
        FUZZ_CHECK(choice.comNr >= MIN_COM_NR && choice.comNr <= MAX_COM_NR);
    } else {
        FUZZ_CHECK(choice.devicePath.find('/') != std::string::npos);
    }
}

}  // namespace tarnix
