#pragma once

#include <string>

#include "module_config.h"

// The command line of tarnix-module, parsed into plain options; nothing is opened or started.

struct ModuleCliOptions {
    ModuleConfig config;
    std::string device;      // serve on this serial device instead of a new pseudo-terminal
    std::string imageOut;    // write the received image here at the end
    std::string expectFile;  // compare the received image with the records of this update file
    int count = 1;           // modules played at once, each on its own pseudo-terminal
    bool help = false;
    bool version = false;
};

// The text of --help.
extern const char MODULE_USAGE[];

// Fills *options from the arguments after the program name; false, with *error saying which
// argument is wrong and why, for an unknown option, a missing value or a malformed one.
bool ParseModuleCommandLine(int argc, char** argv, ModuleCliOptions* options, std::string* error);
