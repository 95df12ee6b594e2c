#pragma once
// tarnix-fleet's command line:
// [--modnr 0xNN] [--mode 0|1] [--log-dir DIR] [--json FILE|-] [--events FILE|-] [--no-check]
// FILE PORT...

#include <string>
#include <vector>

#include "update_check.h"

// Exit status of tarnix-fleet (EXIT_PORT_NOT_OPENED when no port could be opened and
// EXIT_USAGE for a malformed command line: exit_status.h).
inline constexpr int EXIT_FLEET_ALL_COMPLETED = 0;
inline constexpr int EXIT_FLEET_NOT_ALL = 1;  // a port failed or was interrupted, or bad file

struct FleetCommandLine {
    std::string modNr = "0x89";  // passed to tarnix as it stands, once checked
    CheckMode mode = CheckMode::Records;
    std::string logDir;      // empty: a new folder under the current one
    std::string jsonFile;    // "-": standard output
    std::string eventsFile;  // "-": standard output
    bool check = true;
    bool help = false;
    bool version = false;
    std::string file;
    std::vector<std::string> ports;
};

// False, with *error set, for a malformed command line: an unknown option, an option with a
// value given twice, a module number that is not 0x and one or two hex digits, both --json
// and --events on standard output, a port that tarnix would not take as it stands, the same
// port twice, or no file or port.
bool ParseFleetCommandLine(int argc, const char* const* argv, FleetCommandLine* commandLine,
                           std::string* error);
