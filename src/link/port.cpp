// The port as a value: opening by the one port rule, and the operations every kind of port
// shares, on top of the backends' tables (port_backend.h). Silent: what happened comes back as
// results and notes, and the program prints them (port_texts.h).

#include "port.h"

#include <atomic>
#include <cerrno>

#include "network_port.h"
#include "port_choice.h"
#include "port_list.h"

namespace tarnix {

namespace {

// The only file-scope state of the link, and the reason for it: a signal handler cannot be
// handed the port it must release.
std::atomic<Port*> PortToRelease{nullptr};

PortNote StepNote(const PortResult& result) {
    return {PortNoteKind::StepFailed, result.failedCall, result.error};
}

void NoteHangUp(Port& port, int error) {
    if (port.ops->isHangUpError(error)) {
        port.hungUp = true;
    }
}

PortOpening OpenFailed(PortOpenFailure failure) {
    return {nullptr, std::move(failure)};
}

PortOpening DeviceFailed(int error, const OpenAttempt& attempt) {
    PortOpenFailure failure;
    failure.kind = OpenFailureKind::Device;
    failure.error = error;
    failure.attempt = attempt;
    return OpenFailed(std::move(failure));
}

// A step after the device or connection opened: what was opened is let go again.
PortOpening StepFailed(Port& port, const PortResult& step) {
    port.ops->releaseAtOnce(port);
    PortOpenFailure failure;
    failure.kind = OpenFailureKind::Step;
    failure.error = step.error;
    failure.call = step.failedCall;
    return OpenFailed(std::move(failure));
}

PortOpening NamedFailed(OpenFailureKind kind, std::string name, int error, std::string reason) {
    PortOpenFailure failure;
    failure.kind = kind;
    failure.error = error;
    failure.name = std::move(name);
    failure.reason = std::move(reason);
    return OpenFailed(std::move(failure));
}

// The steps after the device itself opened; a failure lets it go again.
PortResult PrepareDevice(Port& port) {
    PortResult step = ConfigurePortLine(port);
    if (Succeeded(step)) {
        step = LowerPortModemLines(port);
    }
    if (Succeeded(step)) {
        TunePortLatency(port);
        step = port.ops->purgeInput(port);
    }
    return step;
}

PortOpening OpenLockedDevice(std::unique_ptr<Port> port, const OpenAttempt& attempt) {
    PortResult opened = OpenPortDevice(*port, attempt.devicePath.c_str());
    if (!Succeeded(opened)) {
        ReleaseDeviceLock(&port->deviceLock);
        return DeviceFailed(opened.error, attempt);
    }
    PortResult prepared = PrepareDevice(*port);
    if (!Succeeded(prepared)) {
        return StepFailed(*port, prepared);
    }
    return {std::move(port), {}, {}};
}

// The lock files come before the device is opened, so that no other program that honours them
// is between our open and our lock; the device's release removes them again.
PortOpening OpenDevice(OpenAttempt attempt, std::string name, const LineSettings& line) {
    auto port = std::make_unique<Port>();
    port->line = line;
    port->name = std::move(name);
    port->ops = &DEVICE_PORT_OPS;
    DeviceLockResult locked = TakeDeviceLock(attempt.devicePath, SystemLockDirectory());
    PortOpening opening;
    if (locked.end == DeviceLockEnd::Busy) {
        attempt.holder = locked.holder;
        opening = DeviceFailed(EBUSY, attempt);
    } else {
        port->deviceLock = locked.lock;
        opening = OpenLockedDevice(std::move(port), attempt);
    }
    opening.notices = std::move(locked.notices);
    return opening;
}

PortOpening OpenDevicePath(const std::string& path, const LineSettings& line) {
    OpenAttempt attempt{path, 0};
    if (!ComDevicePathsSupported()) {
        return DeviceFailed(DevicePathRefusalError(), attempt);
    }
    return OpenDevice(attempt, path, line);
}

PortOpening OpenNetwork(const NetworkAddress& address, const LineSettings& line) {
    auto port = std::make_unique<Port>();
    port->line = line;
    port->name = NetworkAddressName(address);
    NetworkOpenFailure failure;
    if (!OpenNetworkConnection(*port, address, &failure)) {
        return NamedFailed(OpenFailureKind::Network, port->name, failure.error, failure.reason);
    }
    PortResult purged = port->ops->purgeInput(*port);
    if (!Succeeded(purged)) {
        return StepFailed(*port, purged);
    }
    return {std::move(port), {}};
}

// The port list names the adapter's device; that name is opened as if it had been given.
PortOpening OpenUsb(const PortChoice& choice, const LineSettings& line) {
    UsbPortResolution found =
        ResolveUsbPort(ListSerialPorts(), choice.usbSerial, choice.usbInterface);
    PortChoice device;
    if (found.failure.empty() && (!ParsePortChoice(found.device, PlatformPortForms(), &device) ||
                                  !device.usbSerial.empty())) {
        found.failure = found.device + " is no port name that can be opened";
    }
    if (!found.failure.empty()) {
        return NamedFailed(OpenFailureKind::Lookup, PortChoiceName(choice), 0, found.failure);
    }
    return OpenPort(device, line);
}

}  // namespace

PortOpening OpenPort(const PortChoice& choice, const LineSettings& line) {
    if (!choice.usbSerial.empty()) {
        return OpenUsb(choice, line);
    }
    if (choice.network.protocol != NetworkProtocol::None) {
        return OpenNetwork(choice.network, line);
    }
    if (!choice.devicePath.empty()) {
        return OpenDevicePath(choice.devicePath, line);
    }
    return OpenDevice({ComPortDevicePath(choice.comNr), choice.comNr},
                      "COM" + std::to_string(choice.comNr), line);
}

bool PortIsOpen(const Port& port) {
    return port.ops != nullptr && port.ops->isOpen(port);
}

PortNotes ClosePort(Port& port) {
    if (!PortIsOpen(port)) {
        return {{PortNoteKind::NotOpen}};
    }
    Port* self = &port;
    PortToRelease.compare_exchange_strong(self, nullptr);
    port.ops->close(port);
    return {};
}

PortNotes PurgeInput(Port& port) {
    if (!PortIsOpen(port)) {
        return {{PortNoteKind::NotOpen}};
    }
    PortResult purged = port.ops->purgeInput(port);
    if (Succeeded(purged)) {
        return {};
    }
    NoteHangUp(port, purged.error);
    return {StepNote(purged)};
}

unsigned long DiscardWaitingInput(Port& port) {
    if (!PortIsOpen(port)) {
        return 0;
    }
    PortDiscard discard = port.ops->discardInput(port);
    if (discard.hungUp) {
        port.hungUp = true;
    }
    return discard.count > 0 ? static_cast<unsigned long>(discard.count) : 0;
}

Received ReceiveByte(Port& port, PortNotes* notes) {
    if (!PortIsOpen(port)) {
        notes->push_back({PortNoteKind::NotOpen});
        return {ReceiveResult::NotOpen, 0};
    }
    PortWait wait = port.ops->waitForByte(port);
    switch (wait.end) {
        case PortWaitEnd::Byte:
            return {ReceiveResult::Byte, wait.value};
        case PortWaitEnd::Interrupted:
            return {ReceiveResult::Interrupted, 0};
        case PortWaitEnd::TimedOut:
            notes->push_back({PortNoteKind::TimedOut});
            return {ReceiveResult::TimedOut, 0};
        case PortWaitEnd::Failed:
        case PortWaitEnd::HungUp:
            break;
    }
    NoteHangUp(port, wait.error);
    port.sendFailureNoted = false;
    notes->push_back({PortNoteKind::ReadFailed, nullptr, wait.error});
    return {port.hungUp ? ReceiveResult::HungUp : ReceiveResult::Failed, 0};
}

namespace {

void SendHeadByte(Port& port, uint8_t value, PortNotes* notes) {
    if (!PortIsOpen(port)) {
        notes->push_back({PortNoteKind::NotOpen});
        return;
    }
    PortResult sent = port.ops->sendByte(port, value);
    if (Succeeded(sent)) {
        port.sendFailureNoted = false;
        return;
    }
    NoteHangUp(port, sent.error);
    if (port.hungUp && port.sendFailureNoted) {
        return;
    }
    notes->push_back(StepNote(sent));
    port.sendFailureNoted = port.hungUp;
}

}  // namespace

PortResult WriteBlock(Port& port, const uint8_t* data, uint32_t length, uint32_t* written) {
    *written = 0;
    if (port.ops == nullptr) {
        return PortFailure("WriteFile", 0);
    }
    PortResult result = port.ops->writeBlock(port, data, length, written);
    if (!Succeeded(result)) {
        NoteHangUp(port, result.error);
    }
    return result;
}

uint32_t SendFrame(Port& port, const Frame& frame, PortNotes* notes) {
    for (uint8_t value : frame.head) {
        SendHeadByte(port, value, notes);
    }
    uint32_t written = 0;
    if (!frame.block.empty()) {
        // A block that failed shows as the missing or wrong reply that follows.
        (void)WriteBlock(port, frame.block.data(), static_cast<uint32_t>(frame.block.size()),
                         &written);
    }
    return written;
}

void ReleaseOnSecondInterrupt(Port* port) {
    PortToRelease.store(port);
}

// Async-signal-safe as long as the backend's release is: it touches nothing else.
void ReleasePortOnInterrupt() {
    Port* port = PortToRelease.load();
    if (port != nullptr && port->ops != nullptr) {
        port->ops->releaseAtOnce(*port);
    }
}

}  // namespace tarnix
