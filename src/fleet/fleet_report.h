#pragma once
// What tarnix-fleet writes for programs: the JSON report at the end of a run and the event
// lines while it goes. Pure functions of plain facts gathered by fleet_run.cpp.

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "fleet_status.h"
#include "outcome_line.h"

namespace tarnix {

// The report's format version: 2 added the run's and the file's facts, the per-port times and
// figures, and a null reason where there is none.
inline constexpr int FLEET_REPORT_FORMAT = 2;

// One port of a fleet run, as the table, the report and the end event show it.
struct FleetPortRecord {
    std::string port;
    std::string log;
    std::string logPath;  // the log's absolute path
    PortOutcome outcome = PortOutcome::Running;
    int exitStatus = -1;
    double seconds = 0;
    std::string reason;  // empty when completed
    std::time_t startTime = 0;
    std::time_t endTime = 0;
    OutcomeFigures figures;  // from tarnix's outcome line
    // What the port was when the run started, as the port list described it; "" where unknown
    // (a network port, an adapter that was not found).
    std::string device;         // "/dev/ttyUSB0"; on Windows "COM11"
    std::string adapterVidPid;  // "0403:6001"
    std::string adapterSerial;
};

struct FleetFileFacts {
    std::string file;          // as given
    std::string absolutePath;  // empty when unknown
    bool readable = false;
    uint64_t size = 0;
    std::string sha256;  // hex
    bool hasHeader = false;
    uint32_t headerCrc = 0;
};

struct FleetRunFacts {
    std::string version;
    std::string host;
    std::string user;
    std::time_t startTime = 0;
    std::time_t endTime = 0;
    std::string modNr;
    int mode = 0;  // tarnix's ProgMode
    FleetFileFacts file;
};

// "2026-12-09T14:08:38Z".
std::string IsoUtcTime(std::time_t time);

// The whole report, one object with a "ports" array.
std::string FleetReportJson(const FleetRunFacts& run, const std::vector<FleetPortRecord>& results);

// The members of one port's object in the report, without its braces: the station's journal
// records carry the same members.
std::string PortRecordMembers(const FleetPortRecord& result);

// One event line each, newline included.
std::string StartEventJson(const std::string& port, std::time_t time);
std::string ProgressEventJson(const std::string& port, long percent, std::time_t time);
std::string EndEventJson(const FleetPortRecord& result, std::time_t time);

}  // namespace tarnix
