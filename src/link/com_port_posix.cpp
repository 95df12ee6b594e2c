// The platform half of the port on POSIX systems (port_backend.h): termios for the line
// settings, poll() for the read time-out, modem-control ioctls for DTR and RTS. What only Linux
// has is in com_port_linux.cpp; the loops around interrupted system calls are in posix_io.cpp.
// The error numbers are errno values; the failed calls carry the Win32 names that the console
// texts use on every platform.

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "com_port_posix.h"
#include "interrupts.h"
#include "interrupts_posix.h"
#include "port.h"
#include "port_backend.h"
#include "posix_io.h"

namespace tarnix {

namespace {

constexpr int INVALID_HANDLE = -1;

int Fd(const Port& port) {
    return static_cast<int>(port.handle);
}

// The failure of `call`, with the errno that it left.
PortResult FailureOf(const char* call) {
    return PortFailure(call, errno);
}

speed_t SpeedConstant(long baud) {
    switch (baud) {
        case 57600:
            return B57600;
        case 115200:
            return B115200;
        default:
            return B9600;
    }
}

void ApplyLineSettings(termios* tio, speed_t speed, int stopBits) {
    cfmakeraw(tio);
    tio->c_cflag &= ~(CSIZE | PARENB | PARODD | CRTSCTS);
    // CLOCAL: carrier and the other modem status lines are ignored.
    tio->c_cflag |= CS8 | CREAD | CLOCAL;
    if (stopBits == 2) {
        tio->c_cflag |= CSTOPB;
    } else {
        tio->c_cflag &= ~CSTOPB;
    }
    tio->c_iflag &= ~(IXON | IXOFF | IXANY | INPCK | IGNPAR | PARMRK);
    // Blocking reads of at least one byte; the time-out comes from poll().
    tio->c_cc[VMIN] = 1;
    tio->c_cc[VTIME] = 0;
    cfsetispeed(tio, speed);
    cfsetospeed(tio, speed);
}

// A driver may accept a tcsetattr() only in part; compare what matters for the line.
bool LineSettingsTook(const termios& wanted, const termios& actual) {
    const tcflag_t cflagMask = CSIZE | CSTOPB | PARENB | CRTSCTS | CREAD | CLOCAL;
    const tcflag_t iflagMask = IXON | IXOFF | INPCK | ICRNL | ISTRIP;
    const tcflag_t lflagMask = ICANON | ECHO | ISIG;
    return (wanted.c_cflag & cflagMask) == (actual.c_cflag & cflagMask) &&
           (wanted.c_iflag & iflagMask) == (actual.c_iflag & iflagMask) &&
           (wanted.c_lflag & lflagMask) == (actual.c_lflag & lflagMask) &&
           (wanted.c_oflag & OPOST) == (actual.c_oflag & OPOST) &&
           cfgetospeed(&wanted) == cfgetospeed(&actual) &&
           cfgetispeed(&wanted) == cfgetispeed(&actual);
}

PortResult SetLineSettings(const Port& port) {
    const int fd = Fd(port);
    termios tio{};
    if (tcgetattr(fd, &tio) != 0) {
        return FailureOf("GetCommState");
    }
    ApplyLineSettings(&tio, SpeedConstant(port.line.baud), port.line.stopBits);
    termios actual{};
    if (tcsetattr(fd, TCSANOW, &tio) != 0 || tcgetattr(fd, &actual) != 0) {
        return FailureOf("SetCommState");
    }
    if (!LineSettingsTook(tio, actual)) {
        return PortFailure("SetCommState", EINVAL);
    }
    return PortSuccess();
}

// The device was opened non-blocking so that a missing carrier cannot stall open();
// from here on every call blocks, and poll() bounds the reads.
PortResult MakeBlocking(const Port& port) {
    const int fd = Fd(port);
    int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        return FailureOf("SetCommTimeouts");
    }
    return PortSuccess();
}

// Devices without modem-control lines (pseudo-terminals, some adapters) refuse these ioctls.
bool IsMissingModemLines(int error) {
    return error == ENOTTY || error == EINVAL || error == ENOTSUP;
}

// Why an opened descriptor cannot be our port: not a terminal, or held by another program. 0
// when it can.
int RefusalOf(int fd) {
    if (!isatty(fd)) {
        return ENOTTY;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        return (errno == EWOULDBLOCK) ? EBUSY : errno;
    }
    return 0;
}

// Waits until a byte can be read (end Byte, with no byte yet) or the wait ends otherwise. A
// hang-up (the device gone) ends it at once, and so does an interrupt. A signal that is no
// interrupt (SIGCONT after a stop, ...) resumes the wait with the time that is left.
PortWait WaitUntilReadable(const Port& port) {
    const Deadline deadline = DeadlineAfter(port.line.replyTimeoutMs);
    for (;;) {
        if (TakeInterruptForWait()) {
            return {PortWaitEnd::Interrupted, 0, 0};
        }
        // The wake-up descriptor is ignored by poll() when it is -1.
        pollfd fds[2] = {{Fd(port), POLLIN, 0}, {InterruptWakeDescriptor(), POLLIN, 0}};
        PollOutcome polled = PollRetrying(fds, 2, deadline, TakeInterruptForWait);
        switch (polled.end) {
            case PollEnd::Interrupted:
                return {PortWaitEnd::Interrupted, 0, 0};
            case PollEnd::TimedOut:
                return {PortWaitEnd::TimedOut, 0, 0};
            case PollEnd::Failed:
                return {PortWaitEnd::Failed, 0, polled.error};
            case PollEnd::Ready:
                break;
        }
        if (fds[0].revents & POLLIN) {
            return {PortWaitEnd::Byte, 0, 0};
        }
        if (fds[0].revents & POLLNVAL) {
            return {PortWaitEnd::Failed, 0, EBADF};
        }
        if (fds[0].revents != 0) {
            return {PortWaitEnd::HungUp, 0, EIO};
        }
        // Only the wake-up is readable: its interrupt is taken at the top of the loop.
    }
}

// A read that found nothing of what poll() announced: the wait begins again.
bool ReadFoundNothing(const ReadOutcome& outcome) {
    return outcome.end == ReadEnd::Interrupted ||
           (outcome.end == ReadEnd::Failed && outcome.error == EAGAIN);
}

// End of file on a terminal: the other side hung up.
int ReadError(const ReadOutcome& outcome) {
    return outcome.end == ReadEnd::EndOfFile ? EIO : outcome.error;
}

}  // namespace

