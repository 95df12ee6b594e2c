// The serial port on Windows: the communications functions of the Win32 API on a synchronous
// (non-overlapped) handle. The driver does the line work: time-outs through COMMTIMEOUTS,
// single bytes ahead of the output queue through TransmitCommChar.

#include <windows.h>

#include <cstdio>

#include "com_port.h"
#include "interrupts.h"
#include "interrupts_win32.h"
#include "open_failure.h"

namespace {

constexpr DWORD INPUT_QUEUE_SIZE = 32;
constexpr DWORD OUTPUT_QUEUE_SIZE = 1024;
constexpr DWORD FIRST_BYTE_TIMEOUT_MS = 5000;

HANDLE ComHandle = INVALID_HANDLE_VALUE;
DWORD LastError = 0;
bool SawHangUp = false;

// The errors with which Windows reports a port whose device was removed (a USB adapter pulled
// out): further calls on the handle fail the same way.
bool IsHangUpError(DWORD error) {
    return error == ERROR_ACCESS_DENIED || error == ERROR_BAD_COMMAND ||
           error == ERROR_GEN_FAILURE || error == ERROR_DEVICE_NOT_CONNECTED ||
           error == ERROR_DEVICE_REMOVED;
}

bool ReportIfNotOpen() {
    if (ComHandle != INVALID_HANDLE_VALUE) {
        return false;
    }
    printf("COM port not opened !\n");
    return true;
}

// Records GetLastError() for LastComError() and prints "<what> failed with error <n>.".
void ReportFailure(const char* what) {
    LastError = GetLastError();
    SawHangUp = SawHangUp || IsHangUpError(LastError);
    printf("%s failed with error %d.\n", what, static_cast<int>(LastError));
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

bool ConfigureLine(long baud) {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(ComHandle, &dcb)) {
        ReportFailure("GetCommState");
        return false;
    }
    ApplyLineSettings(&dcb, baud);
    if (!SetCommState(ComHandle, &dcb)) {
        ReportFailure("SetCommState");
        return false;
    }
    return true;
}

bool ConfigureQueues() {
    if (!SetupComm(ComHandle, INPUT_QUEUE_SIZE, OUTPUT_QUEUE_SIZE)) {
        ReportFailure("SetupComm");
        return false;
    }
    return true;
}

// A one-byte read returns at once when a byte is waiting, otherwise with the first byte
// that arrives, and gives up with zero bytes after five seconds. Writes never time out.
bool ConfigureTimeouts() {
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = MAXDWORD;
    timeouts.ReadTotalTimeoutConstant = FIRST_BYTE_TIMEOUT_MS;
    timeouts.WriteTotalTimeoutMultiplier = 0;
    timeouts.WriteTotalTimeoutConstant = 0;
    if (!SetCommTimeouts(ComHandle, &timeouts)) {
        ReportFailure("SetCommTimeouts");
        return false;
    }
    return true;
}

bool LowerDtr() {
    if (!EscapeCommFunction(ComHandle, CLRDTR)) {
        ReportFailure("EscapeCommFunction");
        return false;
    }
    return true;
}

bool PurgeInput() {
    if (!PurgeComm(ComHandle, PURGE_RXCLEAR)) {
        ReportFailure("PurgeComm");
        return false;
    }
    return true;
}

// Exclusive (share mode 0) and synchronous. Reports through the error box on failure. The
// device namespace prefix reaches every COM port: a plain "COM10" fails in CreateFileA, and USB
// adapters usually get numbers above 9.
bool OpenExclusive(int comNr) {
    char deviceName[24];
    snprintf(deviceName, sizeof deviceName, "\\\\.\\COM%i", comNr);
    ComHandle = CreateFileA(deviceName, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                            nullptr);
    if (ComHandle == INVALID_HANDLE_VALUE) {
        LastError = GetLastError();
        ShowLastErrorBox("COM open failed");
        return false;
    }
    return true;
}

}  // namespace

int OpenComPort(int comNr, long baud) {
    if (ComHandle != INVALID_HANDLE_VALUE) {
        CloseComPort();
    }
    if (!OpenExclusive(comNr)) {
        return -1;
    }
    long effectiveBaud = EffectiveBaudRate(baud);
    if (!ConfigureLine(effectiveBaud) || !ConfigureQueues() || !ConfigureTimeouts() ||
        !LowerDtr() || !PurgeInput()) {
        return -1;
    }
    SawHangUp = false;
    printf("Opened COM%i with %li Baud succesfully !\n", comNr, effectiveBaud);
    return 0;
}

