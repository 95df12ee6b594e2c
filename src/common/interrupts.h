#pragma once

namespace tarnix {
// Interrupts of a run: Ctrl-C and the termination requests of the system (POSIX: SIGINT,
// SIGTERM, SIGHUP, SIGQUIT; Windows: Ctrl-C, Ctrl-Break, closing the console, log-off,
// shut-down).
// One implementation file per platform (interrupts_posix.cpp, interrupts_win32.cpp).
//
// A first interrupt only takes note: the run stops at its next safe point (between two frames,
// never inside one), releases the module as after a failure, and exits with
// ExitStatusForSignal(InterruptSignal()). The one reply wait that is under way when it comes,
// or the next one to begin, ends at once. A second interrupt releases the port (the function given
// to InstallInterruptHandlers) and ends the program at once. SIGPIPE is ignored: a standard output
// whose reader has gone never ends a run.

// Installs the handlers; `programName` starts the messages on standard error, and the second
// interrupt calls `releaseAtOnce` (async-signal-safe: ReleaseComPortAtOnce) before it ends the
// program. Call it once, at start-up, after EnsureStandardDescriptors().
void InstallInterruptHandlers(const char* programName, void (*releaseAtOnce)());

// True once a first interrupt has arrived.
bool InterruptRequested();

// The signal number of the first interrupt (Windows: SIGINT for Ctrl-C, 21 for Ctrl-Break,
// SIGHUP for a closed console, SIGTERM for log-off and shut-down); 0 when none has arrived.
int InterruptSignal();

// "SIGINT", "Ctrl-Break", ...: how the messages name the first interrupt.
const char* InterruptName();

// True, once per interrupt, when an interrupt has arrived that neither a reply wait nor a safe
// point has taken yet. The port's reply wait calls it: a wait that takes an interrupt ends.
bool TakeInterruptForWait();

// The check at a safe point: true when the run must stop here. The interrupt then counts as
// taken, so that the replies of the way out (End) are still waited for as usual.
inline bool StopAtSafePoint() {
    if (!InterruptRequested()) {
        return false;
    }
    TakeInterruptForWait();
    return true;
}

}  // namespace tarnix
