// The journal's file on Windows: the C runtime's descriptors in binary mode with _O_APPEND, so
// that every record lands at the end whole and no line end is translated, and FlushFileBuffers
// after each one, which returns once the system has written the file's data to the disk. Not
// inherited: the tarnix processes that the station starts must not hold it.

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <algorithm>
#include <cerrno>

#include "station_journal_file.h"

namespace tarnix {

int OpenJournalFile(const std::string& path) {
    return _open(path.c_str(), _O_RDWR | _O_CREAT | _O_APPEND | _O_BINARY | _O_NOINHERIT,
                 _S_IREAD | _S_IWRITE);
}

int CreateNewFile(const std::string& path) {
    return _open(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT,
                 _S_IREAD | _S_IWRITE);
}

long ReadSome(int fd, char* buffer, unsigned size) {
    return _read(fd, buffer, size);
}

bool WriteAllTo(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        unsigned piece = static_cast<unsigned>(std::min<size_t>(text.size() - done, 1u << 20));
        int wrote = _write(fd, text.data() + done, piece);
        if (wrote < 0) {
            return false;
        }
        done += static_cast<size_t>(wrote);
    }
    return true;
}

// A failed FlushFileBuffers sets EIO, so that the message has a reason.
bool SyncToDisk(int fd) {
    HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    if (handle == INVALID_HANDLE_VALUE || !FlushFileBuffers(handle)) {
        errno = EIO;
        return false;
    }
    return true;
}

bool CutFileAt(int fd, long long length) {
    return _chsize_s(fd, length) == 0;
}

long long FileLength(int fd) {
    return _filelengthi64(fd);
}

void CloseFile(int fd) {
    _close(fd);
}

// A ':' in a Windows file name would make a hidden NTFS stream instead.
std::string FileNameStamp(const std::string& isoTime) {
    std::string stamp = isoTime;
    std::replace(stamp.begin(), stamp.end(), ':', '-');
    return stamp;
}

}  // namespace tarnix
