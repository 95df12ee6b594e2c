#include "fuzz_pty.h"

#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include "fuzz_input.h"

namespace tarnix {

void OpenFuzzPty(FuzzPty* pty) {
    FUZZ_CHECK(openpty(&pty->master, &pty->slave, pty->name, nullptr, nullptr) == 0);
    termios tio{};
    FUZZ_CHECK(tcgetattr(pty->slave, &tio) == 0);
    cfmakeraw(&tio);
    FUZZ_CHECK(tcsetattr(pty->slave, TCSANOW, &tio) == 0);
    FUZZ_CHECK(pipe(pty->stop) == 0);
}

void CloseFuzzPty(FuzzPty* pty) {
    for (int fd : {pty->master, pty->slave, pty->stop[0], pty->stop[1]}) {
        close(fd);
    }
    *pty = FuzzPty{};
}

void StopFuzzModule(const FuzzPty& pty) {
    FUZZ_CHECK(write(pty.stop[1], "", 1) == 1);
}

bool WaitForProgramBytes(const FuzzPty& pty) {
    pollfd fds[2] = {{pty.master, POLLIN, 0}, {pty.stop[0], POLLIN, 0}};
    if (poll(fds, 2, -1) < 0 || (fds[1].revents & POLLIN)) {
        return false;
    }
    return (fds[0].revents & POLLIN) != 0;
}

bool WriteAll(int fd, const std::vector<uint8_t>& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0) {
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace tarnix
