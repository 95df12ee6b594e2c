#pragma once
// The one serial port of the process. Each platform has its own implementation file
// (com_port_posix.cpp, com_port_win32.cpp); the rest of the program reaches the port only
// through these functions. Every operation reports its own failures on standard output
// (a failed open through ShowLastErrorBox), so callers look only at results.

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

// The rate that OpenComPort applies for a requested rate.
long EffectiveBaudRate(long requested);

// Lowers DTR and closes the port; "COM port not opened !" when none is open.
void CloseComPort();
bool IsComPortOpen();

// Discards everything waiting in the input queue. 0 on success, -1 on failure.
int PurgeComInput();

// Sends one byte at once. Failures are reported, not returned.
void SendByte(uint8_t value);

// Reads one byte, waiting at most 5 seconds for it. Returns 0 when the port is not open, the
// read fails ("Read on COM-port failed with error %d.") or the time runs out ("TIMEOUT !!!").
uint8_t ReceiveByte();

// How many ReceiveByte calls so far delivered no byte (port not open, read failure, time-out).
// A 0 from ReceiveByte is a byte from the module only when this count did not grow.
unsigned long MissedReceiveCount();

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
