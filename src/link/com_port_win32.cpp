// The platform half of the port on Windows (port_backend.h): the communications functions of
// the Win32 API on a synchronous (non-overlapped) handle. The driver does the line work:
// time-outs through COMMTIMEOUTS, single bytes ahead of the output queue through
// TransmitCommChar. The error numbers are GetLastError() values.

#include <windows.h>

#include <string>

#include "com_port.h"
#include "interrupts.h"
#include "interrupts_win32.h"
#include "port_backend.h"

namespace {

constexpr DWORD INPUT_QUEUE_SIZE = 32;
constexpr DWORD OUTPUT_QUEUE_SIZE = 1024;
constexpr DWORD FIRST_BYTE_TIMEOUT_MS = 5000;

HANDLE ComHandle = INVALID_HANDLE_VALUE;

// The failure of `call`, with the error that it left.
PortResult FailureOf(const char* call) {
    return PortFailure(call, static_cast<int>(GetLastError()));
}

// Only the listed fields change; everything else (fTXContinueOnXoff, the XON/XOFF
// characters, ...) keeps what the driver reported.
void ApplyLineSettings(DCB* dcb, long baud) {
    dcb->BaudRate = static_cast<DWORD>(baud);
    dcb->ByteSize = 8;
    dcb->Parity = NOPARITY;
    dcb->StopBits = TWOSTOPBITS;
    dcb->fBinary = TRUE;
    dcb->fParity = FALSE;
    dcb->fOutxCtsFlow = FALSE;
    dcb->fOutxDsrFlow = FALSE;
    dcb->fDtrControl = DTR_CONTROL_DISABLE;
    dcb->fDsrSensitivity = FALSE;
    dcb->fOutX = FALSE;
    dcb->fInX = FALSE;
    dcb->fErrorChar = FALSE;
    dcb->fNull = FALSE;
    dcb->fRtsControl = RTS_CONTROL_DISABLE;
    dcb->fAbortOnError = TRUE;
}

PortResult SetLineSettings(long baud) {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(ComHandle, &dcb)) {
        return FailureOf("GetCommState");
    }
    ApplyLineSettings(&dcb, baud);
    if (!SetCommState(ComHandle, &dcb)) {
        return FailureOf("SetCommState");
    }
    return PortSuccess();
}

PortResult SetQueueSizes() {
    if (!SetupComm(ComHandle, INPUT_QUEUE_SIZE, OUTPUT_QUEUE_SIZE)) {
        return FailureOf("SetupComm");
    }
    return PortSuccess();
}

// A one-byte read returns at once when a byte is waiting, otherwise with the first byte
// that arrives, and gives up with zero bytes after five seconds. Writes never time out.
PortResult SetTimeouts() {
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = MAXDWORD;
    timeouts.ReadTotalTimeoutConstant = FIRST_BYTE_TIMEOUT_MS;
    timeouts.WriteTotalTimeoutMultiplier = 0;
    timeouts.WriteTotalTimeoutConstant = 0;
    if (!SetCommTimeouts(ComHandle, &timeouts)) {
        return FailureOf("SetCommTimeouts");
    }
    return PortSuccess();
}

// The read itself, ended early by the console handler when an interrupt comes. *error receives
// the error of a failed read.
bool ReadOneByte(uint8_t* value, DWORD* count, DWORD* error) {
    BeginInterruptibleRead();
    BOOL succeeded = ReadFile(ComHandle, value, 1, count, nullptr);
    *error = GetLastError();
    EndInterruptibleRead();
    return succeeded != FALSE;
}

}  // namespace

// Windows reaches its serial ports by number only.
bool ComDevicePathsSupported() {
    return false;
}

// The device namespace prefix reaches every COM port: a plain "COM10" fails in CreateFileA, and
// USB adapters usually get numbers above 9.
std::string ComPortDevicePath(int comNr) {
    return "\\\\.\\COM" + std::to_string(comNr);
}

int DevicePathRefusalError() {
    return ERROR_INVALID_NAME;
}

