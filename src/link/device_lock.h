#pragma once
// UUCP lock files for serial devices: the agreement by which ser2net, minicom, cu and most
// other serial programs keep off a device that another program uses. A lock file
// "<lock directory>/LCK..<name>" holds the owner's process id as "%10d\n"; <name> is the
// device's path below /dev with '/' made '_' (ttyUSB0, serial_by-id_usb-FTDI...), or its base
// name when it lies elsewhere. A device is locked under the name it was given by and under the
// device it resolves to, since a /dev/serial/by-id link and its ttyUSB0 are one device.
// POSIX only (device_lock_posix.cpp): on Windows the port's exclusive open does this.

#include <cstddef>
#include <string>
#include <vector>

namespace tarnix {

constexpr std::size_t LOCK_PATH_SIZE = 1024;

// The lock files that an open device holds. Fixed buffers, so that the signal handler of a
// second interrupt may remove them (ReleaseDeviceLock); an empty string is no file.
struct DeviceLock {
    char files[2][LOCK_PATH_SIZE] = {};
};

// The process that holds a device by its lock file.
struct LockHolder {
    long pid = 0;          // 0: the lock file names no process that can be read
    std::string program;   // its name (/proc/PID/comm), "" when unknown
    std::string lockFile;  // the lock file that names it
};

enum class DeviceLockEnd {
    Taken,  // no live process holds the device; every lock file that could be written is ours
    Busy,   // another live process holds the device: nothing of ours is left behind
};

struct DeviceLockResult {
    DeviceLockEnd end = DeviceLockEnd::Taken;
    DeviceLock lock;    // Taken: the lock files to remove when the device is let go
    LockHolder holder;  // Busy: who holds it
    // Lines for standard error, each said once: a stale lock replaced (its process has
    // ended), or a lock directory that could not be written (the device is then kept from
    // other programs by flock only).
    std::vector<std::string> notices;
};

// The system's lock directory: /run/lock, or /var/lock where there is no /run/lock; "" when
// there is neither.
std::string SystemLockDirectory();

// "LCK..ttyUSB0" for "/dev/ttyUSB0", "LCK..serial_by-id_x" for "/dev/serial/by-id/x",
// "LCK..x" for "/tmp/x".
std::string LockFileName(const std::string& devicePath);

// The lock file names of a device: that of the path as given when it lies below /dev (where
// other programs name it so too) and that of the device the path resolves to. A path that does
// not resolve keeps its own name.
std::vector<std::string> LockFileNames(const std::string& devicePath);

// Takes the lock files of `devicePath` in `lockDir`, before the device is opened: each one is
// created whole (a temporary file linked to its name), so that no other program reads it
// half-written. A lock file whose process has ended is replaced. A device held by a live
// process is Busy, and the lock files taken for its other name are removed again. A lock
// directory that cannot be written is read all the same, for locks of others, and said once
// in the notices. An empty `lockDir` (the system has none) takes nothing and says nothing.
DeviceLockResult TakeDeviceLock(const std::string& devicePath, const std::string& lockDir);

// Removes the lock files that still name this process, and empties `lock`.
// Async-signal-safe (open, read, close, unlink, getpid).
void ReleaseDeviceLock(DeviceLock* lock);

}  // namespace tarnix
