#pragma once
// The station's journal: one JSON object per unit, one line each, appended and written to disk
// when the unit ends. A crash loses at most the units in progress; a partial last line (a power
// cut in the middle of a write) is set aside at start, never appended to.

#include <string>

#include "fleet_report.h"

namespace tarnix {

// The journal's record of one unit: the unit number, the slot as given, the file's and the
// run's facts, the status value where a fixed slot's status query found the module (-1: null),
// then the members of the fleet report's per-port object.
std::string JournalRecordJson(long unit, const std::string& slot, int statusValue,
                              const FleetRunFacts& run, const FleetPortRecord& result);

// The highest "unit" among the whole lines of `text` (0 when none): numbering goes on from
// there after a restart, also when units ended out of order.
long HighestUnitNumber(const std::string& text);

// How much of `text` is whole lines: up to and including its last line end.
size_t WholeLinesLength(const std::string& text);

struct Journal {
    std::string path;
    int fd = -1;
};

// Opens (creates) the journal for appending. A partial last line is copied to
// PATH.partial-<time>, cut off the journal and reported on standard error. *lastUnit is the
// highest unit number recorded. False, with *error set, when the journal cannot be used.
bool OpenJournal(const std::string& path, Journal* journal, long* lastUnit, std::string* error);

// Appends one line (its line end included) whole and waits until it is on the disk. When the
// write fails, nothing of the line stays in the journal.
bool AppendJournalLine(Journal* journal, const std::string& line, std::string* error);

void CloseJournal(Journal* journal);

}  // namespace tarnix
