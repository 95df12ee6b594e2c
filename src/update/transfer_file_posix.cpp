// The update file's stamp on POSIX systems: fstat() of the stream's descriptor, with the
// nanoseconds of both times, so that a rewrite within the same second still shows.

#include <sys/stat.h>

#include "transfer_file.h"

namespace {

int64_t Nanoseconds(const timespec& time) {
    return static_cast<int64_t>(time.tv_sec) * 1000000000 + time.tv_nsec;
}

}  // namespace

bool ReadOpenFileStamp(FILE* stream, FileStamp* stamp) {
    int descriptor = fileno(stream);
    struct stat info {};
    if (descriptor < 0 || fstat(descriptor, &info) != 0) {
        return false;
    }
    stamp->size = static_cast<uint64_t>(info.st_size);
    stamp->modified = Nanoseconds(info.st_mtim);
    stamp->changed = Nanoseconds(info.st_ctim);
    return true;
}
