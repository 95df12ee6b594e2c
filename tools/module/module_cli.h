#pragma once

#include <string>
#include <vector>

#include "module_config.h"
#include "port_choice.h"

namespace tarnix {

// The command line of tarnix-module, parsed into plain options; nothing is opened or started.

struct ModuleCliOptions {
    ModuleConfig config;
    std::string device;      // serve on this serial device instead of a new pseudo-terminal
    PortChoice devicePort;   // --device read by tarnix's port rule: never a network port
    std::string imageOut;    // write the received image here at the end
    std::string expectFile;  // compare the received image with the records of this update file
    int count = 1;           // modules played at once, each on its own pseudo-terminal
    bool help = false;
    bool version = false;
};

// The text of --help.
extern const char MODULE_USAGE[];

// Fills *options from the arguments after the program name; false, with *error saying which
// argument is wrong and why, for an unknown option, a missing value or a malformed one. The
// value of --device is read as tarnix reads its port ("3", "COM3", "ttyUSB0", a path,
// "usb:SERIAL[:N]"), so that the emulator and tarnix agree on what a name means; a network
// port is refused, since the module is played on a line of this machine.
bool ParseModuleCommandLine(int argc, char** argv, ModuleCliOptions* options, std::string* error);

// The device that the module is played on for a --device port: COMn's device, the path, or the
// device of the one adapter among `ports` that usb:SERIAL[:N] names. "" with *error saying why
// when the usb: form names no port or several.
std::string ModuleDevicePath(const PortChoice& port, const std::vector<SerialPortInfo>& ports,
                             std::string* error);

}  // namespace tarnix
