// The configuration file on POSIX systems: a plain descriptor, fstat() for size and time.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>

#include "config_file.h"
#include "file_stamp.h"
#include "posix_io.h"

namespace tarnix {

struct ConfigFile {
    int fd = -1;
};

// O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer. It is cleared
// again at once, so that reads of a regular file behave as always.
ConfigFile* OpenConfigFile(const char* path) {
    int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        return nullptr;
    }
    // open() accepts a directory for reading; only the first read would fail.
    struct stat info {};
    int flags = fcntl(fd, F_GETFL);
    if (fstat(fd, &info) != 0 || S_ISDIR(info.st_mode) || flags < 0 ||
        fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        int error = S_ISDIR(info.st_mode) ? EISDIR : errno;
        close(fd);
        errno = error;
        return nullptr;
    }
    return new ConfigFile{fd};
}

bool IsRegularConfigFile(ConfigFile* file) {
    struct stat info {};
    return fstat(file->fd, &info) == 0 && S_ISREG(info.st_mode);
}

void PrintConfigFileError(const char* prefix) {
    perror(prefix);
}

bool GetConfigFileSize(ConfigFile* file, uint64_t* size) {
    struct stat info {};
    if (fstat(file->fd, &info) != 0 || info.st_size < 0) {
        return false;
    }
    *size = static_cast<uint64_t>(info.st_size);
    return true;
}

bool ReadConfigFileBlock(ConfigFile* file, uint8_t* buffer, uint32_t capacity, uint32_t* count) {
    size_t taken = 0;
    int error = ReadFull(file->fd, buffer, capacity, &taken);
    *count = static_cast<uint32_t>(taken);
    if (error != 0) {
        errno = error;  // for PrintConfigFileError's perror()
        return false;
    }
    return true;
}

namespace {}  // namespace

// Both times with their nanoseconds: a rewrite within the same second still shows.
bool GetConfigFileStamp(ConfigFile* file, FileStamp* stamp) {
    return ReadSystemFileStamp(file->fd, stamp);
}

bool RewindConfigFile(ConfigFile* file) {
    return lseek(file->fd, 0, SEEK_SET) == 0;
}

bool GetConfigFileWriteTime(ConfigFile* file, CalendarTime* time) {
    struct stat info {};
    tm local{};
    if (fstat(file->fd, &info) != 0 || localtime_r(&info.st_mtime, &local) == nullptr) {
        return false;
    }
    time->year = local.tm_year + 1900;
    time->month = local.tm_mon + 1;
    time->day = local.tm_mday;
    time->hour = local.tm_hour;
    time->minute = local.tm_min;
    return true;
}

void CloseConfigFile(ConfigFile* file) {
    if (file == nullptr) {
        return;
    }
    close(file->fd);
    delete file;
}

}  // namespace tarnix
