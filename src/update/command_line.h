#pragma once
// The command line of the update program: [ModNr] [filename] [ProgMode] [ComNr].

#include <cstdint>
#include <string>

#include "framing.h"
#include "port_choice.h"

inline constexpr uint8_t PROG_MODE_RECORDS = 0;
inline constexpr uint8_t PROG_MODE_LINES = 1;

struct RunSettings {
    uint8_t modNr = DEFAULT_MOD_NR;
    std::string fileName;  // any length; empty when no file was chosen
    uint8_t progMode = PROG_MODE_RECORDS;
    PortChoice port;          // COM1 unless the fourth argument names another
    bool askForFile = false;  // fewer than two arguments: the file comes from the dialog
};

// Evaluates the arguments (argv[0] is the program). Prints the messages for a malformed
// ModNr and an invalid COM number, and the usage text when the file is to be asked for.
// A port argument containing '/' is a device path where `devicePathsAllowed`.
RunSettings ParseArguments(int argc, const char* const* argv, bool devicePathsAllowed);

// "--version", "--help", "-h" and "/?" are answered only when they are the one argument; in
// any other place they are ordinary arguments (a first argument "--help" among others is a
// malformed ModNr, as before).
enum class InfoRequest { None, Version, Help };
InfoRequest FindInfoRequest(int argc, const char* const* argv);

// The answers on standard output: "tarnix <version> (<platform>)", or the usage and default
// lines followed by what each argument means, the platform's port rules and the exit statuses.
void PrintVersion();
void PrintHelp(bool devicePathsAllowed);

// "0x" followed by one or two hex digits; further characters are ignored.
bool ParseModNr(const char* text, uint8_t* modNr);
