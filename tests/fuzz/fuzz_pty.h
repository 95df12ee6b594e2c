#pragma once
// A fresh pseudo-terminal per fuzz input: the port layer opens its slave as it opens a real
// port, and the target plays the module on the master from a second thread.

#include <chrono>
#include <cstdint>
#include <vector>

namespace tarnix {

// A reply that never comes costs the port's 5-second read time-out. The module's side of the
// targets answers every read, so a run that took that long has met a time-out: a finding.
inline constexpr std::chrono::seconds REPLY_TIMEOUT{5};

struct FuzzPty {
    int master = -1;
    int slave = -1;  // kept open, so the master never sees a hang-up during the input
    char name[256] = {};
    int stop[2] = {-1, -1};  // a byte on stop[1] tells the module's thread that the run is over
};

// Opens the pair (slave raw) and the stop pipe; aborts when the system refuses.
void OpenFuzzPty(FuzzPty* pty);
void CloseFuzzPty(FuzzPty* pty);
// Tells the module's thread to end.
void StopFuzzModule(const FuzzPty& pty);

// Waits until the master has bytes (true) or the run is over (false).
bool WaitForProgramBytes(const FuzzPty& pty);

bool WriteAll(int fd, const std::vector<uint8_t>& bytes);

}  // namespace tarnix
