// Interrupts on Windows: a console control handler. It runs on a thread of its own, so it can
// end the synchronous port read of the main thread (CancelSynchronousIo) and, for the events
// after which Windows ends the process (console closed, log-off, shut-down), hold that thread
// until the main thread has released the module and left.

#include <windows.h>

#include <csignal>
#include <cstdio>

#include "exit_status.h"
#include "interrupts.h"
#include "interrupts_win32.h"

namespace tarnix {

namespace {

// The C runtime's number for Ctrl-Break.
constexpr int SIGNAL_CTRL_BREAK = 21;
// Windows ends the process some 5 s after a close event; the way out needs less.
constexpr DWORD CLOSE_GRACE_MS = 10000;
constexpr DWORD CANCEL_ATTEMPTS = 40;
constexpr DWORD CANCEL_RETRY_MS = 5;

volatile LONG FirstSignal = 0;
volatile LONG WaitInterruptPending = 0;
HANDLE MainThread = nullptr;
bool InPortRead = false;

// Ready before main(), so that programs and tests without the handlers can read the port too.
struct ReadLockHolder {
    CRITICAL_SECTION section;
    ReadLockHolder() { InitializeCriticalSection(&section); }
};
ReadLockHolder ReadLockStore;
CRITICAL_SECTION& ReadLock = ReadLockStore.section;
const char* ProgramName = "tarnix";
void (*ReleaseAtOnce)() = nullptr;  // the port, lowered and closed by the second interrupt

using CancelSynchronousIoFunction = BOOL(WINAPI*)(HANDLE);
CancelSynchronousIoFunction CancelMainThreadIo = nullptr;

int SignalForEvent(DWORD event) {
    switch (event) {
        case CTRL_C_EVENT:
            return SIGINT;
        case CTRL_BREAK_EVENT:
            return SIGNAL_CTRL_BREAK;
        case CTRL_CLOSE_EVENT:
            return 1;  // SIGHUP on POSIX: the terminal went away
        default:
            return SIGTERM;  // log-off, shut-down
    }
}

const char* SignalName(int signalNumber) {
    switch (signalNumber) {
        case SIGINT:
            return "Ctrl-C";
        case SIGNAL_CTRL_BREAK:
            return "Ctrl-Break";
        case 1:
            return "closing the console";
        default:
            return "log-off or shut-down";
    }
}

// The main thread may be between its check and its read; try again for a moment.
void EndPendingRead() {
    if (CancelMainThreadIo == nullptr || MainThread == nullptr) {
        return;
    }
    for (DWORD attempt = 0; attempt < CANCEL_ATTEMPTS && WaitInterruptPending != 0; ++attempt) {
        // Under the lock the main thread is either in its port read or not in any read of ours.
        EnterCriticalSection(&ReadLock);
        if (InPortRead) {
            CancelMainThreadIo(MainThread);
        }
        LeaveCriticalSection(&ReadLock);
        Sleep(CANCEL_RETRY_MS);
    }
}

[[noreturn]] void EndAtOnce(int signalNumber) {
    if (ReleaseAtOnce != nullptr) {
        ReleaseAtOnce();
    }
    fprintf(stderr, "%s: interrupted again by %s; ended at once\n", ProgramName,
            SignalName(signalNumber));
    fflush(stderr);
    ExitProcess(static_cast<UINT>(ExitStatusForSignal(signalNumber)));
}

BOOL WINAPI OnConsoleEvent(DWORD event) {
    int signalNumber = SignalForEvent(event);
    if (InterlockedCompareExchange(&FirstSignal, signalNumber, 0) != 0) {
        EndAtOnce(signalNumber);
    }
    InterlockedExchange(&WaitInterruptPending, 1);
    EndPendingRead();
    if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
        // Returning lets Windows end the process now; the main thread's exit ends it first.
        Sleep(CLOSE_GRACE_MS);
    }
    return TRUE;
}

}  // namespace

void InstallInterruptHandlers(const char* programName, void (*releaseAtOnce)()) {
    ProgramName = programName;
    ReleaseAtOnce = releaseAtOnce;
    DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &MainThread, 0,
                    FALSE, DUPLICATE_SAME_ACCESS);
    // Looked up at run time: older headers of the cross compiler do not declare it.
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    if (kernel != nullptr) {
        CancelMainThreadIo = reinterpret_cast<CancelSynchronousIoFunction>(
            reinterpret_cast<void*>(GetProcAddress(kernel, "CancelSynchronousIo")));
    }
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

bool InterruptRequested() {
    return FirstSignal != 0;
}

int InterruptSignal() {
    return static_cast<int>(FirstSignal);
}

const char* InterruptName() {
    return SignalName(static_cast<int>(FirstSignal));
}

bool TakeInterruptForWait() {
    return InterlockedExchange(&WaitInterruptPending, 0) != 0;
}

void BeginInterruptibleRead() {
    EnterCriticalSection(&ReadLock);
    InPortRead = true;
    LeaveCriticalSection(&ReadLock);
}

void EndInterruptibleRead() {
    EnterCriticalSection(&ReadLock);
    InPortRead = false;
    LeaveCriticalSection(&ReadLock);
}

}  // namespace tarnix
