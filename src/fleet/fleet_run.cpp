#include "fleet_run.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>

#include "check_report.h"
#include "exit_status.h"
#include "fleet_process.h"
#include "json_text.h"
#include "outcome_line.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int POLL_MILLISECONDS = 100;

struct PortRun {
    PortResult result;
    FleetProcess process;
    Clock::time_point started;
    LogProgress progress;
    long logOffset = 0;  // of the log, read so far
    bool interruptPassed = false;
};

std::string Format(const char* format, auto... values) {
    char text[512];
    snprintf(text, sizeof text, format, values...);
    return text;
}

// A new folder under the current one, named after the time: tarnix-fleet-YYYYMMDD-HHMMSS.
bool MakeLogFolder(const FleetCommandLine& commandLine, std::string* folder, std::string* error) {
    if (!commandLine.logDir.empty()) {
        *folder = commandLine.logDir;
        return MakeFolder(*folder, true, error);
    }
    std::time_t now = std::time(nullptr);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", std::localtime(&now));
    std::string base = std::string("tarnix-fleet-") + stamp;
    *folder = base;
    for (int n = 2; FileExists(*folder); ++n) {
        *folder = base + "-" + std::to_string(n);
    }
    return MakeFolder(*folder, false, error);
}

// Reads what the log gained since `*offset` (C stdio: a read error while tarnix writes only
// ends this read).
std::string ReadLogFrom(const std::string& path, long* offset) {
    std::string text;
    FILE* log = fopen(path.c_str(), "rb");
    if (log == nullptr) {
        return text;
    }
    if (fseek(log, *offset, SEEK_SET) == 0) {
        char chunk[8192];
        size_t got = 0;
        while ((got = fread(chunk, 1, sizeof chunk, log)) > 0) {
            text.append(chunk, got);
        }
    }
    fclose(log);
    *offset += static_cast<long>(text.size());
    return text;
}

void FollowLog(PortRun* run) {
    ScanLogProgress(ReadLogFrom(run->result.log, &run->logOffset), &run->progress);
}

std::string ReadWholeFile(const std::string& path) {
    long offset = 0;
    return ReadLogFrom(path, &offset);
}

void Conclude(PortRun* run, int exitStatus) {
    PortResult& result = run->result;
    result.exitStatus = exitStatus;
    result.seconds = std::chrono::duration<double>(Clock::now() - run->started).count();
    result.outcome = OutcomeOfExit(exitStatus, run->interruptPassed);
    if (result.outcome != PortOutcome::Completed) {
        result.reason = FailureReason(ReadWholeFile(result.log), exitStatus);
    }
    FollowLog(run);
}

std::string StatusLine(const PortRun& run) {
    std::string percent =
        run.progress.percent < 0 ? std::string("   -") : Format("%4ld", run.progress.percent);
    std::string line = Format("%-24s %s %%  %s", run.result.port.c_str(), percent.c_str(),
                              OutcomeName(run.result.outcome));
    if (run.result.outcome != PortOutcome::Running) {
        line += Format(" (exit %d, %.1f s)", run.result.exitStatus, run.result.seconds);
    }
    return line;
}

// On a terminal: one line per port, redrawn in place.
void DrawLiveLines(const std::vector<PortRun>& runs, bool firstDraw) {
    if (!firstDraw) {
        printf("\033[%zuA", runs.size());
    }
    for (const PortRun& run : runs) {
        printf("\r\033[K%s\n", StatusLine(run).c_str());
    }
    fflush(stdout);
}

void StartAll(const FleetCommandLine& commandLine, const std::string& tarnix,
              const std::string& folder, std::vector<PortRun>* runs) {
    const char* mode = commandLine.mode == CheckMode::Lines ? "1" : "0";
    // tarnix's progress on its standard error, where it cannot disturb its console texts.
    SetInheritedVariable(PROGRESS_VARIABLE, PROGRESS_ON_STDERR);
    std::vector<std::string> logNames = PortLogNames(commandLine.ports);
    for (size_t i = 0; i < commandLine.ports.size(); ++i) {
        const std::string& port = commandLine.ports[i];
        PortRun& run = runs->emplace_back();
        run.result.port = port;
        run.result.log = folder + "/" + logNames[i];
        run.started = Clock::now();
        std::string error;
        if (!StartLoggedProcess(tarnix, {commandLine.modNr, commandLine.file, mode, port},
                                run.result.log, &run.process, &error)) {
            run.result.outcome = PortOutcome::Failed;
            run.result.reason = error;
        }
    }
}

// Passes each new stop signal on to every tarnix still running.
void PassInterrupts(std::vector<PortRun>* runs, int* signalsPassed) {
    while (*signalsPassed < StopSignalCount()) {
        ++*signalsPassed;
        for (PortRun& run : *runs) {
            if (run.result.outcome == PortOutcome::Running) {
                InterruptProcess(run.process, LastStopSignal());
                run.interruptPassed = true;
            }
        }
    }
}

