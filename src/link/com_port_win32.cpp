// The platform half of the port on Windows (port_backend.h): the communications functions of
// the Win32 API on a synchronous (non-overlapped) handle. The driver does the line work:
// time-outs through COMMTIMEOUTS, single bytes ahead of the output queue through
// TransmitCommChar. The error numbers are GetLastError() values.

#include <windows.h>

#include <string>

#include "interrupts.h"
#include "interrupts_win32.h"
#include "port.h"
#include "port_backend.h"

namespace tarnix {

namespace {

constexpr DWORD INPUT_QUEUE_SIZE = 32;
constexpr DWORD OUTPUT_QUEUE_SIZE = 1024;

HANDLE Handle(const Port& port) {
    return reinterpret_cast<HANDLE>(port.handle);
}

// The failure of `call`, with the error that it left.
PortResult FailureOf(const char* call) {
    return PortFailure(call, static_cast<int>(GetLastError()));
}

// Only the listed fields change; everything else (fTXContinueOnXoff, the XON/XOFF
// characters, ...) keeps what the driver reported.
void ApplyLineSettings(DCB* dcb, const LineSettings& line) {
    dcb->BaudRate = static_cast<DWORD>(line.baud);
    dcb->ByteSize = static_cast<BYTE>(line.dataBits);
    dcb->Parity = NOPARITY;
    dcb->StopBits = line.stopBits == 2 ? TWOSTOPBITS : ONESTOPBIT;
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

PortResult SetLineSettings(const Port& port) {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(Handle(port), &dcb)) {
        return FailureOf("GetCommState");
    }
    ApplyLineSettings(&dcb, port.line);
    if (!SetCommState(Handle(port), &dcb)) {
        return FailureOf("SetCommState");
    }
    return PortSuccess();
}

PortResult SetQueueSizes(const Port& port) {
    if (!SetupComm(Handle(port), INPUT_QUEUE_SIZE, OUTPUT_QUEUE_SIZE)) {
        return FailureOf("SetupComm");
    }
    return PortSuccess();
}

// A one-byte read returns at once when a byte is waiting, otherwise with the first byte
// that arrives, and gives up with zero bytes after the reply time-out. Writes never time out.
PortResult SetTimeouts(const Port& port) {
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = MAXDWORD;
    timeouts.ReadTotalTimeoutConstant = static_cast<DWORD>(port.line.replyTimeoutMs);
    timeouts.WriteTotalTimeoutMultiplier = 0;
    timeouts.WriteTotalTimeoutConstant = 0;
    if (!SetCommTimeouts(Handle(port), &timeouts)) {
        return FailureOf("SetCommTimeouts");
    }
    return PortSuccess();
}

// The read itself, ended early by the console handler when an interrupt comes. *error receives
// the error of a failed read.
bool ReadOneByte(const Port& port, uint8_t* value, DWORD* count, DWORD* error) {
    BeginInterruptibleRead();
    BOOL succeeded = ReadFile(Handle(port), value, 1, count, nullptr);
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
PortResult OpenPortDevice(Port& port, const char* devicePath) {
    HANDLE handle = CreateFileA(devicePath, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return FailureOf("CreateFile");
    }
    port.handle = reinterpret_cast<intptr_t>(handle);
    port.ops = &DEVICE_PORT_OPS;
    return PortSuccess();
}

PortResult ConfigurePortLine(Port& port) {
    PortResult result = SetLineSettings(port);
    if (Succeeded(result)) {
        result = SetQueueSizes(port);
    }
    return Succeeded(result) ? SetTimeouts(port) : result;
}

// RTS stays low through the line settings (RTS_CONTROL_DISABLE).
PortResult LowerPortModemLines(Port& port) {
    if (!EscapeCommFunction(Handle(port), CLRDTR)) {
        return FailureOf("EscapeCommFunction");
    }
    return PortSuccess();
}

// Nothing to ask: the read time-outs above already hand on each byte as it arrives.
void TunePortLatency(Port&) {}

void WaitMilliseconds(unsigned milliseconds) {
    Sleep(milliseconds);
}

namespace {

PortResult PurgeDeviceInput(Port& port) {
    if (!PurgeComm(Handle(port), PURGE_RXCLEAR)) {
        return FailureOf("PurgeComm");
    }
    return PortSuccess();
}

PortWait WaitForDeviceByte(Port& port) {
    if (TakeInterruptForWait()) {
        return {PortWaitEnd::Interrupted, 0, 0};
    }
    uint8_t value = 0;
    DWORD count = 0;
    DWORD error = 0;
    if (!ReadOneByte(port, &value, &count, &error)) {
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

PortDiscard DiscardDeviceInput(Port& port) {
    // ClearCommError is the one call that tells how much is waiting; it also clears a line
    // error that fAbortOnError has latched, so a run goes on after one rather than failing
    // every later read. A driver that cannot tell (some emulations) still gets its purge.
    DWORD errors = 0;
    COMSTAT status{};
    DWORD waiting = ClearCommError(Handle(port), &errors, &status) ? status.cbInQue : 0;
    if (!PurgeComm(Handle(port), PURGE_RXCLEAR)) {
        return {-1, false};
    }
    return {static_cast<long>(waiting), false};
}

PortResult SendDeviceByte(Port& port, uint8_t value) {
    if (!TransmitCommChar(Handle(port), static_cast<char>(value))) {
        return FailureOf("TransmitCommChar");
    }
    return PortSuccess();
}

// With no write time-out a synchronous WriteFile returns only when the whole block is out.
PortResult WriteDeviceBlock(Port& port, const void* data, uint32_t length, uint32_t* written) {
    *written = 0;
    if (Handle(port) == INVALID_HANDLE_VALUE) {
        return PortFailure("WriteFile", ERROR_INVALID_HANDLE);
    }
    DWORD count = 0;
    BOOL succeeded = WriteFile(Handle(port), data, length, &count, nullptr);
    *written = count;
    return succeeded ? PortSuccess() : FailureOf("WriteFile");
}

bool DeviceIsOpen(const Port& port) {
    return Handle(port) != INVALID_HANDLE_VALUE;
}

void ReleaseDeviceAtOnce(Port& port) {
    HANDLE handle = Handle(port);
    if (handle == INVALID_HANDLE_VALUE) {
        return;
    }
    EscapeCommFunction(handle, CLRDTR);
    CloseHandle(handle);
    port.handle = reinterpret_cast<intptr_t>(INVALID_HANDLE_VALUE);
}

// The errors with which Windows reports a port whose device was removed (a USB adapter pulled
// out): further calls on the handle fail the same way.
bool IsDeviceHangUpError(int error) {
    DWORD code = static_cast<DWORD>(error);
    return code == ERROR_ACCESS_DENIED || code == ERROR_BAD_COMMAND || code == ERROR_GEN_FAILURE ||
           code == ERROR_DEVICE_NOT_CONNECTED || code == ERROR_DEVICE_REMOVED;
}

}  // namespace

const PortOps DEVICE_PORT_OPS{.purgeInput = PurgeDeviceInput,
                              .waitForByte = WaitForDeviceByte,
                              .discardInput = DiscardDeviceInput,
                              .sendByte = SendDeviceByte,
                              .writeBlock = WriteDeviceBlock,
                              .isOpen = DeviceIsOpen,
                              .close = ReleaseDeviceAtOnce,
                              .releaseAtOnce = ReleaseDeviceAtOnce,
                              .isHangUpError = IsDeviceHangUpError};

}  // namespace tarnix
