#include "outcome_line.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace tarnix {

namespace {

const std::string PROGRAM_PREFIX = "tarnix: ";
const std::string PROGRESS_PREFIX = PROGRAM_PREFIX + "progress ";

// The line that begins at `at`, without its line end (LF, or CR LF as a Windows program's
// text-mode standard error writes it); empty when it has no line end yet.
std::string WholeLineAt(const std::string& text, size_t at) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) {
        return std::string();
    }
    if (end > at && text[end - 1] == '\r') {
        --end;
    }
    return text.substr(at, end - at);
}

}  // namespace

bool ProgressLinesRequested() {
    const char* value = std::getenv(PROGRESS_VARIABLE);
    return value != nullptr && std::strcmp(value, PROGRESS_ON_STDERR) == 0;
}

std::string ProgressLineText(long percent) {
    return PROGRESS_PREFIX + std::to_string(percent) + " %\n";
}

// Standard error and standard output may share one file: a progress line can follow the
// console's progress text on the same line, so it is looked for anywhere.
long LastProgressFigure(const std::string& text) {
    for (size_t at = text.rfind(PROGRESS_PREFIX); at != std::string::npos;
         at = at == 0 ? std::string::npos : text.rfind(PROGRESS_PREFIX, at - 1)) {
        std::string line = WholeLineAt(text, at + PROGRESS_PREFIX.size());
        if (line.size() > 2 && line.compare(line.size() - 2, 2, " %") == 0) {
            return std::strtol(line.c_str(), nullptr, 10);
        }
    }
    return -1;
}

namespace {

// The last outcome line (without "tarnix: "), which progress lines are not; false for none.
bool LastOutcomeLine(const std::string& text, std::string* line) {
    for (size_t at = text.rfind(PROGRAM_PREFIX); at != std::string::npos;
         at = at == 0 ? std::string::npos : text.rfind(PROGRAM_PREFIX, at - 1)) {
        *line = WholeLineAt(text, at + PROGRAM_PREFIX.size());
        if (line->find(OUTCOME_MODULE_SEPARATOR) != std::string::npos &&
            line->rfind("progress ", 0) != 0) {
            return true;
        }
    }
    return false;
}

// The figures if `part` begins with them ("12 commands, 345 data bytes, 6.7 s...").
bool ReadFigures(const std::string& part, OutcomeFigures* figures) {
    int used = 0;
    if (std::sscanf(part.c_str(), "%lu commands, %lu data bytes, %lf s%n", &figures->commands,
                    &figures->dataBytes, &figures->seconds, &used) != 3 ||
        used == 0) {
        return false;
    }
    figures->hasMeanReply =
        std::sscanf(part.c_str() + used, ", mean reply %lf ms", &figures->meanReplyMs) == 1;
    return true;
}

}  // namespace

bool LastOutcome(const std::string& text, std::string* outcome) {
    std::string line;
    if (!LastOutcomeLine(text, &line)) {
        return false;
    }
    *outcome = line.substr(0, line.find(OUTCOME_MODULE_SEPARATOR));
    return true;
}

// The port may hold "; " itself: the figures are the first "; " part after the module that
// reads as figures.
OutcomeFigures LastOutcomeFigures(const std::string& text) {
    OutcomeFigures figures;
    std::string line;
    if (!LastOutcomeLine(text, &line)) {
        return figures;
    }
    for (size_t at = line.find("; ", line.find(OUTCOME_MODULE_SEPARATOR)); at != std::string::npos;
         at = line.find("; ", at + 2)) {
        OutcomeFigures candidate;
        if (ReadFigures(line.substr(at + 2), &candidate)) {
            candidate.found = true;
            return candidate;
        }
    }
    return figures;
}

}  // namespace tarnix