void FollowAll(std::vector<PortRun>* runs) {
    bool live = OutputIsTerminal();
    if (live) {
        DrawLiveLines(*runs, true);
    }
    int signalsPassed = 0;
    for (;;) {
        PassInterrupts(runs, &signalsPassed);
        bool anyRunning = false;
        for (PortRun& run : *runs) {
            if (run.result.outcome != PortOutcome::Running) {
                continue;
            }
            int exitStatus = 0;
            if (ProcessEnded(&run.process, &exitStatus)) {
                Conclude(&run, exitStatus);
                if (!live) {
                    printf("%s\n", StatusLine(run).c_str());
                    fflush(stdout);
                }
            } else {
                anyRunning = true;
                if (live) {
                    FollowLog(&run);
                }
            }
        }
        if (live) {
            DrawLiveLines(*runs, false);
        }
        if (!anyRunning) {
            return;
        }
        PauseMilliseconds(POLL_MILLISECONDS);
    }
}

bool WriteTextFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    return static_cast<bool>(out.flush());
}

std::string OutcomeText(const PortResult& result) {
    std::string text = OutcomeName(result.outcome);
    return result.reason.empty() || result.outcome == PortOutcome::Interrupted
               ? text
               : text + ": " + result.reason;
}

}  // namespace

std::string DescribeFleetTable(const std::vector<PortResult>& results) {
    size_t portWidth = 4;
    size_t outcomeWidth = 7;
    for (const PortResult& result : results) {
        portWidth = std::max(portWidth, result.port.size());
        outcomeWidth = std::max(outcomeWidth, OutcomeText(result).size());
    }
    int pw = static_cast<int>(portWidth);
    int ow = static_cast<int>(outcomeWidth);
    std::string table =
        Format("%-*s  %-*s  %4s  %8s  %s\n", pw, "PORT", ow, "OUTCOME", "EXIT", "SECONDS", "LOG");
    for (const PortResult& result : results) {
        table += Format("%-*s  %-*s  %4d  %8.1f  %s\n", pw, result.port.c_str(), ow,
                        OutcomeText(result).c_str(), result.exitStatus, result.seconds,
                        result.log.c_str());
    }
    return table;
}

std::string FleetReportJson(const std::string& file, const std::vector<PortResult>& results) {
    // Built by appends: GCC 12 sees a false overlap in "{" + a temporary string (-Wrestrict).
    std::string json = "{";
    json += JsonStringMember("file", file) + ", \"ports\": [";
    for (size_t i = 0; i < results.size(); ++i) {
        const PortResult& result = results[i];
        json += (i > 0 ? ",\n  " : "\n  ");
        json += "{";
        json += JsonStringMember("port", result.port) + ", \"outcome\": \"" +
                OutcomeName(result.outcome) + "\"";
        json +=
            Format(", \"exit_status\": %d, \"seconds\": %.3f", result.exitStatus, result.seconds);
        json += ", " + JsonStringMember("log", result.log) + ", " +
                JsonStringMember("reason", result.reason) + "}";
    }
    return json + "\n]}\n";
}

int FleetExitStatus(const std::vector<PortResult>& results) {
    bool allCompleted = true;
    bool noneOpened = !results.empty();
    for (const PortResult& result : results) {
        allCompleted = allCompleted && result.outcome == PortOutcome::Completed;
        noneOpened = noneOpened && result.outcome == PortOutcome::NotOpened;
    }
    if (allCompleted) {
        return EXIT_FLEET_ALL_COMPLETED;
    }
    return noneOpened ? EXIT_PORT_NOT_OPENED : EXIT_FLEET_NOT_ALL;
}

int RunFleet(const FleetCommandLine& commandLine) {
    if (commandLine.check) {
        FileCheck check = CheckUpdateFile(commandLine.file, {.mode = commandLine.mode});
        if (!check.Sound()) {
            fputs(DescribeFileCheck(check, {.mode = commandLine.mode}).c_str(), stderr);
            fprintf(stderr, "tarnix-fleet: %s is not sound; no port was touched\n",
                    commandLine.file.c_str());
            return EXIT_FLEET_NOT_ALL;
        }
    }
    std::string tarnix = OwnExecutableDirectory() + "/" + ExecutableFileName("tarnix");
    std::string folder;
    std::string error;
    if (!FileExists(tarnix)) {
        fprintf(stderr, "tarnix-fleet: %s not found beside tarnix-fleet\n", tarnix.c_str());
        return EXIT_FLEET_NOT_ALL;
    }
    if (!MakeLogFolder(commandLine, &folder, &error)) {
        fprintf(stderr, "tarnix-fleet: %s\n", error.c_str());
        return EXIT_FLEET_NOT_ALL;
    }
    CatchStopSignals();
    std::vector<PortRun> runs;
    runs.reserve(commandLine.ports.size());
    StartAll(commandLine, tarnix, folder, &runs);
    FollowAll(&runs);
    std::vector<PortResult> results;
    for (const PortRun& run : runs) {
        results.push_back(run.result);
    }
    printf("\n%s", DescribeFleetTable(results).c_str());
    if (!commandLine.jsonFile.empty() &&
        !WriteTextFile(commandLine.jsonFile, FleetReportJson(commandLine.file, results))) {
        fprintf(stderr, "tarnix-fleet: cannot write %s\n", commandLine.jsonFile.c_str());
        return EXIT_FLEET_NOT_ALL;
    }
    return FleetExitStatus(results);
}
