#include "run_update.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "command_line.h"
#include "exchange.h"
#include "framing.h"
#include "interrupts.h"
#include "open_file_dialog.h"
#include "outcome_line.h"
#include "port.h"
#include "port_choice.h"
#include "port_texts.h"
#include "regular_file.h"
#include "run_report.h"
#include "standard_streams.h"
#include "transfer.h"
#include "update_outcome.h"

namespace tarnix {

namespace {

constexpr const char* PROGRAM = "tarnix";

void PrintBanner() {
    printf("\n");
    printf("Tarnix Version 1.1                             %s\n", __DATE__);
    printf("Copyright (c) Kelvra GmbH. All rights reserved.\n");
    printf("\n");
}

// Why the update file cannot serve, on standard error after the Part's own line.
void ReportFileRefused(const char* fileName, const char* reason) {
    printf("The file '%s' was not opened\n", fileName);
    fflush(stdout);
    fprintf(stderr, "%s: %s: %s\n", PROGRAM, fileName, reason);
}

const char* RefusalReason(const RegularFile& file) {
    switch (file.refusal) {
        case FileRefusal::NotRegular:
            return "not a regular file";
        case FileRefusal::NotRegularWhenOpened:
            return "not a regular file, or its size cannot be known";
        default:
            return strerror(file.error);
    }
}

FILE* OpenUpdateFile(const char* fileName, uint32_t* size) {
    RegularFile file = OpenRegularFile(fileName);
    if (file.stream == nullptr) {
        ReportFileRefused(fileName, RefusalReason(file));
        return nullptr;
    }
    // The module protocol counts in 32 bits.
    *size = static_cast<uint32_t>(file.size);
    return file.stream;
}

UpdateResult TransferFile(Port& port, const RunSettings& settings) {
    UpdateResult result;
    if (StopAtSafePoint()) {
        NoteFailure(&result, UpdateOutcome::Interrupted, 0);
        return result;
    }
    PrintPortNotes(PurgeInput(port));
    UpdateSource source;
    source.fileName = settings.fileName.c_str();
    source.progressLines = ProgressLinesRequested();
    source.stream = OpenUpdateFile(source.fileName, &source.size);
    if (source.stream == nullptr) {
        NoteFailure(&result, UpdateOutcome::FileRefused, 0);
        return result;
    }
    result = settings.progMode == PROG_MODE_LINES ? TransferLines(port, source, settings.modNr)
                                                  : TransferRecords(port, source, settings.modNr);
    fclose(source.stream);
    return result;
}

// Whatever happened after the port was opened, the module is released and the port closed.
UpdateResult UpdateOnOpenPort(Port& port, const RunSettings& settings) {
    UpdateResult result;
    if (settings.fileName.empty()) {
        NoteFailure(&result, UpdateOutcome::NoFile, 0);
    } else {
        result = TransferFile(port, settings);
    }
    PrintPortNotes(SendWithoutReply(port, CommandFrame(CMD_FINISH, settings.modNr)));
    result.commands++;
    PrintPortNotes(ClosePort(port));
    return result;
}

// The prompt is part of every run's output; the wait only where a person can answer it. A
// script, a subprocess or tarnix-fleet whose standard input stays open must not hang here.
void WaitForKey() {
    printf("\n Press any key to exit.\n");
    fflush(stdout);
    if (StandardInputIsInteractive()) {
        getchar();
    }
}

// A command line that is not understood: why, on standard error, and nothing else done.
int RefuseCommandLine(const RunSettings& settings) {
    fflush(stdout);
    for (const std::string& refusal : settings.refusals) {
        fprintf(stderr, "%s: %s\n", PROGRAM, refusal.c_str());
    }
    fprintf(stderr, "%s: not done: the command line was refused; nothing was sent\n", PROGRAM);
    WaitForKey();
    return EXIT_USAGE;
}

const RunWords WORDS{.program = PROGRAM,
                     .strayBytesAt = "before commands",
                     .strayMeans = "more than one reply",
                     .hangUpEffect = "; update stopped",
                     .released = "module released"};

// What a run on the chosen port did, and what became of the port.
struct PortRun {
    UpdateResult result;
    bool opened = false;
    bool hungUp = false;  // the port's device or far side went away
};

PortRun RunOnChosenPort(const RunSettings& settings) {
    PortRun run;
    if (InterruptRequested()) {
        NoteFailure(&run.result, UpdateOutcome::Interrupted, 0);  // nothing opened to release
        return run;
    }
    PortOpening opening = OpenPort(settings.port, MODULE_LINE);
    PrintOpenNotices(opening);
    if (!opening.port) {
        PrintOpenFailure(opening.failure);
        printf("COM port not opened !\n");
        NoteFailure(&run.result, UpdateOutcome::PortNotOpened, 0);
        return run;
    }
    Port& port = *opening.port;
    PrintPortOpened(port);
    ReleaseOnSecondInterrupt(&port);
    run.opened = true;
    run.result = UpdateOnOpenPort(port, settings);
    run.hungUp = port.hungUp;
    return run;
}

// The run's outcome in plain words, with the figures to compare between runs.
void ReportOutcome(const RunSettings& settings, const UpdateResult& result, double elapsedSeconds) {
    ReportOutcomeLine(WORDS,
                      DescribeUpdateOutcome(result, settings.modNr, PortChoiceName(settings.port),
                                            elapsedSeconds, InterruptName()));
}

double SecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int RunUpdateProgram(int argc, const char* const* argv) {
    auto start = std::chrono::steady_clock::now();
    PrintBanner();
    RunSettings settings = ParseArguments(argc, argv, PlatformPortForms());
    if (!settings.refusals.empty()) {
        return RefuseCommandLine(settings);
    }
    if (settings.askForFile) {
        settings.fileName = ShowOpenFileDialog("Kelvra Tarnix - Open UPD-File", "*.upd");
    }
    PortRun run = RunOnChosenPort(settings);
    bool portOpened = run.opened;
    ReportRunFacts(WORDS, run.result.discarded, run.hungUp);
    UpdateResult result = ExplainStop(run.result, InterruptRequested(), run.hungUp);
    if (InterruptRequested()) {
        // The user wants the program gone, not a question.
        ReportInterrupt(WORDS, InterruptName(), portOpened);
        ReportOutcome(settings, result, SecondsSince(start));
        return UpdateExitStatus(result, InterruptSignal());
    }
    ReportOutcome(settings, result, SecondsSince(start));
    WaitForKey();
    if (InterruptRequested()) {
        ReportInterrupt(WORDS, InterruptName(), portOpened);
        return ExitStatusForSignal(InterruptSignal());
    }
    return UpdateExitStatus(result, InterruptSignal());
}

}  // namespace tarnix
