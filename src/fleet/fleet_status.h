#pragma once
// What tarnix-fleet reads from each tarnix: its progress and outcome lines in its log, and the
// outcome its exit status stands for. Pure functions, no processes.

#include <string>
#include <vector>

namespace tarnix {

// The log file's name for a port: the port made safe as a file name ("/dev/ttyUSB0" gives
// "dev_ttyUSB0.log", "3" gives "COM3_.log": Windows reserves COM3.log for the port itself).
// A name longer than 96 characters before ".log" keeps its first 32 and last 40 characters
// with a hash of the port between, so that every port's log name fits a file system's limit.
std::string PortLogName(const std::string& port);

// The log file names of a run's ports, in their order: PortLogName of each, made unique. Two
// ports whose names differ only in what PortLogName replaces ("/tmp/x_y" and "/tmp/x/y"), or
// only in letter case (one file on Windows), would share one log: the first keeps the name, a
// later one gets "-2", "-3"... before ".log", the lowest number that no other port's log uses.
// A port whose name collides with none keeps PortLogName's.
std::vector<std::string> PortLogNames(const std::vector<std::string>& ports);

// Follows tarnix's progress lines (outcome_line.h) through a log read in chunks. `percent` is
// -1 until the first one.
struct LogProgress {
    long percent = -1;
    std::string carry;  // the end of the last chunk, where a progress line may be cut in two
};
void ScanLogProgress(const std::string& chunk, LogProgress* progress);

enum class PortOutcome { Running, Completed, Failed, NotOpened, Interrupted };

// "completed", "failed", "not-opened", "interrupted" (and "running").
const char* OutcomeName(PortOutcome outcome);

// The outcome of a tarnix that ended with `exitStatus`; `interruptPassed` when the fleet passed
// an interrupt on to it.
PortOutcome OutcomeOfExit(int exitStatus, bool interruptPassed);

// Why a run did not complete, from tarnix's outcome line in its log ("the Data command for
// line 5 was rejected with 0x15"), or the exit status when there is none.
std::string FailureReason(const std::string& log, int exitStatus);

// The time a port still needs, in seconds: once it shows progress, what it took so far scaled
// by what is left (elapsed * (100 - p) / p); before, tarnix-check's estimate for the file.
double EstimatedSecondsLeft(double elapsedSeconds, long percent, double estimateSeconds);

}  // namespace tarnix
