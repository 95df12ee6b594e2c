#pragma once
// tarnix-check's command line: [--mode 0|1] [--latency MS] [--json] FILE...

#include <string>
#include <vector>

#include "update_check.h"

namespace tarnix {

// Exit status of tarnix-check (EXIT_USAGE, 64, for a malformed command line: exit_status.h).
inline constexpr int EXIT_CHECK_SOUND = 0;      // every file is sound
inline constexpr int EXIT_CHECK_NOT_SOUND = 1;  // at least one is not, or could not be read

struct CheckCommandLine {
    CheckOptions options;
    bool json = false;
    bool help = false;
    bool version = false;
    std::vector<std::string> files;
};

// Reads "0" or "1" as tarnix's ProgMode. False for anything else.
bool ParseModeArgument(const std::string& text, CheckMode* mode);

// Reads a time in milliseconds (reply latency, host time): a plain decimal number ("16",
// "0.1") from 0 to 10000.
bool ParseMillisecondsArgument(const std::string& text, double* milliseconds);

// False, with *error set, for a malformed command line (options.h: also an option with a
// value given twice). "--help" and "--version" need no file.
bool ParseCheckCommandLine(int argc, const char* const* argv, CheckCommandLine* commandLine,
                           std::string* error);

}  // namespace tarnix
