// UUCP lock files (device_lock.h). Taking a lock is a link() of a finished file to the lock's
// name, which either succeeds whole or fails with EEXIST; releasing it is an unlink() that the
// signal handler of a second interrupt may make as well.

#include "device_lock.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "posix_io.h"

namespace tarnix {

namespace {

// A lock file that another process may replace under us after we found it stale: a few
// rounds, then the device counts as held.
constexpr int TAKE_ATTEMPTS = 3;

// The process id in a lock file's text: ASCII decimal padded with spaces ("%10d\n"), or the
// four bytes of a binary int as Kermit writes it. 0 when it holds neither. Async-signal-safe.
long PidInLockText(const char* text, size_t length) {
    size_t i = 0;
    while (i < length && text[i] == ' ') {
        ++i;
    }
    long pid = 0;
    size_t digits = 0;
    for (; i < length && text[i] >= '0' && text[i] <= '9' && digits < 10; ++i, ++digits) {
        pid = pid * 10 + (text[i] - '0');
    }
    while (i < length && (text[i] == ' ' || text[i] == '\n')) {
        ++i;
    }
    if (digits > 0 && i == length) {
        return pid;
    }
    int32_t binary = 0;
    if (length == sizeof binary) {
        memcpy(&binary, text, sizeof binary);
        return binary > 0 ? binary : 0;
    }
    return 0;
}

// The process id that the open lock file `fd` names (0: none that can be read).
// Async-signal-safe.
long PidInLockFile(int fd) {
    char text[64];
    ssize_t length = 0;
    while ((length = read(fd, text, sizeof text)) < 0 && errno == EINTR) {
    }
    return length > 0 ? PidInLockText(text, static_cast<size_t>(length)) : 0;
}

// What a lock file says about the device.
struct FoundLock {
    bool exists = false;
    long pid = 0;
    dev_t device = 0;  // the file itself, to remove only the file that was read
    ino_t inode = 0;
};

FoundLock ReadLock(const std::string& lockPath) {
    FoundLock found;
    int fd = open(lockPath.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        // Unreadable is not free: only a missing file is.
        found.exists = errno != ENOENT;
        return found;
    }
    struct stat status {};
    found.exists = true;
    found.pid = PidInLockFile(fd);
    if (fstat(fd, &status) == 0) {
        found.device = status.st_dev;
        found.inode = status.st_ino;
    }
    close(fd);
    return found;
}

// kill(pid, 0) fails with EPERM for a live process of another user: that one holds it too.
bool ProcessHasEnded(long pid) {
    return pid > 0 && pid <= INT_MAX && kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
}

std::string ProgramOfProcess(long pid) {
    std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    std::getline(comm, name);
    return name;
}

// Removes a stale lock unless it was replaced since it was read. Another program that found it
// stale at the same moment may still win the race between the check and the unlink; the flock
// on the device is the second guard for that moment.
bool RemoveStaleLock(const std::string& lockPath, const FoundLock& found) {
    struct stat status {};
    if (lstat(lockPath.c_str(), &status) != 0) {
        return errno == ENOENT;
    }
    if (status.st_dev != found.device || status.st_ino != found.inode) {
        return true;  // someone else's fresh lock now: the next round reads it
    }
    return unlink(lockPath.c_str()) == 0 || errno == ENOENT;
}

// A temporary file in the lock directory that holds our process id as a lock file does; ""
// when it cannot be made there (*error says why).
std::string CreatePidFile(const std::string& lockDir, int* error) {
    std::string path = lockDir + "/LTMP.XXXXXX";
    int fd = mkostemp(path.data(), O_CLOEXEC);
    if (fd < 0) {
        *error = errno;
        return "";
    }
    char text[32];
    int length = snprintf(text, sizeof text, "%10ld\n", static_cast<long>(getpid()));
    size_t written = 0;
    // Readable by everyone: other users' programs read the process id to see whether it lives.
    *error = WriteAll(fd, text, static_cast<size_t>(length), &written);
    if (*error == 0 && fchmod(fd, 0644) != 0) {
        *error = errno;
    }
    if (close(fd) != 0 && *error == 0) {
        *error = errno;
    }
    if (*error != 0) {
        unlink(path.c_str());
        return "";
    }
    return path;
}

enum class NameEnd { Taken, Busy, NotWritten };

// One lock name. With no pid file (the directory cannot be written) the lock is only read.
NameEnd TakeLockName(const std::string& pidFile, const std::string& lockPath,
                     DeviceLockResult* result, int* writeError) {
    for (int attempt = 0; attempt < TAKE_ATTEMPTS; ++attempt) {
        if (!pidFile.empty()) {
            if (link(pidFile.c_str(), lockPath.c_str()) == 0) {
                return NameEnd::Taken;
            }
            if (errno != EEXIST) {
                *writeError = errno;
                return NameEnd::NotWritten;
            }
        }
        FoundLock found = ReadLock(lockPath);
        if (!found.exists) {
            if (pidFile.empty()) {
                return NameEnd::NotWritten;
            }
            continue;  // gone since the link: link again
        }
        if (!ProcessHasEnded(found.pid)) {
            result->holder = {found.pid, found.pid > 0 ? ProgramOfProcess(found.pid) : "",
                              lockPath};
            return NameEnd::Busy;
        }
        // Stale: nobody holds the device, but without a pid file it cannot be replaced.
        if (pidFile.empty()) {
            return NameEnd::NotWritten;
        }
        if (!RemoveStaleLock(lockPath, found)) {
            *writeError = errno;
            return NameEnd::NotWritten;
        }
        result->notices.push_back("removed the stale lock file " + lockPath + " of process " +
                                  std::to_string(found.pid) + ", which has ended");
    }
    result->holder = {0, "", lockPath};
    return NameEnd::Busy;
}

void StoreLockPath(DeviceLock* lock, const std::string& lockPath) {
    for (char* file : lock->files) {
        if (file[0] == '\0') {
            snprintf(file, LOCK_PATH_SIZE, "%s", lockPath.c_str());
            return;
        }
    }
}

std::string UnwrittenNotice(const std::string& devicePath, const std::string& lockDir, int error) {
    return "no lock file for " + devicePath + ": " + lockDir + " cannot be written (" +
           strerror(error) + "); only flock keeps other programs off the port";
}

bool IsDirectory(const char* path) {
    struct stat status {};
    return stat(path, &status) == 0 && S_ISDIR(status.st_mode);
}

}  // namespace

std::string SystemLockDirectory() {
    for (const char* dir : {"/run/lock", "/var/lock"}) {
        if (IsDirectory(dir)) {
            return dir;
        }
    }
    return "";
}

std::string LockFileName(const std::string& devicePath) {
    std::string name;
    if (devicePath.starts_with("/dev/")) {
        name = devicePath.substr(5);
        for (char& c : name) {
            c = c == '/' ? '_' : c;
        }
    } else {
        name = devicePath.substr(devicePath.find_last_of('/') + 1);
    }
    return "LCK.." + name;
}

// A name below /dev is one other programs lock by too; a link elsewhere is locked by the device
// it resolves to only: its base name alone could be another device's (two folders may both
// hold a link "usb-A").
std::vector<std::string> LockFileNames(const std::string& devicePath) {
    std::vector<std::string> names;
    if (devicePath.starts_with("/dev/")) {
        names.push_back(LockFileName(devicePath));
    }
    char resolved[PATH_MAX];
    if (realpath(devicePath.c_str(), resolved) != nullptr) {
        std::string target = LockFileName(resolved);
        if (names.empty() || target != names[0]) {
            names.push_back(target);
        }
    }
    if (names.empty()) {
        names.push_back(LockFileName(devicePath));
    }
    return names;
}

DeviceLockResult TakeDeviceLock(const std::string& devicePath, const std::string& lockDir) {
    DeviceLockResult result;
    // Without a lock directory (a minimal system) no program can hold a lock file either.
    if (lockDir.empty()) {
        return result;
    }
    int writeError = 0;
    std::string pidFile = CreatePidFile(lockDir, &writeError);
    bool unwritten = pidFile.empty();
    for (const std::string& name : LockFileNames(devicePath)) {
        std::string lockPath = lockDir + "/" + name;
        NameEnd end = TakeLockName(pidFile, lockPath, &result, &writeError);
        if (end == NameEnd::Busy) {
            result.end = DeviceLockEnd::Busy;
            ReleaseDeviceLock(&result.lock);
            break;
        }
        if (end == NameEnd::Taken) {
            StoreLockPath(&result.lock, lockPath);
        }
        unwritten = unwritten || end == NameEnd::NotWritten;
    }
    if (!pidFile.empty()) {
        unlink(pidFile.c_str());
    }
    if (unwritten && result.end == DeviceLockEnd::Taken) {
        result.notices.push_back(UnwrittenNotice(devicePath, lockDir, writeError));
    }
    return result;
}

// A lock file that names another process is no longer ours (someone found it stale wrongly,
// or replaced it by hand): it stays.
void ReleaseDeviceLock(DeviceLock* lock) {
    for (char* file : lock->files) {
        if (file[0] == '\0') {
            continue;
        }
        int fd = open(file, O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
        if (fd >= 0) {
            bool ours = PidInLockFile(fd) == static_cast<long>(getpid());
            close(fd);
            if (ours) {
                unlink(file);
            }
        }
        file[0] = '\0';
    }
}

}  // namespace tarnix
