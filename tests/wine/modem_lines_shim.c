/* Test-only LD_PRELOAD library for running the Windows programs under Wine against a
 * pseudo-terminal. A pty slave has no modem-control lines, so the kernel refuses the
 * TIOCMGET/TIOCMSET/TIOCMBIS/TIOCMBIC ioctls with which Wine carries out SetCommState and
 * EscapeCommFunction; the program would then fail to open its port. Where a real ioctl
 * refuses on a pty slave, this library keeps the line state in memory instead and, when
 * TARNIX_WINE_MODEM_LOG names a file, appends every change to it ("DTR=0 RTS=0") so that a
 * test can check what the program did to the lines.
 *
 * Build it once per word size and preload it through $LIB:
 *   LD_PRELOAD='/dir/$LIB/libtarnix_modem_lines.so' wine program.exe
 * i386 glibc with 64-bit time_t routes ioctl() to __ioctl_time64, so both are wrapped. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

typedef int (*IoctlFunction)(int, unsigned long, ...);

enum { MAX_DEVICES = 16, UNIX98_PTY_SLAVE_MAJOR_FIRST = 136, UNIX98_PTY_SLAVE_MAJOR_LAST = 143 };

struct DeviceLines {
    dev_t device;
    int lines;
};

static struct DeviceLines knownDevices[MAX_DEVICES];
static int knownDeviceCount;

static int IsPtySlave(int fd, dev_t* device) {
    struct stat info;
    if (fstat(fd, &info) != 0 || !S_ISCHR(info.st_mode)) {
        return 0;
    }
    unsigned int deviceMajor = major(info.st_rdev);
    *device = info.st_rdev;
    return deviceMajor >= UNIX98_PTY_SLAVE_MAJOR_FIRST &&
           deviceMajor <= UNIX98_PTY_SLAVE_MAJOR_LAST;
}

/* A freshly opened port raises DTR and RTS. */
static int* LinesOf(dev_t device) {
    for (int i = 0; i < knownDeviceCount; ++i) {
        if (knownDevices[i].device == device) {
            return &knownDevices[i].lines;
        }
    }
    int slot = knownDeviceCount < MAX_DEVICES ? knownDeviceCount++ : MAX_DEVICES - 1;
    knownDevices[slot].device = device;
    knownDevices[slot].lines = TIOCM_DTR | TIOCM_RTS;
    return &knownDevices[slot].lines;
}

static void LogLines(int lines) {
    const char* path = getenv("TARNIX_WINE_MODEM_LOG");
    if (path == NULL || path[0] == '\0') {
        return;
    }
    int fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        return;
    }
    char text[32];
    int length = snprintf(text, sizeof text, "DTR=%d RTS=%d\n", (lines & TIOCM_DTR) ? 1 : 0,
                          (lines & TIOCM_RTS) ? 1 : 0);
    if (write(fd, text, (size_t)length) < 0) {
        /* the log is a test aid; a failed write only loses an entry */
    }
    close(fd);
}

static int IsModemLineRequest(unsigned long request) {
    return request == TIOCMGET || request == TIOCMSET || request == TIOCMBIS ||
           request == TIOCMBIC;
}

static int EmulateModemLines(int fd, unsigned long request, int* argument) {
    dev_t device;
    if (!IsPtySlave(fd, &device) || argument == NULL) {
        return -1;
    }
    int* lines = LinesOf(device);
    switch (request) {
        case TIOCMGET:
            *argument = *lines;
            return 0;
        case TIOCMSET:
            *lines = *argument;
            break;
        case TIOCMBIS:
            *lines |= *argument;
            break;
        default:
            *lines &= ~*argument;
            break;
    }
    LogLines(*lines);
    return 0;
}

static int CallWithFallback(const char* name, IoctlFunction* real, int fd, unsigned long request,
                            void* argument) {
    if (*real == NULL) {
        *real = (IoctlFunction)dlsym(RTLD_NEXT, name);
        if (*real == NULL) {
            errno = ENOSYS;
            return -1;
        }
    }
    int result = (*real)(fd, request, argument);
    if (result == 0 || !IsModemLineRequest(request)) {
        return result;
    }
    int error = errno;
    if ((error == EINVAL || error == ENOTTY || error == EOPNOTSUPP) &&
        EmulateModemLines(fd, request, (int*)argument) == 0) {
        return 0;
    }
    errno = error;
    return result;
}

int ioctl(int fd, unsigned long request, ...) {
    static IoctlFunction real;
    va_list arguments;
    va_start(arguments, request);
    void* argument = va_arg(arguments, void*);
    va_end(arguments);
    return CallWithFallback("ioctl", &real, fd, request, argument);
}

#if defined(__i386__)
int __ioctl_time64(int fd, unsigned long request, ...);
int __ioctl_time64(int fd, unsigned long request, ...) {
    static IoctlFunction real;
    va_list arguments;
    va_start(arguments, request);
    void* argument = va_arg(arguments, void*);
    va_end(arguments);
    return CallWithFallback("__ioctl_time64", &real, fd, request, argument);
}
#endif
