#pragma once
// The one serial port of the process. com_port_common.cpp implements these functions, and
// prints their texts, on top of the platform half of port_backend.h (com_port_posix.cpp, its
// Linux-only pieces in com_port_linux.cpp; com_port_win32.cpp); the rest of the program reaches
// the port only through these functions. Every operation reports its own failures on standard
// output (a failed open through ShowLastErrorBox), so callers look only at results.

#include <cstdint>

// Opens port COM<comNr> (POSIX: /dev/ttyS<comNr-1>) at 57600 or 115200 baud (any other
// request gives 9600), 8 data bits, no parity, two stop bits, no flow control, DTR and RTS
// low, pending input discarded. Closes a port that is already open first. Returns 0, or -1
// after reporting the failure; a failure after the device was opened leaves it open until
// the next OpenComPort or CloseComPort.
int OpenComPort(int comNr, long baud);

// Same as OpenComPort for a device named by path ("/dev/ttyUSB0"). Only platforms for which
// ComDevicePathsSupported() is true accept paths; the others report a failed open.
int OpenComDevice(const char* devicePath, long baud);
bool ComDevicePathsSupported();

// Same as OpenComPort for a port reached over the network (network_address.h): connects and,
// for RFC 2217, sets the far side's line as OpenComPort sets a local one, each setting
// acknowledged; a failure of any of it is a port that cannot be opened ("COM open failed: " and
// the URL, the reason and a next step on standard error), and nothing is left open.
struct NetworkAddress;
int OpenNetworkPort(const NetworkAddress& address, long baud);

// The rate that OpenComPort applies for a requested rate.
long EffectiveBaudRate(long requested);

// Lowers DTR and closes the port; "COM port not opened !" when none is open.
void CloseComPort();
bool IsComPortOpen();

// Discards everything waiting in the input queue. 0 on success, -1 on failure.
int PurgeComInput();

// Sends one byte at once. Failures are reported, not returned.
void SendByte(uint8_t value);

// How a receive ended.
enum class ReceiveResult {
    Byte,         // a byte arrived
    TimedOut,     // none within 5 seconds ("TIMEOUT !!!")
    Failed,       // the read failed ("Read on COM-port failed with error %d.")
    NotOpen,      // no port is open ("COM port not opened !")
    Interrupted,  // an interrupt ended the wait (see interrupts.h); nothing printed
    HungUp,       // the device was disconnected or the other side hung up (printed as Failed)
};

// Reads one byte, waiting at most 5 seconds for it; *value is the byte, or 0 when none arrived.
// Each outcome but Byte and Interrupted prints its message as given above.
ReceiveResult ReceiveByteChecked(uint8_t* value);

// ReceiveByteChecked without the outcome: the byte, or 0 when none arrived. A genuine 0x00 from
// the module looks the same; callers that must tell them apart use ReceiveByteChecked.
uint8_t ReceiveByte();

// Discards what is already waiting in the input queue and returns how many bytes that were;
// -1 when no port is open or the discarding failed (nothing is printed). Under stop-and-wait a
// byte that is waiting before a command is sent cannot be that command's reply.
long DiscardPendingInput();

// True once the open port has shown a hang-up (the device was disconnected, or the other side
// of a pseudo-terminal closed): every later operation on it fails. Reset by the next open.
bool ComPortHungUp();

// Lowers DTR and closes the port without a word; async-signal-safe, for the second interrupt.
void ReleaseComPortAtOnce();

// Writes a whole block to the port (partial writes and interrupted calls are continued).
// Returns true when the write succeeded; *written receives the count actually written, also
// on failure. On failure LastComError() holds the system's error number.
bool WriteComBlock(const void* data, uint32_t length, uint32_t* written);

// The system's error number of the last failed port operation (errno / GetLastError()).
int LastComError();

// Tells the user the system's text for the last error, under the given caption.
// POSIX: one line on standard error, "<caption>: <system text>", with a hint for the common
// causes. Win32: a message box.
void ShowLastErrorBox(const char* caption);

// Sleeps for the given number of milliseconds (the short pause after programming a block).
void WaitMilliseconds(unsigned milliseconds);
