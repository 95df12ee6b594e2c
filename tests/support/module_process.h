#pragma once
// Emulated modules as processes of their own (tarnix-module), for the tests in which another
// program than the test opens the module's port: tarnix-fleet, a network server.

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace tarnix {

struct Spawned {
    pid_t pid = -1;
    int stdoutPipe = -1;  // read end of its standard output
};

// Starts `argv` with standard output into a pipe, standard error into errFile, standard input
// on /dev/null.
Spawned Spawn(const std::vector<std::string>& argv, const std::string& errFile);

// Waits for the process to end, at most `limit`; kills it after that. Its exit status, or -1.
int WaitFor(pid_t pid, std::chrono::seconds limit);

std::string ReadAll(int fd);

// One emulated module: a tarnix-module process.
struct ModuleProcess {
    Spawned process;
    std::string port;
    std::string verdict;  // everything it printed after "Module ready on"
    int exitStatus = -1;
};

// Starts tarnix-module with `args` (its standard error in a file in `dir`) and reads its
// "Module ready on" line.
ModuleProcess StartModule(const std::string& dir, std::vector<std::string> args);

// Reads the module's verdict once the port has closed (or after SIGTERM when `stop`).
void FinishModule(ModuleProcess* module, bool stop = false);

}  // namespace tarnix
