#pragma once

namespace tarnix {
// The pieces of the POSIX port that depend on the system: one file per system (Linux:
// com_port_linux.cpp). A port to another POSIX system provides these.

// Asks the driver to hand on each received byte at once, where it has such a setting. Silent:
// drivers without it are left as they are.
void RequestLowLatency(int fd);

}  // namespace tarnix
