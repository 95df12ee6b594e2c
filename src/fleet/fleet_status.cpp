#include "fleet_status.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <set>

#include "exit_status.h"
#include "outcome_line.h"
#include "sha256.h"

namespace tarnix {

namespace {

bool IsWindowsDeviceName(std::string stem) {
    for (char& c : stem) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    for (const char* device : {"CON", "PRN", "AUX", "NUL"}) {
        if (stem == device) {
            return true;
        }
    }
    return stem.size() == 4 && (stem.rfind("COM", 0) == 0 || stem.rfind("LPT", 0) == 0) &&
           stem[3] >= '0' && stem[3] <= '9';
}

// File names end at 255 bytes on the usual file systems, and the log name may still get a
// "-N" and ".log"; a device path of 249 characters would not start at all.
constexpr size_t MAX_LOG_STEM = 96;
constexpr size_t KEPT_HEAD = 32;  // "dev_serial_by-id_usb-FTDI_..."
constexpr size_t KEPT_TAIL = 40;  // "..._A1B2C3-if00-port0", where ports of one kind differ
constexpr size_t HASH_DIGITS = 12;

// A stem that is too long keeps its beginning and its end, readable, and gets a hash of the
// whole port name, so that two long names that differ only in the middle stay two logs.
std::string BoundedStem(const std::string& stem, const std::string& port) {
    if (stem.size() <= MAX_LOG_STEM) {
        return stem;
    }
    return stem.substr(0, KEPT_HEAD) + "~" + stem.substr(stem.size() - KEPT_TAIL) + "-" +
           Sha256Hex(port).substr(0, HASH_DIGITS);
}

}  // namespace

std::string PortLogName(const std::string& port) {
    bool isComNumber = !port.empty() && port.find_first_not_of("0123456789") == std::string::npos;
    std::string name = isComNumber ? "COM" + port : port;
    size_t first = name.find_first_not_of('/');
    name = first == std::string::npos ? "port" : name.substr(first);
    for (char& c : name) {
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '.') {
            c = '_';
        }
    }
    // Windows takes COM1.log, NUL.txt and the like for its devices, whatever the extension.
    size_t stemEnd = std::min(name.find('.'), name.size());
    if (IsWindowsDeviceName(name.substr(0, stemEnd))) {
        // Built by appends: GCC 12 sees a false overlap in insert() at -O2 (-Wrestrict).
        std::string renamed = name.substr(0, stemEnd);
        renamed.push_back('_');
        renamed.append(name, stemEnd, std::string::npos);
        name = renamed;
    }
    return BoundedStem(name, port) + ".log";
}

namespace {

// Log names that a file system folding letter case would take for one file.
std::string CaseFolded(std::string name) {
    for (char& c : name) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return name;
}

// "dev_ttyUSB0.log" numbered 2 is "dev_ttyUSB0-2.log".
std::string NumberedLogName(const std::string& logName, int number) {
    std::string stem = logName.substr(0, logName.size() - std::string(".log").size());
    return stem + "-" + std::to_string(number) + ".log";
}

// The lowest numbered form of `logName` that is not in `taken` (case folded).
std::string FreeNumberedLogName(const std::string& logName, const std::set<std::string>& taken) {
    for (int number = 2;; ++number) {
        std::string candidate = NumberedLogName(logName, number);
        if (taken.count(CaseFolded(candidate)) == 0) {
            return candidate;
        }
    }
}

}  // namespace

std::vector<std::string> PortLogNames(const std::vector<std::string>& ports) {
    std::vector<std::string> names;
    // Every port's own name is reserved first, so that a numbered name never takes one.
    std::set<std::string> taken;
    for (const std::string& port : ports) {
        names.push_back(PortLogName(port));
        taken.insert(CaseFolded(names.back()));
    }
    std::set<std::string> given;
    for (std::string& name : names) {
        if (given.insert(CaseFolded(name)).second) {
            continue;  // the first port with this name keeps it
        }
        name = FreeNumberedLogName(name, taken);
        taken.insert(CaseFolded(name));
    }
    return names;
}

// Only the progress lines that the log holds whole count; the carry keeps the end of a chunk,
// where one may be cut in two.
void ScanLogProgress(const std::string& chunk, LogProgress* progress) {
    std::string text = progress->carry + chunk;
    long figure = LastProgressFigure(text);
    if (figure >= 0) {
        progress->percent = figure;
    }
    size_t lineStart = text.rfind('\n');
    progress->carry = lineStart == std::string::npos ? text : text.substr(lineStart + 1);
}

const char* OutcomeName(PortOutcome outcome) {
    switch (outcome) {
        case PortOutcome::Running:
            return "running";
        case PortOutcome::Completed:
            return "completed";
        case PortOutcome::Failed:
            return "failed";
        case PortOutcome::NotOpened:
            return "not-opened";
        case PortOutcome::Interrupted:
            return "interrupted";
    }
    return "failed";
}

PortOutcome OutcomeOfExit(int exitStatus, bool interruptPassed) {
    if (exitStatus == 0) {
        return PortOutcome::Completed;
    }
    if (exitStatus == EXIT_PORT_NOT_OPENED) {
        return PortOutcome::NotOpened;
    }
    if (interruptPassed || exitStatus > EXIT_SIGNAL_BASE) {
        return PortOutcome::Interrupted;
    }
    return PortOutcome::Failed;
}

std::string FailureReason(const std::string& log, int exitStatus) {
    std::string outcome;
    if (LastOutcome(log, &outcome)) {
        // "failed: why" and "not done: why" give the why; the fleet names the outcome itself.
        size_t colon = outcome.find(": ");
        return colon == std::string::npos ? outcome : outcome.substr(colon + 2);
    }
    return "exit status " + std::to_string(exitStatus);
}

double EstimatedSecondsLeft(double elapsedSeconds, long percent, double estimateSeconds) {
    if (percent <= 0) {
        return estimateSeconds;
    }
    if (percent >= 100) {
        return 0;
    }
    return elapsedSeconds * static_cast<double>(100 - percent) / static_cast<double>(percent);
}

}  // namespace tarnix
