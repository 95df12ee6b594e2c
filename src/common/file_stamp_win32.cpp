// The stamp of an open file on Windows: size and last-write time (100 ns) of its handle.
// Windows keeps no change time here; the content comparison covers that.

#include <io.h>
#include <windows.h>

#include "file_stamp.h"

namespace tarnix {

bool ReadSystemFileStamp(intptr_t systemHandle, FileStamp* stamp) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (systemHandle == -1 ||
        !GetFileInformationByHandle(reinterpret_cast<HANDLE>(systemHandle), &info)) {
        return false;
    }
    stamp->size = (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    uint64_t written = (static_cast<uint64_t>(info.ftLastWriteTime.dwHighDateTime) << 32) |
                       info.ftLastWriteTime.dwLowDateTime;
    stamp->modified = static_cast<int64_t>(written);
    stamp->changed = 0;
    return true;
}

bool ReadOpenFileStamp(FILE* stream, FileStamp* stamp) {
    return ReadSystemFileStamp(_get_osfhandle(_fileno(stream)), stamp);
}

}  // namespace tarnix
