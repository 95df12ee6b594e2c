#pragma once
// One fleet run: the file checked, one tarnix per port started at once, each followed through
// its log until it ends, interrupts passed on, then the table and the JSON report.

#include <string>
#include <vector>

#include "fleet_cli.h"
#include "fleet_report.h"
#include "fleet_status.h"

namespace tarnix {

// The final table, one line per port, with a heading.
std::string DescribeFleetTable(const std::vector<FleetPortRecord>& results);

// 0 only when every port completed; 2 when no port could be opened; 1 otherwise.
int FleetExitStatus(const std::vector<FleetPortRecord>& results);

// Runs the fleet as the command line asks and returns the exit status.
int RunFleet(const FleetCommandLine& commandLine);

// The facts of the file a run sends, as reports and journals name it: its name, absolute path,
// size and SHA-256 (unreadable: `readable` false). The header is the check's to fill in.
FleetFileFacts GatherFileFacts(const std::string& file);

}  // namespace tarnix
