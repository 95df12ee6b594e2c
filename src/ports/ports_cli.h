#pragma once
// tarnix-ports' command line: [--json] [--help] [--version], nothing else.

#include <string>

namespace tarnix {

struct PortsCommandLine {
    bool json = false;
    bool help = false;
    bool version = false;
};

// False, with *error set, for anything but the options above.
bool ParsePortsCommandLine(int argc, const char* const* argv, PortsCommandLine* commandLine,
                           std::string* error);

}  // namespace tarnix
