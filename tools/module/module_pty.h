#pragma once

#include <string>

#include "module_config.h"
#include "module_log.h"

namespace tarnix {

// The module's line: a pseudo-terminal pair or a serial device, and the loop that serves it.
// module_pty_linux.cpp implements it; a port to another POSIX system replaces that file.

struct ModulePty {
    int masterFd = -1;
    int slaveFd = -1;  // held until the program's first byte, so the master sees no hang-up early
    std::string slavePath;
};

// Creates a pseudo-terminal pair with close-on-exec descriptors, the slave in raw mode.
bool OpenModulePty(ModulePty* pty, std::string* error);
// Plays the module on a serial device instead (raw, 115200 baud, 8N2). No hang-up detection.
bool OpenModuleDevice(const std::string& path, ModulePty* pty, std::string* error);
void CloseModulePty(ModulePty* pty);

// Writes config.bytesBeforeStart to the line and records them in log->sent. Call it before the
// program can open the port: RunModule does not send them.
bool SendBytesBeforeStart(ModulePty* pty, const ModuleConfig& config, ModuleLog* log,
                          std::string* error);

// Serves until the program hangs up after its first byte, or stopFd becomes readable; in the
// latter case the bytes still waiting are read and parsed before it returns. Returns false only
// on an unexpected I/O error, described in *error.
bool RunModule(ModulePty* pty, const ModuleConfig& config, ModuleLog* log, int stopFd,
               std::string* error);

}  // namespace tarnix
