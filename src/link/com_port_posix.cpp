// The serial port on POSIX systems: termios for the line settings, poll() for the read
// time-out, modem-control ioctls for DTR and RTS. What only Linux has is in com_port_linux.cpp.
//
// The messages name the Win32 calls ("TransmitCommChar failed with error %d.", "PurgeComm
// ...") although none is made here: the console texts are the program's interface, the same on
// every platform, and scripts read them. The numbers are errno values.

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "com_port.h"
#include "com_port_posix.h"
#include "interrupts.h"
#include "interrupts_posix.h"
#include "open_failure.h"
#include "posix_io.h"

namespace {

constexpr int INVALID_HANDLE = -1;
constexpr int READ_TIMEOUT_MS = 5000;

int ComHandle = INVALID_HANDLE;
int LastError = 0;
bool SawHangUp = false;

// The errors with which a terminal reports that its device or its other side has gone.
bool IsHangUpError(int error) {
    return error == EIO || error == ENXIO || error == ENODEV;
}

void NoteIfHangUp(int error) {
    if (IsHangUpError(error)) {
        SawHangUp = true;
    }
}

// The port that the last open attempt named, for the message of a failed open.
OpenAttempt LastOpenAttempt;

bool ReportIfNotOpen() {
    if (ComHandle != INVALID_HANDLE) {
        return false;
    }
    printf("COM port not opened !\n");
    return true;
}

// Records errno for LastComError() and prints "<what> failed with error <n>.".
void ReportFailure(const char* what) {
    LastError = errno;
    NoteIfHangUp(LastError);
    printf("%s failed with error %d.\n", what, LastError);
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

void ApplyLineSettings(termios* tio, speed_t speed) {
    cfmakeraw(tio);
    tio->c_cflag &= ~(CSIZE | PARENB | PARODD | CRTSCTS);
    // CLOCAL: carrier and the other modem status lines are ignored.
    tio->c_cflag |= CS8 | CSTOPB | CREAD | CLOCAL;
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

bool ConfigureLine(long baud) {
    termios tio{};
    if (tcgetattr(ComHandle, &tio) != 0) {
        ReportFailure("GetCommState");
        return false;
    }
    ApplyLineSettings(&tio, SpeedConstant(baud));
    termios actual{};
    if (tcsetattr(ComHandle, TCSANOW, &tio) != 0 || tcgetattr(ComHandle, &actual) != 0) {
        ReportFailure("SetCommState");
        return false;
    }
    if (!LineSettingsTook(tio, actual)) {
        errno = EINVAL;
        ReportFailure("SetCommState");
        return false;
    }
    return true;
}

// Devices without modem-control lines (pseudo-terminals, some adapters) refuse these ioctls.
bool IsMissingModemLines(int error) {
    return error == ENOTTY || error == EINVAL || error == ENOTSUP;
}

bool LowerModemLines(int lines) {
    if (ioctl(ComHandle, TIOCMBIC, &lines) == 0 || IsMissingModemLines(errno)) {
        return true;
    }
    ReportFailure("EscapeCommFunction");
    return false;
}

// The device was opened non-blocking so that a missing carrier cannot stall open();
// from here on every call blocks, and poll() bounds the reads.
bool MakeBlocking() {
    int flags = fcntl(ComHandle, F_GETFL);
    if (flags < 0 || fcntl(ComHandle, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        ReportFailure("SetCommTimeouts");
        return false;
    }
    return true;
}

// Opens the device exclusively. Reports through the error box and returns false on failure.
bool OpenExclusive(const char* devicePath) {
    int fd = open(devicePath, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        LastError = errno;
        ShowLastErrorBox("COM open failed");
        return false;
    }
    int refusal = 0;
    if (!isatty(fd)) {
        refusal = ENOTTY;
    } else if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        refusal = (errno == EWOULDBLOCK) ? EBUSY : errno;
    }
    if (refusal != 0) {
        close(fd);
        LastError = refusal;
        ShowLastErrorBox("COM open failed");
        return false;
    }
    // Other processes (root aside) can no longer open the device while we hold it. The result
    // is not checked on purpose: the flock above already refuses other programs of ours, and
    // devices that lack the flag (some bridges) still work without it.
    ioctl(fd, TIOCEXCL);
    ComHandle = fd;
    return true;
}

int OpenNamedPort(const char* devicePath, const char* displayName, long baud) {
    if (ComHandle != INVALID_HANDLE) {
        CloseComPort();
    }
    if (!OpenExclusive(devicePath)) {
        return -1;
    }
    long effectiveBaud = EffectiveBaudRate(baud);
    if (!ConfigureLine(effectiveBaud) || !MakeBlocking() ||
        !LowerModemLines(TIOCM_DTR | TIOCM_RTS)) {
        return -1;
    }
    SawHangUp = false;
    RequestLowLatency(ComHandle);
    if (tcflush(ComHandle, TCIFLUSH) != 0) {
        ReportFailure("PurgeComm");
        return -1;
    }
    printf("Opened %s with %li Baud succesfully !\n", displayName, effectiveBaud);
    return 0;
}

enum class WaitResult { Readable, TimedOut, Failed, Interrupted, HungUp };

// Waits until a byte can be read. A hang-up (the device gone) fails at once; an interrupt ends
// the wait at once. A signal that is no interrupt (SIGCONT after a stop, ...) resumes the wait
// with the time that is left.
WaitResult WaitForInput() {
    const Deadline deadline = DeadlineAfter(READ_TIMEOUT_MS);
    for (;;) {
        if (TakeInterruptForWait()) {
            return WaitResult::Interrupted;
        }
        // The wake-up descriptor is ignored by poll() when it is -1.
        pollfd fds[2] = {{ComHandle, POLLIN, 0}, {InterruptWakeDescriptor(), POLLIN, 0}};
        PollOutcome polled = PollRetrying(fds, 2, deadline, TakeInterruptForWait);
        if (polled.end == PollEnd::Interrupted) {
            return WaitResult::Interrupted;
        }
        if (polled.end == PollEnd::Failed) {
            errno = polled.error;
            return WaitResult::Failed;
        }
        if (polled.end == PollEnd::TimedOut) {
            return WaitResult::TimedOut;
        }
        if (fds[0].revents & POLLIN) {
            return WaitResult::Readable;
        }
        if (fds[0].revents != 0) {
            errno = (fds[0].revents & POLLNVAL) ? EBADF : EIO;
            return (fds[0].revents & POLLNVAL) ? WaitResult::Failed : WaitResult::HungUp;
        }
        // Only the wake-up is readable: its interrupt is taken at the top of the loop.
    }
}

ReceiveResult ReportReadFailure() {
    LastError = errno;
    NoteIfHangUp(LastError);
    printf("Read on COM-port failed with error %d.\n", LastError);
    return SawHangUp ? ReceiveResult::HungUp : ReceiveResult::Failed;
}

// Reads the byte that the wait announced.
ReceiveResult ReadAnnouncedByte(uint8_t* value, bool* retry) {
    *retry = false;
    ReadOutcome received = ReadSome(ComHandle, value, 1);
    if (received.end == ReadEnd::Data) {
        return ReceiveResult::Byte;
    }
    *value = 0;
    if (received.end == ReadEnd::Interrupted ||
        (received.end == ReadEnd::Failed && received.error == EAGAIN)) {
        *retry = true;
        return ReceiveResult::Failed;
    }
    // End of file on a terminal: the other side hung up.
    errno = received.end == ReadEnd::EndOfFile ? EIO : received.error;
    return ReportReadFailure();
}

}  // namespace

int OpenComPort(int comNr, long baud) {
    char devicePath[32];
    char displayName[16];
    snprintf(devicePath, sizeof devicePath, "/dev/ttyS%d", comNr - 1);
    snprintf(displayName, sizeof displayName, "COM%i", comNr);
    LastOpenAttempt = {devicePath, comNr};
    return OpenNamedPort(devicePath, displayName, baud);
}

int OpenComDevice(const char* devicePath, long baud) {
    LastOpenAttempt = {devicePath, 0};
    return OpenNamedPort(devicePath, devicePath, baud);
}

bool ComDevicePathsSupported() {
    return true;
}

bool IsComPortOpen() {
    return ComHandle != INVALID_HANDLE;
}

void CloseComPort() {
    if (ReportIfNotOpen()) {
        return;
    }
    ReleaseComPortAtOnce();
}

// Only async-signal-safe calls: the second interrupt's handler closes the port with it.
void ReleaseComPortAtOnce() {
    int fd = ComHandle;
    if (fd == INVALID_HANDLE) {
        return;
    }
    int dtr = TIOCM_DTR;
    ioctl(fd, TIOCMBIC, &dtr);
    // The exclusive-use flag belongs to the terminal, not to our descriptor: left set, it would
    // refuse every later open by another user while the other side keeps the terminal open.
    ioctl(fd, TIOCNXCL);
    close(fd);
    ComHandle = INVALID_HANDLE;
}

bool ComPortHungUp() {
    return SawHangUp;
}

int PurgeComInput() {
    if (ReportIfNotOpen()) {
        return -1;
    }
    if (tcflush(ComHandle, TCIFLUSH) != 0) {
        ReportFailure("PurgeComm");
        return -1;
    }
    return 0;
}

void SendByte(uint8_t value) {
    if (ReportIfNotOpen()) {
        return;
    }
    size_t written = 0;
    int error = WriteAll(ComHandle, &value, 1, &written);
    if (error != 0) {
        errno = error;
        ReportFailure("TransmitCommChar");
    }
}

ReceiveResult ReceiveByteChecked(uint8_t* value) {
    *value = 0;
    if (ReportIfNotOpen()) {
        return ReceiveResult::NotOpen;
    }
    for (;;) {
        switch (WaitForInput()) {
            case WaitResult::Interrupted:
                return ReceiveResult::Interrupted;
            case WaitResult::TimedOut:
                printf("TIMEOUT !!!\n");
                return ReceiveResult::TimedOut;
            case WaitResult::Failed:
            case WaitResult::HungUp:
                return ReportReadFailure();
            case WaitResult::Readable:
                break;
        }
        bool retry = false;
        ReceiveResult result = ReadAnnouncedByte(value, &retry);
        if (!retry) {
            return result;
        }
    }
}

// Reads without waiting until nothing is left; a descriptor in blocking mode returns at once
// with what poll() announced.
long DiscardPendingInput() {
    if (ComHandle == INVALID_HANDLE) {
        return -1;
    }
    long discarded = 0;
    for (;;) {
        pollfd pfd{ComHandle, POLLIN, 0};
        PollOutcome polled = PollRetrying(&pfd, 1, DeadlineAfter(0), nullptr);
        if (polled.end != PollEnd::Ready || !(pfd.revents & POLLIN)) {
            if (polled.end == PollEnd::Ready && !(pfd.revents & POLLNVAL)) {
                SawHangUp = true;
            }
            return polled.end == PollEnd::Failed ? -1 : discarded;
        }
        uint8_t buffer[256];
        ReadOutcome received = ReadSome(ComHandle, buffer, sizeof buffer);
        if (received.end == ReadEnd::Data) {
            discarded += static_cast<long>(received.count);
        } else if (received.end != ReadEnd::Interrupted) {
            NoteIfHangUp(received.end == ReadEnd::EndOfFile ? EIO : received.error);
            return discarded;
        }
    }
}

bool WriteComBlock(const void* data, uint32_t length, uint32_t* written) {
    *written = 0;
    if (ComHandle == INVALID_HANDLE) {
        LastError = EBADF;
        return false;
    }
    size_t count = 0;
    int error = WriteAll(ComHandle, data, length, &count);
    *written = static_cast<uint32_t>(count);
    if (error != 0) {
        LastError = error;
        NoteIfHangUp(LastError);
        return false;
    }
    return true;
}

int LastComError() {
    return LastError;
}

// The facts go to open_failure_posix.cpp, which words them.
void ShowLastErrorBox(const char* caption) {
    ShowOpenFailure(caption, LastError, LastOpenAttempt);
}

void WaitMilliseconds(unsigned milliseconds) {
    // A pause that a failure cut short cannot be made up; the next exchange goes on as usual.
    (void)SleepMilliseconds(milliseconds);
}
