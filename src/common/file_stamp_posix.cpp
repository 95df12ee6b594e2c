// The stamp of an open file on POSIX systems: fstat(), with the nanoseconds of both times, so
// that a rewrite within the same second still shows.

#include <sys/stat.h>

#include "file_stamp.h"

namespace tarnix {

namespace {

int64_t Nanoseconds(const timespec& time) {
    return static_cast<int64_t>(time.tv_sec) * 1000000000 + time.tv_nsec;
}

}  // namespace

bool ReadSystemFileStamp(intptr_t systemHandle, FileStamp* stamp) {
    struct stat info {};
    if (systemHandle < 0 || fstat(static_cast<int>(systemHandle), &info) != 0) {
        return false;
    }
    stamp->size = static_cast<uint64_t>(info.st_size);
    stamp->modified = Nanoseconds(info.st_mtim);
    stamp->changed = Nanoseconds(info.st_ctim);
    return true;
}

bool ReadOpenFileStamp(FILE* stream, FileStamp* stamp) {
    return ReadSystemFileStamp(fileno(stream), stamp);
}

}  // namespace tarnix
