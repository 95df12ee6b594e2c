#pragma once
// tarnix-fleet's command line:
// [--modnr 0xNN] [--mode 0|1] [--log-dir DIR] [--json FILE|-] [--events FILE|-] [--no-check]
// FILE PORT...
// and the options that tarnix-station shares with it (UnitOptions).

#include <string>
#include <vector>

#include "update_check.h"

namespace tarnix {

// Exit status of tarnix-fleet (EXIT_PORT_NOT_OPENED when no port could be opened and
// EXIT_USAGE for a malformed command line: exit_status.h).
inline constexpr int EXIT_FLEET_ALL_COMPLETED = 0;
inline constexpr int EXIT_FLEET_NOT_ALL = 1;  // a port failed or was interrupted, or bad file

// What tarnix-fleet and tarnix-station both take, by the same options and with the same
// refusals: what each tarnix they start is given, where its output goes, whether the file is
// checked first, and help and version.
struct UnitOptions {
    std::string modNr = "0x89";           // --modnr, passed to tarnix as it stands, once checked
    CheckMode mode = CheckMode::Records;  // --mode
    std::string logDir;                   // --log-dir
    bool check = true;                    // false: --no-check
    bool help = false;
    bool version = false;
};

// Applies one of --help, --version, --no-check, --modnr, --mode and --log-dir. False, with
// *error set, for a bad value: a module number that is not 0x and one or two hex digits, a mode
// other than 0 or 1, an empty folder.
bool ApplyUnitOption(const std::string& name, const std::string& value, UnitOptions* options,
                     std::string* error);

// Sets *error to the refusal of `value` for the option `name`; returns false.
bool RefuseValue(const std::string& name, const std::string& value, std::string* error);

struct FleetCommandLine : UnitOptions {  // logDir empty: a new folder under the current one
    std::string jsonFile;                // "-": standard output
    std::string eventsFile;              // "-": standard output
    std::string file;
    std::vector<std::string> ports;
};

// False, with *error set, for a malformed command line: an unknown option, an option with a
// value given twice, a module number that is not 0x and one or two hex digits, both --json
// and --events on standard output, a port that tarnix would not take as it stands, the same
// port twice, or no file or port.
bool ParseFleetCommandLine(int argc, const char* const* argv, FleetCommandLine* commandLine,
                           std::string* error);

}  // namespace tarnix
