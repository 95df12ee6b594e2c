#pragma once
// The lines on standard error that end a run of tarnix and of tarnix-service: what standard
// output cannot say without changing its texts. Each line begins with the program's name, and
// standard output is flushed first so that the lines follow what it printed.

#include <string>

namespace tarnix {

// What each program calls the parts of its run in these lines.
struct RunWords {
    const char* program;       // "tarnix"
    const char* strayBytesAt;  // where stray bytes were discarded: "before commands"
    const char* strayMeans;    // what they mean: "more than one reply"
    const char* hangUpEffect;  // after the hang-up line ("; update stopped"), or ""
    const char* released;      // what an interrupt left behind: "module released"
};

// The stray bytes discarded before commands (none: no line), and the port's hang-up.
void ReportRunFacts(const RunWords& words, unsigned long discarded, bool hungUp);

// "<program>: interrupted by <name>; <released>", or without the release when nothing was
// opened.
void ReportInterrupt(const RunWords& words, const char* interruptName, bool portWasOpened);

// "<program>: <outcome>": the last line of every run.
void ReportOutcomeLine(const RunWords& words, const std::string& outcome);

}  // namespace tarnix
