#pragma once
// An open port as a value: its operations (the backend's table, port_backend.h) and its own
// state. Opening by the one port rule (port_choice.h) gives a port or the facts of why there is
// none; every operation takes the port it works on, so that several ports can be open in one
// process. Nothing here prints: operations return what happened, with the notes the program
// prints where the port has something to say (port_texts.h).

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "device_lock.h"
#include "line_settings.h"
#include "open_failure.h"
#include "port_backend.h"

namespace tarnix {

struct PortChoice;
struct NetworkConnection;  // network_port.cpp

struct NetworkConnectionDeleter {
    void operator()(NetworkConnection* connection) const;
};

struct Port {
    const PortOps* ops = nullptr;
    LineSettings line = MODULE_LINE;
    std::string name;      // "COM3", "/dev/ttyUSB0", "rfc2217://host:4000": for the messages
    intptr_t handle = -1;  // a device's descriptor (POSIX) or HANDLE (Windows); -1 when closed
    std::unique_ptr<NetworkConnection, NetworkConnectionDeleter> network;  // a network port's
    bool hungUp = false;  // the device or the far side has gone: every later step fails
    // After a hang-up every byte sent fails alike: one note says it until something else is
    // said (a failed read), rather than one line per byte.
    bool sendFailureNoted = false;
    // A device's lock files (device_lock.h), in fixed buffers: the backend's release removes
    // them, also the second interrupt's release at once. Always empty on Windows.
    DeviceLock deviceLock;
};

// Something the port has to tell, in the order it happened.
enum class PortNoteKind {
    NotOpen,     // an operation on a port that is not open ("COM port not opened !")
    StepFailed,  // "<call> failed with error <n>."
    TimedOut,    // no reply within the time-out ("TIMEOUT !!!")
    ReadFailed,  // "Read on COM-port failed with error <n>."
};

struct PortNote {
    PortNoteKind kind;
    const char* call = nullptr;  // StepFailed
    int error = 0;               // StepFailed, ReadFailed
};

using PortNotes = std::vector<PortNote>;

// Why a port could not be opened.
enum class OpenFailureKind {
    Device,   // the device could not be opened (the "COM open failed" box or line)
    Step,     // a step of preparing the opened device failed ("<call> failed with error <n>.")
    Network,  // a network port could not be reached or set up
    Lookup,   // a usb: name matched no adapter, or several
};

struct PortOpenFailure {
    OpenFailureKind kind = OpenFailureKind::Device;
    int error = 0;               // the system's error number; 0 when the far side answered
    const char* call = nullptr;  // Step: the call that failed
    OpenAttempt attempt;         // Device: the port as it was named
    std::string name;            // Network, Lookup: the port as the user wrote it
    std::string reason;          // Network, Lookup: why, in words
};

// The outcome of an open: a port, or why there is none.
struct PortOpening {
    std::unique_ptr<Port> port;
    PortOpenFailure failure;  // when port is null
    // What the device's lock files had to say, whether or not the port opened: a stale lock
    // replaced, a lock directory that cannot be written (PrintOpenNotices).
    std::vector<std::string> notices{};
};

// Opens the chosen port with the given line: the device exclusively (on POSIX systems its UUCP
// lock files first, device_lock.h; a device that another program holds by one is EBUSY, with
// the holder in the failure's attempt), its line set, DTR and
// RTS low, pending input discarded; a network port connected and, for RFC 2217, the far side's
// line set, each setting acknowledged; a usb: port looked up in the port list first. Whatever
// fails leaves nothing open.
PortOpening OpenPort(const PortChoice& choice, const LineSettings& line);

// True while the port is open.
bool PortIsOpen(const Port& port);

// Lowers DTR and closes the port (a network port: the far side gets what was sent first).
PortNotes ClosePort(Port& port);

// Discards everything in the input queue.
PortNotes PurgeInput(Port& port);

// Discards what is already waiting and returns how many bytes that were (0 when none or the
// discarding failed). Under stop-and-wait a byte that is waiting before a command is sent
// cannot be that command's reply.
unsigned long DiscardWaitingInput(Port& port);

// How a receive ended.
enum class ReceiveResult {
    Byte,         // a byte arrived
    TimedOut,     // none within the line's reply time-out
    Failed,       // the read failed
    NotOpen,      // the port is not open
    Interrupted,  // an interrupt ended the wait (see interrupts.h)
    HungUp,       // the device was disconnected or the other side hung up
};

struct Received {
    ReceiveResult ended = ReceiveResult::NotOpen;
    uint8_t value = 0;  // the byte; 0 when none arrived
};

// Waits at most the line's reply time-out for one byte.
Received ReceiveByte(Port& port, PortNotes* notes);

// A frame as it goes out: the head byte by byte, each at once (ahead of anything queued), then
// the block in one write. Bytes reach the line in this order.
struct Frame {
    std::vector<uint8_t> head;
    std::vector<uint8_t> block;
};

// Sends the frame; returns the count of block bytes written (also when the write failed).
// Failed sends are noted, not retried: a frame that did not arrive whole surfaces as a
// missing or wrong reply.
uint32_t SendFrame(Port& port, const Frame& frame, PortNotes* notes);

// Writes a whole block (no note: the caller knows best what a failed block means).
PortResult WriteBlock(Port& port, const uint8_t* data, uint32_t length, uint32_t* written);

// The port that the second interrupt releases at once (lowers DTR and closes, without a word),
// or none. The one piece of process-wide state of the link: a signal handler cannot be handed
// anything, so it finds the port here. Set it after the open, clear it before the close.
void ReleaseOnSecondInterrupt(Port* port);
// For InstallInterruptHandlers (interrupts.h): releases that port. Async-signal-safe.
void ReleasePortOnInterrupt();

}  // namespace tarnix
