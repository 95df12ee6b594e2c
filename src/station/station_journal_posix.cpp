// The journal's file on POSIX: O_APPEND, so that every record lands at the end whole, and
// fsync after each one.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "fleet_report.h"
#include "station_journal.h"

namespace tarnix {

namespace {

// What a look through the journal found: the highest unit, and what follows the last line
// end (a partial line, or nothing), at `partialAt`.
struct JournalScan {
    long highestUnit = 0;
    std::string partial;
    off_t partialAt = 0;
};

// Chunk by chunk, so that a journal of months is never held whole.
bool ScanJournal(int fd, JournalScan* scan) {
    char chunk[65536];
    ssize_t got = 0;
    while ((got = read(fd, chunk, sizeof chunk)) != 0) {
        if (got < 0 && errno != EINTR) {
            return false;
        }
        scan->partial.append(chunk, got > 0 ? static_cast<size_t>(got) : 0);
        size_t whole = WholeLinesLength(scan->partial);
        scan->highestUnit =
            std::max(scan->highestUnit, HighestUnitNumber(scan->partial.substr(0, whole)));
        scan->partial.erase(0, whole);
        scan->partialAt += static_cast<off_t>(whole);
    }
    return true;
}

bool WriteAll(int fd, const std::string& text) {
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

// The partial line copied beside the journal, then cut off it.
bool SetAsidePartialLine(const Journal& journal, const JournalScan& scan, std::string* error) {
    std::string stamp = IsoUtcTime(std::time(nullptr));
    std::string aside = journal.path + ".partial-" + stamp;
    int fd = open(aside.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    bool saved = fd >= 0 && WriteAll(fd, scan.partial) && fsync(fd) == 0;
    if (fd >= 0) {
        close(fd);
    }
    if (!saved || ftruncate(journal.fd, scan.partialAt) != 0 || fsync(journal.fd) != 0) {
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
    journal->fd = open(path.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
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
    if (!WriteAll(journal->fd, line) || fsync(journal->fd) != 0) {
        *error = "cannot write the journal " + journal->path + ": " + strerror(errno);
        return false;
    }
    return true;
}

void CloseJournal(Journal* journal) {
    if (journal->fd >= 0) {
        close(journal->fd);
    }
    journal->fd = -1;
}

}  // namespace tarnix