// Exclusive (share mode 0) and synchronous.
PortResult OpenPortDevice(const char* devicePath) {
    ComHandle = CreateFileA(devicePath, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                            nullptr);
    if (ComHandle == INVALID_HANDLE_VALUE) {
        return FailureOf("CreateFile");
    }
    return PortSuccess();
}

PortResult ConfigurePortLine(long baud) {
    PortResult result = SetLineSettings(baud);
    if (Succeeded(result)) {
        result = SetQueueSizes();
    }
    return Succeeded(result) ? SetTimeouts() : result;
}

// RTS stays low through the line settings (RTS_CONTROL_DISABLE).
PortResult LowerPortModemLines() {
    if (!EscapeCommFunction(ComHandle, CLRDTR)) {
        return FailureOf("EscapeCommFunction");
    }
    return PortSuccess();
}

// Nothing to ask: the read time-outs above already hand on each byte as it arrives.
void TunePortLatency() {}

PortResult PurgePortInput() {
    if (!PurgeComm(ComHandle, PURGE_RXCLEAR)) {
        return FailureOf("PurgeComm");
    }
    return PortSuccess();
}

PortWait WaitForPortByte() {
    if (TakeInterruptForWait()) {
        return {PortWaitEnd::Interrupted, 0, 0};
    }
    uint8_t value = 0;
    DWORD count = 0;
    DWORD error = 0;
    if (!ReadOneByte(&value, &count, &error)) {
        if (error == ERROR_OPERATION_ABORTED && TakeInterruptForWait()) {
            return {PortWaitEnd::Interrupted, 0, 0};
        }
        return {PortWaitEnd::Failed, 0, static_cast<int>(error)};
    }
    if (count == 0) {
        bool interrupted = TakeInterruptForWait();
        return {interrupted ? PortWaitEnd::Interrupted : PortWaitEnd::TimedOut, 0, 0};
    }
    return {PortWaitEnd::Byte, value, 0};
}

PortDiscard DiscardPortInput() {
    // ClearCommError is the one call that tells how much is waiting; it also clears a line
    // error that fAbortOnError has latched, so a run goes on after one rather than failing
    // every later read. A driver that cannot tell (some emulations) still gets its purge.
    DWORD errors = 0;
    COMSTAT status{};
    DWORD waiting = ClearCommError(ComHandle, &errors, &status) ? status.cbInQue : 0;
    if (!PurgeComm(ComHandle, PURGE_RXCLEAR)) {
        return {-1, false};
    }
    return {static_cast<long>(waiting), false};
}

PortResult SendPortByte(uint8_t value) {
    if (!TransmitCommChar(ComHandle, static_cast<char>(value))) {
        return FailureOf("TransmitCommChar");
    }
    return PortSuccess();
}

// With no write time-out a synchronous WriteFile returns only when the whole block is out.
PortResult WritePortBlock(const void* data, uint32_t length, uint32_t* written) {
    *written = 0;
    if (ComHandle == INVALID_HANDLE_VALUE) {
        return PortFailure("WriteFile", ERROR_INVALID_HANDLE);
    }
    DWORD count = 0;
    BOOL succeeded = WriteFile(ComHandle, data, length, &count, nullptr);
    *written = count;
    return succeeded ? PortSuccess() : FailureOf("WriteFile");
}

bool PortIsOpen() {
    return ComHandle != INVALID_HANDLE_VALUE;
}

void ReleasePortAtOnce() {
    HANDLE handle = ComHandle;
    if (handle == INVALID_HANDLE_VALUE) {
        return;
    }
    EscapeCommFunction(handle, CLRDTR);
    CloseHandle(handle);
    ComHandle = INVALID_HANDLE_VALUE;
}

// The errors with which Windows reports a port whose device was removed (a USB adapter pulled
// out): further calls on the handle fail the same way.
bool IsPortHangUpError(int error) {
    DWORD code = static_cast<DWORD>(error);
    return code == ERROR_ACCESS_DENIED || code == ERROR_BAD_COMMAND || code == ERROR_GEN_FAILURE ||
           code == ERROR_DEVICE_NOT_CONNECTED || code == ERROR_DEVICE_REMOVED;
}

void WaitMilliseconds(unsigned milliseconds) {
    Sleep(milliseconds);
}
