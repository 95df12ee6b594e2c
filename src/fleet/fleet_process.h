#pragma once
// What tarnix-fleet needs of the operating system: start a tarnix with its output in a log,
// see whether it has ended, pass an interrupt on to it, and notice its own interrupts. One file
// per platform implements it (fleet_process_posix.cpp).

#include <string>
#include <vector>

namespace tarnix {

struct FleetProcess {
    long long id = -1;  // the process id (POSIX) or process handle (Win32); -1 when none
};

// Starts `program` with `args`, standard input on the null device and standard output and
// error together into the new file `logPath`. The process gets no terminal signals of its own:
// only what InterruptProcess passes on. False, with *error set and nothing started, on failure.
bool StartLoggedProcess(const std::string& program, const std::vector<std::string>& args,
                        const std::string& logPath, FleetProcess* process, std::string* error);

// Sets a variable of this process's environment, which every process started later inherits.
void SetInheritedVariable(const char* name, const char* value);

// True once the process has ended; *exitStatus is then its exit status, or 128 + n when signal
// n ended it. Does not wait.
bool ProcessEnded(FleetProcess* process, int* exitStatus);

// Passes an interrupt (the signal as received) on to a running process.
void InterruptProcess(const FleetProcess& process, int signalNumber);

// From now on the stop signals (POSIX: SIGINT, SIGTERM, SIGHUP unless started ignored, as by
// nohup, and SIGQUIT; Windows: Ctrl-C, Ctrl-Break, closing the console) are counted instead of
// ending the program, and a standard output without a reader no longer ends it.
void CatchStopSignals();
// How many stop signals arrived so far, and the last of them.
int StopSignalCount();
int LastStopSignal();

// The folder of the running executable, and an executable's file name on this platform.
std::string OwnExecutableDirectory();
std::string ExecutableFileName(const std::string& baseName);

bool OutputIsTerminal();
void PauseMilliseconds(int milliseconds);
bool FileExists(const std::string& path);
// Creates one folder; true also when it exists already and `mayExist`.
bool MakeFolder(const std::string& path, bool mayExist, std::string* error);

// Who ran the fleet, for its report: this computer's name and the user's login name; empty
// when the system cannot tell.
std::string HostName();
std::string UserName();

// The addresses a host name or numeric address stands for, each as numeric text in one form
// ("::1" for "0:0:0:0:0:0:0:1"), without repeats; empty when it cannot be resolved.
std::vector<std::string> HostAddresses(const std::string& host);

}  // namespace tarnix
