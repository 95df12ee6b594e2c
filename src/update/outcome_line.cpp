#include "outcome_line.h"

#include <cstdlib>
#include <cstring>

namespace {

const std::string PROGRAM_PREFIX = "tarnix: ";
const std::string PROGRESS_PREFIX = PROGRAM_PREFIX + "progress ";

// The line that begins at `at`, without its line end; empty when it has no line end yet.
std::string WholeLineAt(const std::string& text, size_t at) {
    size_t end = text.find('\n', at);
    return end == std::string::npos ? std::string() : text.substr(at, end - at);
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

bool LastOutcome(const std::string& text, std::string* outcome) {
    for (size_t at = text.rfind(PROGRAM_PREFIX); at != std::string::npos;
         at = at == 0 ? std::string::npos : text.rfind(PROGRAM_PREFIX, at - 1)) {
        std::string line = WholeLineAt(text, at + PROGRAM_PREFIX.size());
        size_t module = line.find(OUTCOME_MODULE_SEPARATOR);
        if (module != std::string::npos && line.rfind("progress ", 0) != 0) {
            *outcome = line.substr(0, module);
            return true;
        }
    }
    return false;
}
