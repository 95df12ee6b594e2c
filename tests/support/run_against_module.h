#pragma once

#include <functional>
#include <string>
#include <vector>

#include "module_config.h"
#include "module_log.h"
// The tests that run against the module judge its record with the verdict functions.
#include "module_verdict.h"

namespace tarnix {

// Runs one of our programs as the tests see it: as a separate process, with exact standard
// output and standard error, against the emulated module on a pseudo-terminal.
// scripts/test-windows runs the same tests against the Windows programs under Wine
// (wine_launch.h): BinaryPath names the .exe, "{port}" becomes COM1 and the output
// is given back with the line ends and the umlaut of the Linux programs.

// A signal for the program once its standard output holds `afterStdout` at least
// `occurrences` times (at once when empty), and `delayMs` after that. Each signal of a launch
// waits for the one before it to have been sent.
struct SignalAt {
    int signal = 0;
    std::string afterStdout;
    unsigned occurrences = 1;
    int delayMs = 0;
};

enum class StdoutMode {
    Captured,    // a pipe that the harness reads
    Closed,      // descriptor 1 closed when the program starts (">&-")
    BrokenPipe,  // a pipe whose reader has gone before the program writes
};

struct ProgramLaunch {
    std::string program;            // path of the executable, see BinaryPath
    std::vector<std::string> args;  // "{port}" inside an argument becomes the module's port path
    std::string stdinText;          // given to the program, followed by end of input
    bool stdinKeptOpen = false;     // with no stdinText: input stays open and silent (ssh, CI)
    std::string workingDirectory;   // empty: the test's own
    int timeLimitSeconds = 60;      // the program is killed after this and the run says so
    std::vector<SignalAt> signals;  // sent in order while the program runs
    StdoutMode stdoutMode = StdoutMode::Captured;
    // Called once, when the module has answered with its Nth reply byte (N = hookAfterReplies,
    // from 1) and before that byte reaches the program, which waits for it meanwhile: a point
    // in the run as exact as the replies (e.g. to change the update file under the program).
    // The line then passes through a relay in the harness. 0: no hook.
    unsigned hookAfterReplies = 0;
    std::function<void()> hook;
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

// Runs the program with "{port}" replaced by `portPath`, whose other side the caller plays.
ProgramRun RunOnPort(const ProgramLaunch& launch, const std::string& portPath);

// Where the build puts our executables.
std::string BinaryPath(const std::string& name);

// A summary for failure messages: exit status, both outputs, the module's verdict.
std::string DescribeRun(const ProgramRun& run);

}  // namespace tarnix
