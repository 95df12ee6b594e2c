#pragma once
// What tarnix says on standard error for the programs that run it (tarnix-fleet), in one place
// for the writer and the readers: the outcome line that ends every run,
//   "tarnix: <outcome>: module 0x89 on <port>; <figures>"
// and, when its environment holds TARNIX_PROGRESS=stderr, a progress line each time the shown
// percentage changes, "tarnix: progress <n> %". Standard output stays exactly as it is.

#include <string>

namespace tarnix {

inline constexpr const char* PROGRESS_VARIABLE = "TARNIX_PROGRESS";
inline constexpr const char* PROGRESS_ON_STDERR = "stderr";

// What stands between the outcome and the module in the outcome line.
inline constexpr const char* OUTCOME_MODULE_SEPARATOR = ": module ";

// True when the environment asks for progress lines.
bool ProgressLinesRequested();

// "tarnix: progress 42 %\n".
std::string ProgressLineText(long percent);

// The figure of the last progress line that `text` holds whole; -1 when there is none.
long LastProgressFigure(const std::string& text);

// The outcome ("completed", "failed: the Data command for line 5 was rejected with 0x15", ...)
// of the last outcome line that `text` holds; false when it holds none.
bool LastOutcome(const std::string& text, std::string* outcome);

// The figures of an outcome line: "; 12 commands, 345 data bytes, 6.7 s, mean reply 1.2 ms"
// (the mean reply only when a reply came).
struct OutcomeFigures {
    bool found = false;  // the last outcome line carries them
    unsigned long commands = 0;
    unsigned long dataBytes = 0;
    double seconds = 0;
    bool hasMeanReply = false;
    double meanReplyMs = 0;
};

// The figures of the last outcome line that `text` holds; found is false when it holds none
// or that line has no figures.
OutcomeFigures LastOutcomeFigures(const std::string& text);

}  // namespace tarnix
