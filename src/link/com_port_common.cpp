// The functions of com_port.h on top of the platform half of the port (port_backend.h). Every
// console text of the port is printed here, once, so that each platform prints the same: the
// texts are the program's interface, and scripts read them. They name the Win32 calls
// ("TransmitCommChar failed with error %d.", "PurgeComm ...") on every platform; the numbers
// are the system's (errno on POSIX, GetLastError() on Windows).

#include <cstdio>
#include <string>

#include "com_port.h"
#include "network_port.h"
#include "open_failure.h"
#include "port_backend.h"

namespace {

// A device is closed at the end of a run as at once: its driver sends what is still queued.
const PortKind DEVICE_PORT{.purgeInput = PurgePortInput,
                           .waitForByte = WaitForPortByte,
                           .discardInput = DiscardPortInput,
                           .sendByte = SendPortByte,
                           .writeBlock = WritePortBlock,
                           .isOpen = PortIsOpen,
                           .close = ReleasePortAtOnce,
                           .releaseAtOnce = ReleasePortAtOnce,
                           .isHangUpError = IsPortHangUpError};
const PortKind NETWORK_PORT{.purgeInput = PurgeNetworkInput,
                            .waitForByte = WaitForNetworkByte,
                            .discardInput = DiscardNetworkInput,
                            .sendByte = SendNetworkByte,
                            .writeBlock = WriteNetworkBlock,
                            .isOpen = NetworkPortIsOpen,
                            .close = CloseNetworkPort,
                            .releaseAtOnce = ReleaseNetworkPortAtOnce,
                            .isHangUpError = IsNetworkHangUpError};
// The kind of the port that is open, or was open last.
const PortKind* Active = &DEVICE_PORT;

int LastError = 0;
bool SawHangUp = false;
// Once the device has gone, every byte sent fails alike: a run of identical lines would tell
// nothing more, so after a hang-up a failed send is said once until something else is said.
bool HungUpSendSaid = false;
// The port that the last open attempt named, for the message of a failed open.
OpenAttempt LastOpenAttempt;

// Keeps the error for LastComError(); a hang-up stays noted until the next open.
void RecordFailure(int error) {
    LastError = error;
    if (Active->isHangUpError(error)) {
        SawHangUp = true;
    }
}

bool ReportIfNotOpen() {
    if (Active->isOpen()) {
        return false;
    }
    printf("COM port not opened !\n");
    return true;
}

// Prints "<call> failed with error <n>." for a failed step; true when the step failed.
bool ReportIfFailed(const PortResult& result) {
    if (Succeeded(result)) {
        return false;
    }
    RecordFailure(result.error);
    printf("%s failed with error %d.\n", result.failedCall, result.error);
    return true;
}

// A port that could not be opened goes to the error box, not to standard output.
int ReportOpenFailure(int error) {
    LastError = error;
    ShowLastErrorBox("COM open failed");
    return -1;
}

ReceiveResult ReportReadFailure(int error) {
    RecordFailure(error);
    HungUpSendSaid = false;
    printf("Read on COM-port failed with error %d.\n", error);
    return SawHangUp ? ReceiveResult::HungUp : ReceiveResult::Failed;
}

// A failure after the device was opened leaves it open, as com_port.h says.
int OpenNamedPort(const char* devicePath, const std::string& displayName, long baud) {
    if (Active->isOpen()) {
        CloseComPort();
    }
    PortResult opened = OpenPortDevice(devicePath);
    if (!Succeeded(opened)) {
        return ReportOpenFailure(opened.error);
    }
    Active = &DEVICE_PORT;
    long effectiveBaud = EffectiveBaudRate(baud);
    if (ReportIfFailed(ConfigurePortLine(effectiveBaud)) || ReportIfFailed(LowerPortModemLines())) {
        return -1;
    }
    SawHangUp = false;
    HungUpSendSaid = false;
    TunePortLatency();
    if (ReportIfFailed(Active->purgeInput())) {
        return -1;
    }
    printf("Opened %s with %li Baud succesfully !\n", displayName.c_str(), effectiveBaud);
    return 0;
}

// The next step after a network port could not be opened.
const char* NetworkOpenHint(const NetworkOpenFailure& failure) {
    if (failure.error == 0) {
        return "";  // the server answered: the reason says what was wrong
    }
    if (failure.reason.rfind("look up ", 0) == 0) {
        return " (is the host name right?)";
    }
    return " (is the server running, and is this its port? a firewall in between?)";
}

// On standard error on every platform: the URL, the reason, and the next step.
int ReportNetworkOpenFailure(const NetworkAddress& address, const NetworkOpenFailure& failure) {
    LastError = failure.error;
    fflush(stdout);
    fprintf(stderr, "COM open failed: %s: %s%s\n", NetworkAddressName(address).c_str(),
            failure.reason.c_str(), NetworkOpenHint(failure));
    return -1;
}

}  // namespace