// Windows reaches its serial ports by number only.
int OpenComDevice(const char* devicePath, long baud) {
    (void)devicePath;
    (void)baud;
    SetLastError(ERROR_INVALID_NAME);
    LastError = ERROR_INVALID_NAME;
    ShowLastErrorBox("COM open failed");
    return -1;
}

bool ComDevicePathsSupported() {
    return false;
}

bool IsComPortOpen() {
    return ComHandle != INVALID_HANDLE_VALUE;
}

void CloseComPort() {
    if (ReportIfNotOpen()) {
        return;
    }
    ReleaseComPortAtOnce();
}

int PurgeComInput() {
    if (ReportIfNotOpen()) {
        return -1;
    }
    return PurgeInput() ? 0 : -1;
}

void SendByte(uint8_t value) {
    if (ReportIfNotOpen()) {
        return;
    }
    if (!TransmitCommChar(ComHandle, static_cast<char>(value))) {
        ReportFailure("TransmitCommChar");
    }
}

namespace {

// The read itself, ended early by the console handler when an interrupt comes.
bool ReadOneByte(uint8_t* value, DWORD* count) {
    BeginInterruptibleRead();
    BOOL succeeded = ReadFile(ComHandle, value, 1, count, nullptr);
    DWORD error = GetLastError();
    EndInterruptibleRead();
    SetLastError(error);
    return succeeded != FALSE;
}

}  // namespace

ReceiveResult ReceiveByteChecked(uint8_t* value) {
    *value = 0;
    if (ReportIfNotOpen()) {
        return ReceiveResult::NotOpen;
    }
    if (TakeInterruptForWait()) {
        return ReceiveResult::Interrupted;
    }
    DWORD count = 0;
    if (!ReadOneByte(value, &count)) {
        if (GetLastError() == ERROR_OPERATION_ABORTED && TakeInterruptForWait()) {
            return ReceiveResult::Interrupted;
        }
        ReportFailure("Read on COM-port");
        return SawHangUp ? ReceiveResult::HungUp : ReceiveResult::Failed;
    }
    if (count == 0) {
        if (TakeInterruptForWait()) {
            return ReceiveResult::Interrupted;
        }
        printf("TIMEOUT !!!\n");
        return ReceiveResult::TimedOut;
    }
    return ReceiveResult::Byte;
}

long DiscardPendingInput() {
    if (ComHandle == INVALID_HANDLE_VALUE) {
        return -1;
    }
    // ClearCommError is the one call that tells how much is waiting; it also clears a line
    // error that fAbortOnError has latched, so a run goes on after one rather than failing
    // every later read. A driver that cannot tell (some emulations) still gets its purge.
    DWORD errors = 0;
    COMSTAT status{};
    DWORD waiting = ClearCommError(ComHandle, &errors, &status) ? status.cbInQue : 0;
    if (!PurgeComm(ComHandle, PURGE_RXCLEAR)) {
        return -1;
    }
    return static_cast<long>(waiting);
}

bool ComPortHungUp() {
    return SawHangUp;
}

void ReleaseComPortAtOnce() {
    HANDLE handle = ComHandle;
    if (handle == INVALID_HANDLE_VALUE) {
        return;
    }
    EscapeCommFunction(handle, CLRDTR);
    CloseHandle(handle);
    ComHandle = INVALID_HANDLE_VALUE;
}

// With no write time-out a synchronous WriteFile returns only when the whole block is out.
bool WriteComBlock(const void* data, uint32_t length, uint32_t* written) {
    *written = 0;
    if (ComHandle == INVALID_HANDLE_VALUE) {
        LastError = ERROR_INVALID_HANDLE;
        return false;
    }
    DWORD count = 0;
    BOOL succeeded = WriteFile(ComHandle, data, length, &count, nullptr);
    *written = count;
    if (!succeeded) {
        LastError = GetLastError();
        SawHangUp = SawHangUp || IsHangUpError(LastError);
        return false;
    }
    return true;
}

int LastComError() {
    return static_cast<int>(LastError);
}

// Windows names its ports by number only: the attempt adds nothing to the system's text.
void ShowLastErrorBox(const char* caption) {
    ShowOpenFailure(caption, static_cast<int>(LastError), OpenAttempt{});
}

void WaitMilliseconds(unsigned milliseconds) {
    Sleep(milliseconds);
}
