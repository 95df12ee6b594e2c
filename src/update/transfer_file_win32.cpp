// The update file's stamp on Windows: size and last-write time (100 ns) of the stream's file
// handle. Windows keeps no change time here; the content comparison covers that.

#include <io.h>
#include <windows.h>

#include "transfer_file.h"

bool ReadOpenFileStamp(FILE* stream, FileStamp* stamp) {
    intptr_t handle = _get_osfhandle(_fileno(stream));
    BY_HANDLE_FILE_INFORMATION info{};
    if (handle == -1 || !GetFileInformationByHandle(reinterpret_cast<HANDLE>(handle), &info)) {
        return false;
    }
    stamp->size = (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    uint64_t written = (static_cast<uint64_t>(info.ftLastWriteTime.dwHighDateTime) << 32) |
                       info.ftLastWriteTime.dwLowDateTime;
    stamp->modified = static_cast<int64_t>(written);
    stamp->changed = 0;
    return true;
}
