#include "station_journal.h"

#include <cstdlib>

#include "json_text.h"

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

}  // namespace tarnix
