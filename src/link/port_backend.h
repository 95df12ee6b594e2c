#pragma once
// The platform half of the port: the system calls, one implementation file per platform
// (com_port_posix.cpp, com_port_win32.cpp). Nothing here prints. Each step says how it ended,
// and com_port_common.cpp, which implements com_port.h on top of these, turns that into the
// console texts, so that they are the same on every platform. The one open port handle is kept
// by the implementation file.
//
// Each platform file also implements ComDevicePathsSupported() and WaitMilliseconds() of
// com_port.h.

#include <cstdint>
#include <string>

// How a step ended: success, or the call that failed and the system's error number (errno /
// GetLastError()). The call is named as the Win32 API names it on every platform, because the
// console texts name it ("SetCommState failed with error 22.") and scripts read them.
struct PortResult {
    const char* failedCall;  // nullptr when the step succeeded
    int error;
};

inline PortResult PortSuccess() {
    return {nullptr, 0};
}

inline PortResult PortFailure(const char* call, int error) {
    return {call, error};
}

inline bool Succeeded(const PortResult& result) {
    return result.failedCall == nullptr;
}

// The device behind COM<comNr>.
std::string ComPortDevicePath(int comNr);

// The error with which OpenComDevice refuses a path where ComDevicePathsSupported() is false.
int DevicePathRefusalError();

// Opens the device exclusively; it becomes the open port. A failure leaves no port open.
PortResult OpenPortDevice(const char* devicePath);

// The steps that prepare the open port, in the order in which OpenComPort takes them:
// 8 data bits, no parity, two stop bits, no flow control, the read time-out, at `baud`.
PortResult ConfigurePortLine(long baud);
// DTR and RTS low.
PortResult LowerPortModemLines();
// Where the driver has such a setting, asks it to hand on each received byte at once. Silent:
// drivers without it are left as they are.
void TunePortLatency();
// Discards the input queue.
PortResult PurgePortInput();

// How a wait for a byte ended.
enum class PortWaitEnd {
    Byte,         // `value` arrived
    TimedOut,     // none within 5 seconds
    Failed,       // `error` says why
    Interrupted,  // an interrupt ended the wait (TakeInterruptForWait of interrupts.h)
    HungUp,       // the device was disconnected or the other side hung up; `error` says how
};

struct PortWait {
    PortWaitEnd end;
    uint8_t value;
    int error;
};

// Waits at most 5 seconds for one byte and reads it.
PortWait WaitForPortByte();

// What discarding the waiting input found.
struct PortDiscard {
    long count;   // the bytes discarded; -1 when the discarding failed
    bool hungUp;  // the device showed a hang-up on the way
};

PortDiscard DiscardPortInput();

// Sends one byte at once.
PortResult SendPortByte(uint8_t value);

// Writes the whole block; *written receives the count written, also on failure. With no port
// open it fails with the system's error for an invalid handle.
PortResult WritePortBlock(const void* data, uint32_t length, uint32_t* written);

bool PortIsOpen();

// Lowers DTR and closes the port, if one is open. Async-signal-safe: the second interrupt's
// handler calls it.
void ReleasePortAtOnce();

// True for the errors with which the system reports that the device or the other side is gone;
// every later operation on the port fails then.
bool IsPortHangUpError(int error);

// The steps of an open port that every kind of port has, one table per kind: the device of
// this platform (the functions above) and the network port (network_port.h). The port's form
// chooses the kind when it is opened.
struct PortKind {
    PortResult (*purgeInput)();
    PortWait (*waitForByte)();
    PortDiscard (*discardInput)();
    PortResult (*sendByte)(uint8_t value);
    PortResult (*writeBlock)(const void* data, uint32_t length, uint32_t* written);
    bool (*isOpen)();
    void (*close)();          // lets the port go at the end of a run
    void (*releaseAtOnce)();  // the same at once, from a signal handler
    bool (*isHangUpError)(int error);
};
