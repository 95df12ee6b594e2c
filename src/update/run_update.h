#pragma once
// One run of the update program, from banner to key wait.

#include "exit_status.h"

namespace tarnix {

// Exit status of the update program.
// (EXIT_PORT_NOT_OPENED and the signal statuses are shared: exit_status.h.)
inline constexpr int EXIT_UPDATE_COMPLETED = 0;  // Start, every command and End acknowledged
inline constexpr int EXIT_UPDATE_NOT_DONE = 1;   // no file, file not opened, or update failed

int RunUpdateProgram(int argc, const char* const* argv);

}  // namespace tarnix
