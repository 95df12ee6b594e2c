#pragma once

#include <string>
#include <vector>

#include "module_emulator.h"

// Runs one of our programs as the tests see it: as a separate process, with exact standard
// output and standard error, against the emulated module on a pseudo-terminal.
// scripts/test-windows runs the same tests against the Windows programs under Wine
// (wine_launch.h): BinaryPath names the .exe, "{port}" becomes COM1 and the output
// is given back with the line ends and the umlaut of the Linux programs.

struct ProgramLaunch {
    std::string program;            // path of the executable, see BinaryPath
    std::vector<std::string> args;  // "{port}" inside an argument becomes the module's port path
    std::string stdinText;          // given to the program, followed by end of input
    std::string workingDirectory;   // empty: the test's own
    int timeLimitSeconds = 60;      // the program is killed after this and the run says so
};

struct ProgramRun {
    std::string stdoutText;
    std::string stderrText;
    int exitCode = -1;      // -1 unless the program exited by itself
    int termSignal = 0;     // the signal that ended it, if one did
    bool timedOut = false;  // killed at the time limit
    std::string portPath;   // the module's port as the program names it (Wine: COM1)
    ModuleLog module;       // everything the module saw and answered
    std::string failure;    // set when the harness itself could not run the program
};

// Creates the module's pseudo-terminal, serves it on a thread while the program runs, and
// returns once the program has ended and the module has read every byte it was sent.
ProgramRun RunAgainstModule(const ProgramLaunch& launch, const ModuleConfig& config);

// Runs the program with no module at all ("{port}" stays as it is).
ProgramRun RunProgram(const ProgramLaunch& launch);

// Where the build puts our executables.
std::string BinaryPath(const std::string& name);

// A summary for failure messages: exit status, both outputs, the module's verdict.
std::string DescribeRun(const ProgramRun& run);
