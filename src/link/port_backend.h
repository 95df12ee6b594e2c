#pragma once
// The backends of a port, one table of operations each: the serial device of this platform
// (com_port_posix.cpp, com_port_win32.cpp) and the network port (network_port.cpp). Nothing
// here prints: each step says how it ended, and the program turns that into its texts
// (port_texts.h), the same on every platform. Every operation works on the port it is given
// and keeps its state there (port.h).

#include <cstdint>
#include <string>

#include "line_settings.h"

namespace tarnix {

struct Port;

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

// How a wait for a byte ended.
enum class PortWaitEnd {
    Byte,         // `value` arrived
    TimedOut,     // none within the line's reply time-out
    Failed,       // `error` says why
    Interrupted,  // an interrupt ended the wait (TakeInterruptForWait of interrupts.h)
    HungUp,       // the device was disconnected or the other side hung up; `error` says how
};

struct PortWait {
    PortWaitEnd end;
    uint8_t value;
    int error;
};

// What discarding the waiting input found.
struct PortDiscard {
    long count;   // the bytes discarded; -1 when the discarding failed
    bool hungUp;  // the device showed a hang-up on the way
};

// The steps of an open port that every kind of port has. The port's form chooses the table
// when the port is opened.
struct PortOps {
    PortResult (*purgeInput)(Port& port);
    PortWait (*waitForByte)(Port& port);  // at most port.line.replyTimeoutMs
    PortDiscard (*discardInput)(Port& port);
    PortResult (*sendByte)(Port& port, uint8_t value);  // at once, ahead of queued blocks
    // The whole block; *written receives the count written, also on failure.
    PortResult (*writeBlock)(Port& port, const void* data, uint32_t length, uint32_t* written);
    bool (*isOpen)(const Port& port);
    void (*close)(Port& port);          // lets the port go at the end of a run
    void (*releaseAtOnce)(Port& port);  // the same at once; async-signal-safe
    bool (*isHangUpError)(int error);
};

// The serial device of this platform.
extern const PortOps DEVICE_PORT_OPS;

// The device behind COM<comNr>.
std::string ComPortDevicePath(int comNr);
// Whether this platform opens serial devices by path (POSIX) or by number only (Windows).
bool ComDevicePathsSupported();
// The error with which a path is refused where ComDevicePathsSupported() is false.
int DevicePathRefusalError();

// Opens the device exclusively into `port` (its handle and DEVICE_PORT_OPS). A failure leaves
// the port closed.
PortResult OpenPortDevice(Port& port, const char* devicePath);
// The steps that prepare the open device, in the order in which the open takes them: the
// line of port.line (rate, 8N2, no flow control, the reply time-out); DTR and RTS low; where
// the driver has such a setting, each received byte handed on at once (silent).
PortResult ConfigurePortLine(Port& port);
PortResult LowerPortModemLines(Port& port);
void TunePortLatency(Port& port);

// Sleeps for the given number of milliseconds (the short pause after programming a block).
void WaitMilliseconds(unsigned milliseconds);

}  // namespace tarnix
