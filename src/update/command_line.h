#pragma once
// The command line of the update program: [ModNr] [filename] [ProgMode] [ComNr].

#include <cstdint>
#include <string>
#include <vector>

#include "framing.h"
#include "port_choice.h"

namespace tarnix {

inline constexpr uint8_t PROG_MODE_RECORDS = 0;
inline constexpr uint8_t PROG_MODE_LINES = 1;

struct RunSettings {
    uint8_t modNr = DEFAULT_MOD_NR;
    std::string fileName;  // any length; empty when no file was chosen
    uint8_t progMode = PROG_MODE_RECORDS;
    PortChoice port;          // COM1 unless the fourth argument names another
    bool askForFile = false;  // fewer than two arguments: the file comes from the dialog
    // Why the command line is refused, one line each for standard error; empty when it is
    // understood. A refused command line opens no port and sends nothing.
    std::vector<std::string> refusals;
};

// Evaluates the arguments (argv[0] is the program). An absent argument takes its default; a
// present one that is not understood is refused, never replaced by a default: an option other
// than the answered ones, a malformed ModNr, an empty filename, a ProgMode whose first
// character is not 0 or 1, a port that the port rule does not take, and any fifth argument. Prints
// the messages for a malformed ModNr and an invalid COM number, and the usage text when the file is
// to be asked for.
RunSettings ParseArguments(int argc, const char* const* argv, PortForms portForms);

// "--version", "--help", "-h" and "/?" are answered only when they are the one argument; in
// any other place, and any other argument that begins with '-', they are refused.
enum class InfoRequest { None, Version, Help };
InfoRequest FindInfoRequest(int argc, const char* const* argv);

// The answers on standard output: "tarnix <version> (<platform>)", or the usage and default
// lines followed by what each argument means, the platform's port rules and the exit statuses.
void PrintVersion();
void PrintHelp(PortForms portForms);

// Exactly "0x" followed by one or two hex digits.
bool ParseModNr(const char* text, uint8_t* modNr);

}  // namespace tarnix
