#include "fleet_run.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>

#include "check_report.h"
#include "exit_status.h"
#include "file_read.h"
#include "fleet_process.h"
#include "fleet_report.h"
#include "json_text.h"
#include "outcome_line.h"
#include "port_choice.h"
#include "sha256.h"
#include "tarnix_version.h"

namespace tarnix {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int POLL_MILLISECONDS = 100;

struct PortRun {
    FleetPortRecord result;
    FleetProcess process;
    Clock::time_point started;
    LogProgress progress;
    long logOffset = 0;         // of the log, read so far
    long percentReported = -1;  // the last percentage given as an event
    bool interruptPassed = false;
};

// Where the run is shown while it goes: the live lines on a terminal, the event lines.
struct FleetOutput {
    bool live = false;
    FILE* events = nullptr;  // none when null
    bool eventsOnStdout = false;
    // The event lines or the report (--json -) have standard output: no status lines there.
    bool stdoutTaken = false;
    double estimateSeconds = 0;  // tarnix-check's for the file
    Clock::time_point started;
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

// Each line on its own and at once, so that a reader following the file sees the run live.
void WriteEvent(const FleetOutput& output, const std::string& line) {
    if (output.events != nullptr) {
        fputs(line.c_str(), output.events);
        fflush(output.events);
    }
}

void FollowLog(PortRun* run, const FleetOutput& output) {
    std::string chunk;
    ReadFileFrom(run->result.log, &run->logOffset, &chunk);
    ScanLogProgress(chunk, &run->progress);
    if (run->progress.percent >= 0 && run->progress.percent != run->percentReported) {
        run->percentReported = run->progress.percent;
        WriteEvent(output,
                   ProgressEventJson(run->result.port, run->percentReported, std::time(nullptr)));
    }
}

void Conclude(PortRun* run, int exitStatus, const FleetOutput& output) {
    FleetPortRecord& result = run->result;
    FollowLog(run, output);
    std::string log = ReadWholeFile(result.log);
    result.exitStatus = exitStatus;
    result.seconds = std::chrono::duration<double>(Clock::now() - run->started).count();
    result.endTime = std::time(nullptr);
    result.outcome = OutcomeOfExit(exitStatus, run->interruptPassed);
    result.figures = LastOutcomeFigures(log);
    if (result.outcome != PortOutcome::Completed) {
        result.reason = FailureReason(log, exitStatus);
    }
    WriteEvent(output, EndEventJson(result, result.endTime));
}

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

std::string StatusLine(const PortRun& run, double estimateSeconds) {
    std::string percent =
        run.progress.percent < 0 ? std::string("   -") : Format("%4ld", run.progress.percent);
    std::string line = Format("%-24s %s %%  %s", run.result.port.c_str(), percent.c_str(),
                              OutcomeName(run.result.outcome));
    if (run.result.outcome != PortOutcome::Running) {
        line += Format(" (exit %d, %.1f s)", run.result.exitStatus, run.result.seconds);
        return line;
    }
    double elapsed = SecondsSince(run.started);
    line += Format("  %.1f s, about %.0f s left", elapsed,
                   EstimatedSecondsLeft(elapsed, run.progress.percent, estimateSeconds));
    return line;
}

// The whole fleet: how many ports are still running, and the longest time left among them.
std::string TotalLine(const std::vector<PortRun>& runs, const FleetOutput& output) {
    size_t running = 0;
    double left = 0;
    for (const PortRun& run : runs) {
        if (run.result.outcome == PortOutcome::Running) {
            ++running;
            left =
                std::max(left, EstimatedSecondsLeft(SecondsSince(run.started), run.progress.percent,
                                                    output.estimateSeconds));
        }
    }
    return Format("total: %zu of %zu ports running  %.1f s, about %.0f s left", running,
                  runs.size(), SecondsSince(output.started), left);
}

// On a terminal: one line per port and the total, redrawn in place.
void DrawLiveLines(const std::vector<PortRun>& runs, const FleetOutput& output, bool firstDraw) {
    if (!firstDraw) {
        printf("\033[%zuA", runs.size() + 1);
    }
    for (const PortRun& run : runs) {
        printf("\r\033[K%s\n", StatusLine(run, output.estimateSeconds).c_str());
    }
    printf("\r\033[K%s\n", TotalLine(runs, output).c_str());
    fflush(stdout);
}

// The device and adapter behind the port, as they were at the start: an adapter pulled out
// during the run is still named in the report.
void IdentifyPort(const std::string& port, const std::vector<SerialPortInfo>& known,
                  FleetPortRecord* result) {
    PortChoice choice;
    if (!ParsePortChoice(port, PlatformPortForms(), &choice)) {
        return;
    }
    SerialPortInfo identity = IdentifyChosenPort(choice, known);
    result->device = identity.device;
    if (!identity.vendorId.empty() && !identity.productId.empty()) {
        result->adapterVidPid = identity.vendorId + ":" + identity.productId;
    }
    result->adapterSerial = identity.serialNumber;
}

void StartAll(const FleetCommandLine& commandLine, const std::string& tarnix,
              const std::string& folder, const FleetOutput& output, std::vector<PortRun>* runs) {
    const char* mode = commandLine.mode == CheckMode::Lines ? "1" : "0";
    // tarnix's progress on its standard error, where it cannot disturb its console texts.
    SetInheritedVariable(PROGRESS_VARIABLE, PROGRESS_ON_STDERR);
    std::vector<std::string> logNames = PortLogNames(commandLine.ports);
    std::vector<SerialPortInfo> known = ListSerialPorts();
    for (size_t i = 0; i < commandLine.ports.size(); ++i) {
        const std::string& port = commandLine.ports[i];
        PortRun& run = runs->emplace_back();
        run.result.port = port;
        IdentifyPort(port, known, &run.result);
        run.result.log = folder + "/" + logNames[i];
        run.result.logPath = AbsolutePath(run.result.log);
        run.started = Clock::now();
        run.result.startTime = std::time(nullptr);
        run.result.endTime = run.result.startTime;
        WriteEvent(output, StartEventJson(port, run.result.startTime));
        std::string error;
        if (!StartLoggedProcess(tarnix, {commandLine.modNr, commandLine.file, mode, port},
                                run.result.log, &run.process, &error)) {
            run.result.outcome = PortOutcome::Failed;
            run.result.reason = error;
            WriteEvent(output, EndEventJson(run.result, run.result.endTime));
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

// One look at a running port: concluded when its tarnix has ended, else its log followed.
// False while it runs on.
bool PollPort(PortRun* run, const FleetOutput& output) {
    int exitStatus = 0;
    if (!ProcessEnded(&run->process, &exitStatus)) {
        if (output.live || output.events != nullptr) {
            FollowLog(run, output);
        }
        return false;
    }
    Conclude(run, exitStatus, output);
    if (!output.live && !output.stdoutTaken) {
        printf("%s\n", StatusLine(*run, output.estimateSeconds).c_str());
        fflush(stdout);
    }
    return true;
}

void FollowAll(std::vector<PortRun>* runs, const FleetOutput& output) {
    if (output.live) {
        DrawLiveLines(*runs, output, true);
    }
    int signalsPassed = 0;
    for (;;) {
        PassInterrupts(runs, &signalsPassed);
        bool anyRunning = false;
        for (PortRun& run : *runs) {
            if (run.result.outcome == PortOutcome::Running) {
                anyRunning = !PollPort(&run, output) || anyRunning;
            }
        }
        if (output.live) {
            DrawLiveLines(*runs, output, false);
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

std::string OutcomeText(const FleetPortRecord& result) {
    std::string text = OutcomeName(result.outcome);
    return result.reason.empty() || result.outcome == PortOutcome::Interrupted
               ? text
               : text + ": " + result.reason;
}

}  // namespace

std::string DescribeFleetTable(const std::vector<FleetPortRecord>& results) {
    size_t portWidth = 4;
    size_t outcomeWidth = 7;
    for (const FleetPortRecord& result : results) {
        portWidth = std::max(portWidth, result.port.size());
        outcomeWidth = std::max(outcomeWidth, OutcomeText(result).size());
    }
    int pw = static_cast<int>(portWidth);
    int ow = static_cast<int>(outcomeWidth);
    std::string table =
        Format("%-*s  %-*s  %4s  %8s  %s\n", pw, "PORT", ow, "OUTCOME", "EXIT", "SECONDS", "LOG");
    for (const FleetPortRecord& result : results) {
        table += Format("%-*s  %-*s  %4d  %8.1f  %s\n", pw, result.port.c_str(), ow,
                        OutcomeText(result).c_str(), result.exitStatus, result.seconds,
                        result.log.c_str());
    }
    return table;
}

int FleetExitStatus(const std::vector<FleetPortRecord>& results) {
    bool allCompleted = true;
    bool noneOpened = !results.empty();
    for (const FleetPortRecord& result : results) {
        allCompleted = allCompleted && result.outcome == PortOutcome::Completed;
        noneOpened = noneOpened && result.outcome == PortOutcome::NotOpened;
    }
    if (allCompleted) {
        return EXIT_FLEET_ALL_COMPLETED;
    }
    return noneOpened ? EXIT_PORT_NOT_OPENED : EXIT_FLEET_NOT_ALL;
}

FleetFileFacts GatherFileFacts(const std::string& file) {
    FleetFileFacts facts;
    facts.file = file;
    facts.absolutePath = AbsolutePath(file);
    long offset = 0;
    std::string bytes;
    facts.readable = ReadFileFrom(file, &offset, &bytes);
    facts.size = bytes.size();
    facts.sha256 = Sha256Hex(bytes);
    return facts;
}

namespace {

FleetRunFacts GatherRunFacts(const FleetCommandLine& commandLine, const FileCheck& check) {
    FleetRunFacts facts;
    facts.version = TARNIX_VERSION;
    facts.host = HostName();
    facts.user = UserName();
    facts.startTime = std::time(nullptr);
    facts.modNr = commandLine.modNr;
    facts.mode = commandLine.mode == CheckMode::Lines ? 1 : 0;
    facts.file = GatherFileFacts(commandLine.file);
    facts.file.hasHeader = check.hasHeader;
    facts.file.headerCrc = check.headerCrc;
    return facts;
}

// The events file opened ("-": standard output); false when it cannot be.
bool OpenEvents(const FleetCommandLine& commandLine, FleetOutput* output) {
    output->eventsOnStdout = commandLine.eventsFile == "-";
    output->stdoutTaken = output->eventsOnStdout || commandLine.jsonFile == "-";
    if (output->eventsOnStdout) {
        output->events = stdout;
    } else if (!commandLine.eventsFile.empty()) {
        output->events = fopen(commandLine.eventsFile.c_str(), "wb");
        if (output->events == nullptr) {
            fprintf(stderr, "tarnix-fleet: cannot write %s\n", commandLine.eventsFile.c_str());
            return false;
        }
    }
    // Event lines or a report on standard output leave no room for the live lines.
    output->live = OutputIsTerminal() && !output->stdoutTaken;
    output->started = Clock::now();
    return true;
}

bool Prepare(const FleetCommandLine& commandLine, const std::string& tarnix, std::string* folder) {
    std::string error;
    if (!FileExists(tarnix)) {
        fprintf(stderr, "tarnix-fleet: %s not found beside tarnix-fleet\n", tarnix.c_str());
        return false;
    }
    if (!MakeLogFolder(commandLine, folder, &error)) {
        fprintf(stderr, "tarnix-fleet: %s\n", error.c_str());
        return false;
    }
    return true;
}

// The report in its file, or on standard output for "-".
bool WriteReport(const std::string& path, const std::string& json) {
    if (path == "-") {
        return fputs(json.c_str(), stdout) >= 0 && fflush(stdout) == 0;
    }
    return WriteTextFile(path, json);
}

// The table on standard output, unless the event lines or the report have it; then on
// standard error.
int Finish(const FleetCommandLine& commandLine, const FleetRunFacts& facts,
           const std::vector<FleetPortRecord>& results, bool stdoutTaken) {
    fprintf(stdoutTaken ? stderr : stdout, "\n%s", DescribeFleetTable(results).c_str());
    if (!commandLine.jsonFile.empty() &&
        !WriteReport(commandLine.jsonFile, FleetReportJson(facts, results))) {
        std::string where = commandLine.jsonFile == "-" ? "standard output" : commandLine.jsonFile;
        fprintf(stderr, "tarnix-fleet: cannot write %s\n", where.c_str());
        return EXIT_FLEET_NOT_ALL;
    }
    return FleetExitStatus(results);
}

}  // namespace

// The file is always read for the report and the estimate; --no-check only lets an unsound
// one through.
int RunFleet(const FleetCommandLine& commandLine) {
    FileCheck check = CheckUpdateFile(commandLine.file, {.mode = commandLine.mode});
    if (commandLine.check && !check.Sound()) {
        fputs(DescribeFileCheck(check, {.mode = commandLine.mode}).c_str(), stderr);
        fprintf(stderr, "tarnix-fleet: %s is not sound; no port was touched\n",
                commandLine.file.c_str());
        return EXIT_FLEET_NOT_ALL;
    }
    std::string tarnix = OwnExecutableDirectory() + "/" + ExecutableFileName("tarnix");
    std::string folder;
    FleetOutput output;
    output.estimateSeconds = check.estimate.seconds;
    if (!Prepare(commandLine, tarnix, &folder) || !OpenEvents(commandLine, &output)) {
        return EXIT_FLEET_NOT_ALL;
    }
    FleetRunFacts facts = GatherRunFacts(commandLine, check);
    CatchStopSignals();
    std::vector<PortRun> runs;
    runs.reserve(commandLine.ports.size());
    StartAll(commandLine, tarnix, folder, output, &runs);
    FollowAll(&runs, output);
    facts.endTime = std::time(nullptr);
    if (output.events != nullptr && !output.eventsOnStdout) {
        fclose(output.events);
    }
    std::vector<FleetPortRecord> results;
    for (const PortRun& run : runs) {
        results.push_back(run.result);
    }
    return Finish(commandLine, facts, results, output.stdoutTaken);
}

}  // namespace tarnix
