// Standard descriptors on POSIX: open() takes the lowest free descriptor, so opening the null
// device while descriptor n is closed fills exactly that one.

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "standard_streams.h"

namespace tarnix {

void EnsureStandardDescriptors() {
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
            // The ones below are open by now, so this one is the lowest free descriptor.
            (void)open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
        }
    }
}

bool StandardInputIsInteractive() {
    return isatty(STDIN_FILENO) == 1;
}

}  // namespace tarnix
