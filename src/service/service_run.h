#pragma once
// The operations of one tarnix-service run on an open port, in order, stopping at the first
// that fails and at an interrupt.

#include <chrono>
#include <cstddef>
#include <vector>

#include "port.h"
#include "service_cli.h"

namespace tarnix {

// What one run did, for the outcome line at its end.
struct ServiceRun {
    size_t completed = 0;  // operations that succeeded
    size_t stoppedAt = 0;  // index of the operation that failed or was not begun
    unsigned long discarded = 0;
    bool hungUp = false;  // the port's device or far side went away
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
};

// Runs the operations on `port` and returns the exit status (EXIT_ALL_SUCCEEDED or
// EXIT_OPERATION_FAILED); *run gets what they did. A failure or an interrupt is said on
// standard error with the operations not run. The first failure stops the run: the bytes of a
// wrong reply may still be on their way and would be taken for the answer to the next command.
int RunOperations(Port& port, const std::vector<ServiceOperation>& operations, ServiceRun* run);

}  // namespace tarnix
