// The journal's file on POSIX: O_APPEND, so that every record lands at the end whole, and
// fsync after each one.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "station_journal_file.h"

namespace tarnix {

int OpenJournalFile(const std::string& path) {
    return open(path.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
}

int CreateNewFile(const std::string& path) {
    return open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
}

long ReadSome(int fd, char* buffer, unsigned size) {
    ssize_t got = 0;
    do {
        got = read(fd, buffer, size);
    } while (got < 0 && errno == EINTR);
    return static_cast<long>(got);
}

bool WriteAllTo(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        ssize_t wrote = write(fd, text.data() + done, text.size() - done);
        if (wrote < 0 && errno != EINTR) {
            return false;
        }
        done += wrote > 0 ? static_cast<size_t>(wrote) : 0;
    }
    return true;
}

bool SyncToDisk(int fd) {
    return fsync(fd) == 0;
}

bool CutFileAt(int fd, long long length) {
    return ftruncate(fd, static_cast<off_t>(length)) == 0;
}

long long FileLength(int fd) {
    struct stat facts {};
    return fstat(fd, &facts) == 0 ? static_cast<long long>(facts.st_size) : -1;
}

void CloseFile(int fd) {
    close(fd);
}

std::string FileNameStamp(const std::string& isoTime) {
    return isoTime;
}

}  // namespace tarnix