int OpenNetworkPort(const NetworkAddress& address, long baud) {
    if (Active->isOpen()) {
        CloseComPort();
    }
    LastOpenAttempt = {NetworkAddressName(address), 0};
    long effectiveBaud = EffectiveBaudRate(baud);
    NetworkOpenFailure failure;
    if (!OpenNetworkConnection(address, effectiveBaud, &failure)) {
        return ReportNetworkOpenFailure(address, failure);
    }
    Active = &NETWORK_PORT;
    SawHangUp = false;
    HungUpSendSaid = false;
    if (ReportIfFailed(Active->purgeInput())) {
        return -1;
    }
    printf("Opened %s with %li Baud succesfully !\n", NetworkAddressName(address).c_str(),
           effectiveBaud);
    return 0;
}

long EffectiveBaudRate(long requested) {
    if (requested == 57600 || requested == 115200) {
        return requested;
    }
    return 9600;
}

int OpenComPort(int comNr, long baud) {
    std::string devicePath = ComPortDevicePath(comNr);
    LastOpenAttempt = {devicePath, comNr};
    return OpenNamedPort(devicePath.c_str(), "COM" + std::to_string(comNr), baud);
}

// A refused path leaves a port that is already open as it is.
int OpenComDevice(const char* devicePath, long baud) {
    LastOpenAttempt = {devicePath, 0};
    if (!ComDevicePathsSupported()) {
        return ReportOpenFailure(DevicePathRefusalError());
    }
    return OpenNamedPort(devicePath, devicePath, baud);
}

bool IsComPortOpen() {
    return Active->isOpen();
}

void CloseComPort() {
    if (ReportIfNotOpen()) {
        return;
    }
    Active->close();
}

// Async-signal-safe as long as the backend's release is: it touches nothing else.
void ReleaseComPortAtOnce() {
    Active->releaseAtOnce();
}

bool ComPortHungUp() {
    return SawHangUp;
}

int PurgeComInput() {
    if (ReportIfNotOpen()) {
        return -1;
    }
    return ReportIfFailed(Active->purgeInput()) ? -1 : 0;
}

void SendByte(uint8_t value) {
    if (ReportIfNotOpen()) {
        return;
    }
    PortResult result = Active->sendByte(value);
    if (!Succeeded(result) && SawHangUp && HungUpSendSaid) {
        RecordFailure(result.error);
        return;
    }
    HungUpSendSaid = ReportIfFailed(result) && SawHangUp;
}

ReceiveResult ReceiveByteChecked(uint8_t* value) {
    *value = 0;
    if (ReportIfNotOpen()) {
        return ReceiveResult::NotOpen;
    }
    PortWait wait = Active->waitForByte();
    switch (wait.end) {
        case PortWaitEnd::Byte:
            *value = wait.value;
            return ReceiveResult::Byte;
        case PortWaitEnd::Interrupted:
            return ReceiveResult::Interrupted;
        case PortWaitEnd::TimedOut:
            printf("TIMEOUT !!!\n");
            return ReceiveResult::TimedOut;
        case PortWaitEnd::Failed:
        case PortWaitEnd::HungUp:
            break;
    }
    return ReportReadFailure(wait.error);
}

uint8_t ReceiveByte() {
    uint8_t value = 0;
    ReceiveByteChecked(&value);
    return value;
}

long DiscardPendingInput() {
    if (!Active->isOpen()) {
        return -1;
    }
    PortDiscard discard = Active->discardInput();
    if (discard.hungUp) {
        SawHangUp = true;
    }
    return discard.count;
}

bool WriteComBlock(const void* data, uint32_t length, uint32_t* written) {
    PortResult result = Active->writeBlock(data, length, written);
    if (!Succeeded(result)) {
        RecordFailure(result.error);
        return false;
    }
    return true;
}

int LastComError() {
    return LastError;
}

void ShowLastErrorBox(const char* caption) {
    ShowOpenFailure(caption, LastError, LastOpenAttempt);
}
