#include "station_journal.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "json_text.h"
#include "station_journal_file.h"

namespace tarnix {

namespace {

std::string Member(const char* name, const std::string& json) {
    std::string member = JsonQuote(name);
    member += ": ";
    member += json;
    member += ", ";
    return member;
}

// The number after "unit": at the start of a record, or -1.
long UnitOfLine(const std::string& text, size_t start, size_t end) {
    const std::string key = "{\"unit\": ";
    if (text.compare(start, key.size(), key) != 0 || start + key.size() >= end) {
        return -1;
    }
    char* after = nullptr;
    long unit = std::strtol(text.c_str() + start + key.size(), &after, 10);
    return after == text.c_str() + start + key.size() ? -1 : unit;
}

}  // namespace

std::string JournalRecordJson(long unit, const std::string& slot, int statusValue,
                              const FleetRunFacts& run, const FleetPortRecord& result) {
    // Built by appends: GCC 12 sees a false overlap in "{" + a temporary string (-Wrestrict).
    std::string json = "{";
    json += Member("unit", std::to_string(unit));
    json += Member("slot", JsonQuote(slot));
    json += Member("file", JsonQuote(run.file.file));
    json += Member("file_size", run.file.readable ? std::to_string(run.file.size) : "null");
    json += Member("file_sha256", run.file.readable ? JsonQuote(run.file.sha256) : "null");
    json += Member("modnr", JsonQuote(run.modNr));
    json += Member("mode", std::to_string(run.mode));
    json += Member("tarnix_version", JsonQuote(run.version));
    json += Member("host", JsonQuote(run.host));
    json += Member("status", statusValue < 0 ? "null" : std::to_string(statusValue));
    json += PortRecordMembers(result);
    return json + "}\n";
}

long HighestUnitNumber(const std::string& text) {
    long highest = 0;
    size_t start = 0;
    for (size_t end = text.find('\n'); end != std::string::npos; end = text.find('\n', start)) {
        long unit = UnitOfLine(text, start, end);
        highest = unit > highest ? unit : highest;
        start = end + 1;
    }
    return highest;
}

size_t WholeLinesLength(const std::string& text) {
    size_t lastEnd = text.rfind('\n');
    return lastEnd == std::string::npos ? 0 : lastEnd + 1;
}

namespace {

// What a look through the journal found: the highest unit, and what follows the last line
// end (a partial line, or nothing), at `partialAt`.
struct JournalScan {
    long highestUnit = 0;
    std::string partial;
    long long partialAt = 0;
};

// Chunk by chunk, so that a journal of months is never held whole.
bool ScanJournal(int fd, JournalScan* scan) {
    char chunk[65536];
    long got = 0;
    while ((got = ReadSome(fd, chunk, sizeof chunk)) != 0) {
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

// The partial line copied beside the journal, then cut off it.
bool SetAsidePartialLine(const Journal& journal, const JournalScan& scan, std::string* error) {
    std::string aside = journal.path + ".partial-" + FileNameStamp(IsoUtcTime(std::time(nullptr)));
    int fd = CreateNewFile(aside);
    bool saved = fd >= 0 && WriteAllTo(fd, scan.partial) && SyncToDisk(fd);
    if (fd >= 0) {
        CloseFile(fd);
    }
    if (!saved || !CutFileAt(journal.fd, scan.partialAt) || !SyncToDisk(journal.fd)) {
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
    journal->fd = OpenJournalFile(path);
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
    long long before = FileLength(journal->fd);
    bool written = before >= 0 && WriteAllTo(journal->fd, line);
    if (written && SyncToDisk(journal->fd)) {
        return true;
    }
    *error = "cannot write the journal " + journal->path + ": " + strerror(errno);
    // A write that stopped part way (a full disk) would leave the start of a record for the
    // next one to be appended to: the journal is cut back to its last whole line.
    if (before >= 0 && !written) {
        CutFileAt(journal->fd, before);
    }
    return false;
}

void CloseJournal(Journal* journal) {
    if (journal->fd >= 0) {
        CloseFile(journal->fd);
    }
    journal->fd = -1;
}

}  // namespace tarnix