bool ComDevicePathsSupported() {
    return true;
}

std::string ComPortDevicePath(int comNr) {
    return "/dev/ttyS" + std::to_string(comNr - 1);
}

// Not asked: every path is accepted here.
int DevicePathRefusalError() {
    return EINVAL;
}

PortResult OpenPortDevice(Port& port, const char* devicePath) {
    int fd = open(devicePath, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return FailureOf("CreateFile");
    }
    int refusal = RefusalOf(fd);
    if (refusal != 0) {
        close(fd);
        return PortFailure("CreateFile", refusal);
    }
    // Other processes (root aside) can no longer open the device while we hold it. The result
    // is not checked on purpose: the flock above already refuses other programs of ours, and
    // devices that lack the flag (some bridges) still work without it.
    ioctl(fd, TIOCEXCL);
    port.handle = fd;
    port.ops = &DEVICE_PORT_OPS;
    return PortSuccess();
}

PortResult ConfigurePortLine(Port& port) {
    PortResult result = SetLineSettings(port);
    return Succeeded(result) ? MakeBlocking(port) : result;
}

PortResult LowerPortModemLines(Port& port) {
    int lines = TIOCM_DTR | TIOCM_RTS;
    if (ioctl(Fd(port), TIOCMBIC, &lines) == 0 || IsMissingModemLines(errno)) {
        return PortSuccess();
    }
    return FailureOf("EscapeCommFunction");
}

