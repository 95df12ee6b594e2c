// Interrupts on POSIX: signal handlers that only take note, and a self-pipe that wakes the
// port's poll(). Everything a handler touches is async-signal-safe.

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

#include "exit_status.h"
#include "interrupts.h"
#include "interrupts_posix.h"

namespace tarnix {

namespace {

volatile sig_atomic_t FirstSignal = 0;
int WakePipe[2] = {-1, -1};
const char* ProgramName = "tarnix";
void (*ReleaseAtOnce)() = nullptr;  // the port, lowered and closed by the second interrupt

// Every request to end the run: Ctrl-C, kill, a closed terminal and Ctrl-\. SIGQUIT would
// otherwise end the program on the spot and leave the module waiting for End and Finish.
constexpr int INTERRUPT_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

const char* SignalName(int signalNumber) {
    switch (signalNumber) {
        case SIGINT:
            return "SIGINT";
        case SIGTERM:
            return "SIGTERM";
        case SIGHUP:
            return "SIGHUP";
        case SIGQUIT:
            return "SIGQUIT";
        default:
            return "a signal";
    }
}

void WriteText(const char* text) {
    (void)!write(STDERR_FILENO, text, strlen(text));
}

// The second interrupt: the user wants out now, whatever the way out is doing.
[[noreturn]] void EndAtOnce(int signalNumber) {
    if (ReleaseAtOnce != nullptr) {
        ReleaseAtOnce();
    }
    WriteText(ProgramName);
    WriteText(": interrupted again by ");
    WriteText(SignalName(signalNumber));
    WriteText("; ended at once\n");
    _exit(ExitStatusForSignal(signalNumber));
}

void OnInterrupt(int signalNumber) {
    if (FirstSignal != 0) {
        EndAtOnce(signalNumber);
    }
    FirstSignal = signalNumber;
    int savedErrno = errno;
    (void)!write(WakePipe[1], "!", 1);
    errno = savedErrno;
}

bool OpenWakePipe() {
    if (pipe(WakePipe) != 0) {
        return false;
    }
    for (int fd : WakePipe) {
        fcntl(fd, F_SETFD, FD_CLOEXEC);
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    }
    return true;
}

}  // namespace

void InstallInterruptHandlers(const char* programName, void (*releaseAtOnce)()) {
    ProgramName = programName;
    ReleaseAtOnce = releaseAtOnce;
    signal(SIGPIPE, SIG_IGN);
    if (!OpenWakePipe()) {
        WakePipe[0] = WakePipe[1] = -1;
    }
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    // The handlers never nest: a second interrupt is seen only after the first was noted.
    for (int signalNumber : INTERRUPT_SIGNALS) {
        sigaddset(&action.sa_mask, signalNumber);
    }
    // No SA_RESTART: a blocking read of standard input (the key wait, the file prompt) ends.
    action.sa_flags = 0;
    for (int signalNumber : INTERRUPT_SIGNALS) {
        sigaction(signalNumber, &action, nullptr);
    }
}

bool InterruptRequested() {
    return FirstSignal != 0;
}

int InterruptSignal() {
    return FirstSignal;
}

const char* InterruptName() {
    return SignalName(FirstSignal);
}

bool TakeInterruptForWait() {
    if (WakePipe[0] < 0) {
        return false;
    }
    char drained[16];
    bool taken = false;
    while (read(WakePipe[0], drained, sizeof drained) > 0) {
        taken = true;
    }
    return taken;
}

int InterruptWakeDescriptor() {
    return WakePipe[0];
}

}  // namespace tarnix
