// The configuration file on Windows: a Win32 file handle, GetFileSize for the size and
// GetFileTime for the last-write time.

#include <windows.h>

#include <cerrno>
#include <cstdio>

#include "config_file.h"
#include "file_stamp.h"

namespace tarnix {

struct ConfigFile {
    HANDLE handle = INVALID_HANDLE_VALUE;
};

namespace {

// The Win32 number of the last failure, kept for PrintConfigFileError; errno gets its mapping.
DWORD g_lastError = NO_ERROR;

// perror() reads errno, which the Win32 calls do not set. 0 where no errno fits.
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
            return 0;
    }
}

void KeepError(DWORD error) {
    g_lastError = error;
    int mapped = ErrnoFor(error);
    errno = mapped != 0 ? mapped : EIO;
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
        KeepError(GetLastError());
        // Windows refuses a directory as "access denied"; name the real cause.
        if (IsDirectory(path)) {
            errno = EISDIR;
        }
        return nullptr;
    }
    return new ConfigFile{handle};
}

// A console, a pipe or a device such as NUL has no size to announce.
bool IsRegularConfigFile(ConfigFile* file) {
    return GetFileType(file->handle) == FILE_TYPE_DISK;
}

void PrintConfigFileError(const char* prefix) {
    if (g_lastError != NO_ERROR && ErrnoFor(g_lastError) == 0) {
        fprintf(stderr, "%s with error %lu.\n", prefix, static_cast<unsigned long>(g_lastError));
        return;
    }
    perror(prefix);
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
            KeepError(GetLastError());
            return false;
        }
        if (read == 0) {
            break;
        }
        *count += read;
    }
    return true;
}

bool GetConfigFileStamp(ConfigFile* file, FileStamp* stamp) {
    return ReadSystemFileStamp(reinterpret_cast<intptr_t>(file->handle), stamp);
}

bool RewindConfigFile(ConfigFile* file) {
    if (SetFilePointer(file->handle, 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER) {
        KeepError(GetLastError());
        return false;
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

}  // namespace tarnix
