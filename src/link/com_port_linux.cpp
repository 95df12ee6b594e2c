// The Linux-only pieces of the POSIX port.

#include <linux/serial.h>
#include <sys/ioctl.h>

#include "com_port_posix.h"

namespace tarnix {

// USB adapters otherwise hold each received byte for up to 16 ms, which would dominate the
// stop-and-wait exchange.
void RequestLowLatency(int fd) {
    serial_struct serial{};
    if (ioctl(fd, TIOCGSERIAL, &serial) == 0) {
        serial.flags |= ASYNC_LOW_LATENCY;
        ioctl(fd, TIOCSSERIAL, &serial);
    }
}

}  // namespace tarnix
