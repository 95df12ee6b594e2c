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
#include <cstdio>
#include <cstring>
#include <ctime>

#include "fleet_report.h"
#include "station_journal.h"

namespace tarnix {

namespace {

struct JournalScan {
    long highestUnit = 0;
    std::string partial;
    long long partialAt = 0;
};

// Chunk by chunk, so that a journal of months is never held whole.
bool ScanJournal(int fd, JournalScan* scan) {
    char chunk[65536];
    int got = 0;
    while ((got = _read(fd, chunk, sizeof chunk)) != 0) {
        if (got < 0) {
            return false;
        }
        scan->partial.append(chunk, static_cast<size_t>(got));
        size_t whole = WholeLinesLength(scan->partial);
        scan->highestUnit =
            std::max(scan->highestUnit, HighestUnitNumber(scan->partial.substr(0, whole)));
        scan->partial.erase(0, whole);
        scan->partialAt += static_cast<long long>(whole);
    }
    return true;
}

bool WriteAll(int fd, const std::string& text) {
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

// errno is set where the C runtime failed; a failed FlushFileBuffers sets EIO.
bool SyncToDisk(int fd) {
    HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    if (handle == INVALID_HANDLE_VALUE || !FlushFileBuffers(handle)) {
        errno = EIO;
        return false;
    }
    return true;
}

// The partial line copied beside the journal, then cut off it.
bool SetAsidePartialLine(const Journal& journal, const JournalScan& scan, std::string* error) {
    std::string stamp = IsoUtcTime(std::time(nullptr));
    std::replace(stamp.begin(), stamp.end(), ':', '-');  // no ':' in a Windows file name
    std::string aside = journal.path + ".partial-" + stamp;
    int fd = _open(aside.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT,
                   _S_IREAD | _S_IWRITE);
    bool saved = fd >= 0 && WriteAll(fd, scan.partial) && SyncToDisk(fd);
    if (fd >= 0) {
        _close(fd);
    }
    if (!saved || _chsize_s(journal.fd, scan.partialAt) != 0 || !SyncToDisk(journal.fd)) {
        *error =
            "cannot set aside the partial last line of " + journal.path + ": " + strerror(errno);
        return false;
    }
    fprintf(stderr,
            "tarnix-station: %s ended in a partial line (%zu bytes); moved to %s, the journal "
            "goes on after its last whole line\n",
            journal.path.c_str(), scan.partial.size(), aside.c_str());
    return true;
}

}  // namespace

bool OpenJournal(const std::string& path, Journal* journal, long* lastUnit, std::string* error) {
    journal->path = path;
    journal->fd = _open(path.c_str(), _O_RDWR | _O_CREAT | _O_APPEND | _O_BINARY | _O_NOINHERIT,
                        _S_IREAD | _S_IWRITE);
    JournalScan scan;
    if (journal->fd < 0 || !ScanJournal(journal->fd, &scan)) {
        *error = "cannot open the journal " + path + ": " + strerror(errno);
        CloseJournal(journal);
        return false;
    }
    if (!scan.partial.empty() && !SetAsidePartialLine(*journal, scan, error)) {
        CloseJournal(journal);
        return false;
    }
    *lastUnit = scan.highestUnit;
    return true;
}

bool AppendJournalLine(Journal* journal, const std::string& line, std::string* error) {
    if (!WriteAll(journal->fd, line) || !SyncToDisk(journal->fd)) {
        *error = "cannot write the journal " + journal->path + ": " + strerror(errno);
        return false;
    }
    return true;
}

void CloseJournal(Journal* journal) {
    if (journal->fd >= 0) {
        _close(journal->fd);
    }
    journal->fd = -1;
}

}  // namespace tarnix
