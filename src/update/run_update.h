#pragma once
// One run of the update program, from banner to key wait.

// Exit status of the update program.
inline constexpr int EXIT_UPDATE_COMPLETED = 0;  // Start, every command and End acknowledged
inline constexpr int EXIT_UPDATE_NOT_DONE = 1;   // no file, file not opened, or update failed
inline constexpr int EXIT_PORT_NOT_OPENED = 2;

int RunUpdateProgram(int argc, const char* const* argv);
