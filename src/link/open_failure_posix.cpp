// A failed open on POSIX systems. Win32 shows a message box; here the same facts go to standard
// error as one line, with the device and the next step for the common causes.

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "open_failure.h"
#include "open_failure_hints.h"

namespace tarnix {

namespace {

// A lock file names the holder; without one the device itself refused (flock, TIOCEXCL).
std::string HintForBusyDevice(const OpenAttempt& attempt) {
    const LockHolder& holder = attempt.holder;
    if (holder.pid != 0) {
        std::string program = holder.program.empty() ? "" : holder.program + ", ";
        return "held by " + program + "process " + std::to_string(holder.pid) +
               "; end it and try again";
    }
    if (!holder.lockFile.empty()) {
        return "the lock file " + holder.lockFile +
               " names no process; remove it if no program uses the port";
    }
    return "another program holds the port; end it (fuser " + attempt.devicePath +
           " names it) and try again";
}

}  // namespace

std::string HintForOpenFailure(int error, const OpenAttempt& attempt) {
    switch (error) {
        case EACCES:
        case EPERM:
            return "this user may not open it: add the user to the 'dialout' group "
                   "(sudo usermod -aG dialout $USER), then log in again";
        case EBUSY:
            return HintForBusyDevice(attempt);
        case ENOENT:
        case ENODEV:
        case ENXIO:
        case EIO:
            if (attempt.comNr != 0) {
                return "COM" + std::to_string(attempt.comNr) + " is " + attempt.devicePath +
                       ", which is missing or has no port behind it here; a USB adapter is "
                       "given by its device path or name: see ls /dev/serial/by-id/";
            }
            return "no such serial device now: ls /dev/serial/by-id/ lists the adapters "
                   "that are plugged in, and dmesg names the device the last one became";
        case ENOTTY:
            return "this is not a serial device; ls /dev/serial/by-id/ lists the adapters";
        default:
            return "";
    }
}

std::string OpenFailureLine(const char* caption, int error, const char* systemText,
                            const OpenAttempt& attempt) {
    std::string line = std::string(caption) + ": " + attempt.devicePath;
    if (attempt.comNr != 0) {
        line += " (COM" + std::to_string(attempt.comNr) + ")";
    }
    line += std::string(": ") + systemText;
    std::string hint = HintForOpenFailure(error, attempt);
    if (!hint.empty()) {
        line += " (" + hint + ")";
    }
    return line;
}

// Standard output first, so that the line comes after what was printed before the failure.
void ShowOpenFailure(const char* caption, int error, const OpenAttempt& attempt) {
    fflush(stdout);
    fprintf(stderr, "%s\n", OpenFailureLine(caption, error, strerror(error), attempt).c_str());
}

}  // namespace tarnix
