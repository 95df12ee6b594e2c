#pragma once
// What the user is told when a port cannot be opened (ShowLastErrorBox). One file per platform:
// open_failure_posix.cpp (one line on standard error, with the next step to take),
// open_failure_win32.cpp (the system's text in a message box, or on standard error when no
// person is at the console).

#include <string>

#include "device_lock.h"

namespace tarnix {

// The port that an open attempt named.
struct OpenAttempt {
    std::string devicePath;
    int comNr = 0;  // 0 when the port was given as a path
    // Who holds the device by its lock file, when that refused it (EBUSY); empty otherwise.
    LockHolder holder{};
};

// Shows the failure `error` (the system's error number) of opening `attempt` under `caption`.
void ShowOpenFailure(const char* caption, int error, const OpenAttempt& attempt);

}  // namespace tarnix
