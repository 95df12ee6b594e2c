#include "ports_cli.h"

namespace tarnix {

bool ParsePortsCommandLine(int argc, const char* const* argv, PortsCommandLine* commandLine,
                           std::string* error) {
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--json") {
            commandLine->json = true;
        } else if (arg == "--help" || arg == "-h") {
            commandLine->help = true;
        } else if (arg == "--version") {
            commandLine->version = true;
        } else {
            *error = arg.rfind('-', 0) == 0 ? "unknown option '" + arg + "'"
                                            : "unexpected argument '" + arg + "'";
            return false;
        }
    }
    return true;
}

}  // namespace tarnix
