// The configuration file on Windows: a Win32 file handle, GetFileSize for the size and
// GetFileTime for the last-write time.

#include <windows.h>

#include <cerrno>

#include "config_file.h"

struct ConfigFile {
    HANDLE handle = INVALID_HANDLE_VALUE;
};

namespace {

// perror() reads errno, which the Win32 calls do not set.
int ErrnoFor(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_NAME:
        case ERROR_BAD_NETPATH:
            return ENOENT;
        case ERROR_ACCESS_DENIED:
            return EACCES;
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
            return EBUSY;
        default:
            return EIO;
    }
}

bool IsDirectory(const char* path) {
    DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

}  // namespace

ConfigFile* OpenConfigFile(const char* path) {
    HANDLE handle = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        // Windows refuses a directory as "access denied"; name the real cause.
        errno = IsDirectory(path) ? EISDIR : ErrnoFor(GetLastError());
        return nullptr;
    }
    return new ConfigFile{handle};
}

// The high part is asked for too: a size whose low part happens to be all ones is not a
// failure then.
bool GetConfigFileSize(ConfigFile* file, uint64_t* size) {
    DWORD high = 0;
    DWORD low = GetFileSize(file->handle, &high);
    if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) {
        return false;
    }
    *size = (static_cast<uint64_t>(high) << 32) | low;
    return true;
}

bool ReadConfigFileBlock(ConfigFile* file, uint8_t* buffer, uint32_t capacity, uint32_t* count) {
    *count = 0;
    while (*count < capacity) {
        DWORD read = 0;
        if (!ReadFile(file->handle, buffer + *count, capacity - *count, &read, nullptr)) {
            errno = ErrnoFor(GetLastError());
            return false;
        }
        if (read == 0) {
            break;
        }
        *count += read;
    }
    return true;
}

bool GetConfigFileWriteTime(ConfigFile* file, CalendarTime* time) {
    FILETIME creation{};
    FILETIME lastAccess{};
    FILETIME lastWrite{};
    FILETIME localWrite{};
    SYSTEMTIME fields{};
    if (!GetFileTime(file->handle, &creation, &lastAccess, &lastWrite) ||
        !FileTimeToLocalFileTime(&lastWrite, &localWrite) ||
        !FileTimeToSystemTime(&localWrite, &fields)) {
        return false;
    }
    time->year = fields.wYear;
    time->month = fields.wMonth;
    time->day = fields.wDay;
    time->hour = fields.wHour;
    time->minute = fields.wMinute;
    return true;
}

void CloseConfigFile(ConfigFile* file) {
    if (file == nullptr) {
        return;
    }
    CloseHandle(file->handle);
    delete file;
}