void TunePortLatency(Port& port) {
    RequestLowLatency(Fd(port));
}

void WaitMilliseconds(unsigned milliseconds) {
    // A pause that a failure cut short cannot be made up; the next exchange goes on as usual.
    (void)SleepMilliseconds(milliseconds);
}

namespace {

PortResult PurgeDeviceInput(Port& port) {
    if (tcflush(Fd(port), TCIFLUSH) != 0) {
        return FailureOf("PurgeComm");
    }
    return PortSuccess();
}

PortWait WaitForDeviceByte(Port& port) {
    for (;;) {
        PortWait wait = WaitUntilReadable(port);
        if (wait.end != PortWaitEnd::Byte) {
            return wait;
        }
        uint8_t value = 0;
        ReadOutcome received = ReadSome(Fd(port), &value, 1);
        if (received.end == ReadEnd::Data) {
            return {PortWaitEnd::Byte, value, 0};
        }
        if (!ReadFoundNothing(received)) {
            PortWaitEnd end =
                received.end == ReadEnd::EndOfFile ? PortWaitEnd::HungUp : PortWaitEnd::Failed;
            return {end, 0, ReadError(received)};
        }
    }
}

bool IsDeviceHangUpError(int error) {
    return error == EIO || error == ENXIO || error == ENODEV;
}

// Reads without waiting until nothing is left; a descriptor in blocking mode returns at once
// with what poll() announced.
PortDiscard DiscardDeviceInput(Port& port) {
    long discarded = 0;
    for (;;) {
        pollfd pfd{Fd(port), POLLIN, 0};
        PollOutcome polled = PollRetrying(&pfd, 1, DeadlineAfter(0), nullptr);
        if (polled.end == PollEnd::Failed) {
            return {-1, false};
        }
        if (polled.end != PollEnd::Ready) {
            return {discarded, false};
        }
        if (!(pfd.revents & POLLIN)) {
            return {discarded, !(pfd.revents & POLLNVAL)};
        }
        uint8_t buffer[256];
        ReadOutcome received = ReadSome(Fd(port), buffer, sizeof buffer);
        if (received.end == ReadEnd::Data) {
            discarded += static_cast<long>(received.count);
        } else if (received.end != ReadEnd::Interrupted) {
            return {discarded, IsDeviceHangUpError(ReadError(received))};
        }
    }
}

PortResult SendDeviceByte(Port& port, uint8_t value) {
    size_t written = 0;
    int error = WriteAll(Fd(port), &value, 1, &written);
    return error == 0 ? PortSuccess() : PortFailure("TransmitCommChar", error);
}

PortResult WriteDeviceBlock(Port& port, const void* data, uint32_t length, uint32_t* written) {
    *written = 0;
    if (Fd(port) == INVALID_HANDLE) {
        return PortFailure("WriteFile", EBADF);
    }
    size_t count = 0;
    int error = WriteAll(Fd(port), data, length, &count);
    *written = static_cast<uint32_t>(count);
    return error == 0 ? PortSuccess() : PortFailure("WriteFile", error);
}

bool DeviceIsOpen(const Port& port) {
    return Fd(port) != INVALID_HANDLE;
}

// Only async-signal-safe calls: the second interrupt's handler closes the port with it. The
// lock files go last, once the device is closed, so that no program that honours them opens it
// while we still hold it.
void ReleaseDeviceAtOnce(Port& port) {
    int fd = Fd(port);
    if (fd != INVALID_HANDLE) {
        int dtr = TIOCM_DTR;
        ioctl(fd, TIOCMBIC, &dtr);
        // The exclusive-use flag belongs to the terminal, not to our descriptor: left set, it
        // would refuse every later open by another user while the other side keeps the terminal
        // open.
        ioctl(fd, TIOCNXCL);
        close(fd);
        port.handle = INVALID_HANDLE;
    }
    ReleaseDeviceLock(&port.deviceLock);
}

}  // namespace

// A device is closed at the end of a run as at once: its driver sends what is still queued.
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
