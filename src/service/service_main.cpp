// tarnix-service: runs the module's service operations from the command line.

#include <chrono>
#include <cstdio>
#include <string>

#include "exit_status.h"
#include "interrupts.h"
#include "module_info.h"
#include "port.h"
#include "port_choice.h"
#include "port_texts.h"
#include "primary_config.h"
#include "run_report.h"
#include "service_cli.h"
#include "standard_streams.h"
#include "tarnix_version.h"

namespace {

constexpr const char* PROGRAM = "tarnix-service";

// Whether one operation succeeded, judged by what it observed, and the stray bytes its
// exchanges discarded.
struct OperationResult {
    bool succeeded = false;
    unsigned long discarded = 0;
};

OperationResult InfoResult(const InfoReply& reply) {
    // A missed byte reads as 0x00, which an end marker or the checksum of an empty text accept.
    return {reply.framed && reply.checksumMatched && !reply.missedByte, reply.discarded};
}

OperationResult StatusResult(const StatusReply& status) {
    if (status.answered) {
        printf("Status value : %d (0x%06X)\n", status.value, static_cast<unsigned>(status.value));
    }
    return {status.answered, status.discarded};
}

OperationResult DownloadResultOf(const DownloadResult& download) {
    return {download.outcome == DownloadOutcome::Completed, download.discarded};
}

OperationResult RunOperation(Port& port, const ServiceOperation& operation) {
    switch (operation.kind) {
        case ServiceOperationKind::Info:
            return InfoResult(ReadVeloxInfo(port));
        case ServiceOperationKind::Flash:
            return InfoResult(ReadFlashInfo(port));
        case ServiceOperationKind::Status:
            return StatusResult(ReadStatusValue(port));
        case ServiceOperationKind::Param: {
            CommandReply reply = SendParameterCommand(port, operation.value);
            return {reply.acknowledged, reply.discarded};
        }
        case ServiceOperationKind::Result:
            return {ReadResultByte(port) == 0, 0};
        case ServiceOperationKind::Download:
            return DownloadResultOf(DownloadPrimaryConfig(port, operation.path.c_str()));
        case ServiceOperationKind::Pause:
            Pause(operation.value);
            return {true, 0};
    }
    return {};
}

void ReportNotRun(const char* what, size_t skipped) {
    fflush(stdout);
    fprintf(stderr, "%s: %s", PROGRAM, what);
    if (skipped > 0) {
        fprintf(stderr, "; %lu further operation%s not run", static_cast<unsigned long>(skipped),
                skipped == 1 ? "" : "s");
    }
    fprintf(stderr, "\n");
}

// What one run did, for the outcome line at its end.
struct ServiceRun {
    size_t completed = 0;  // operations that succeeded
    size_t stoppedAt = 0;  // index of the operation that failed or was not begun
    unsigned long discarded = 0;
    bool hungUp = false;  // the port's device or far side went away
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
};

// Stops at the first failure: the bytes of a wrong reply may still be on their way and would
// be taken for the answer to the next command. Stops before the next operation after an
// interrupt.
int RunOperations(Port& port, const std::vector<ServiceOperation>& operations, ServiceRun* run) {
    for (size_t i = 0; i < operations.size(); ++i) {
        run->stoppedAt = i;
        if (StopAtSafePoint()) {
            ReportNotRun("interrupted", operations.size() - i);
            return EXIT_OPERATION_FAILED;
        }
        OperationResult result = RunOperation(port, operations[i]);
        run->discarded += result.discarded;
        if (!result.succeeded) {
            std::string what = std::string(ServiceOperationName(operations[i].kind)) + " failed";
            ReportNotRun(what.c_str(), operations.size() - i - 1);
            return EXIT_OPERATION_FAILED;
        }
        // An interrupt cuts a pause short: the pause, not the operation after it, is where the
        // run stopped.
        if (operations[i].kind == ServiceOperationKind::Pause && StopAtSafePoint()) {
            ReportNotRun("interrupted", operations.size() - i - 1);
            return EXIT_OPERATION_FAILED;
        }
        run->completed++;
    }
    return EXIT_ALL_SUCCEEDED;
}

std::string DescribeStop(const ServiceCommandLine& commandLine, const ServiceRun& run) {
    const std::vector<ServiceOperation>& operations = commandLine.operations;
    std::string where = " (operation " + std::to_string(run.stoppedAt + 1) + " of " +
                        std::to_string(operations.size()) + ")";
    const char* name = ServiceOperationName(operations[run.stoppedAt].kind);
    if (InterruptRequested()) {
        return std::string("interrupted by ") + InterruptName() + " before or during " + name +
               where;
    }
    return std::string("failed: ") + name + where;
}

const RunWords WORDS{.program = PROGRAM,
                     .strayBytesAt = "between operations",
                     .strayMeans = "more than the reply",
                     .hangUpEffect = "",
                     .released = "port released"};

// The run in plain words at its end, of the same kind as tarnix's: outcome, port, figures.
void ReportOutcome(const ServiceCommandLine& commandLine, const ServiceRun& run, int status) {
    std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - run.start;
    std::string outcome = status == EXIT_ALL_SUCCEEDED && !InterruptRequested()
                              ? std::string("completed")
                              : DescribeStop(commandLine, run);
    if (run.hungUp) {
        outcome += ", the port's device was disconnected";
    }
    char figures[96];
    snprintf(figures, sizeof figures, "; %lu of %lu operations completed, %.1f s",
             static_cast<unsigned long>(run.completed),
             static_cast<unsigned long>(commandLine.operations.size()), elapsed.count());
    ReportOutcomeLine(WORDS, outcome + ": on " + PortChoiceName(commandLine.port) + figures);
}

void ReportRunEnd(const ServiceRun& run) {
    ReportRunFacts(WORDS, run.discarded, run.hungUp);
    if (InterruptRequested()) {
        ReportInterrupt(WORDS, InterruptName(), true);
    }
}

}  // namespace

int main(int argc, char** argv) {
    EnsureStandardDescriptors();
    InstallInterruptHandlers(PROGRAM, ReleasePortOnInterrupt);
    ServiceCommandLine commandLine;
    std::string error;
    if (!ParseServiceCommandLine(argc, argv, PlatformPortForms(), &commandLine, &error)) {
        fprintf(stderr, "%s: %s\nTry '%s --help'.\n", PROGRAM, error.c_str(), PROGRAM);
        return EXIT_USAGE;
    }
    if (commandLine.helpRequested) {
        printf("%s", ServiceUsage(PlatformPortForms()).c_str());
        return EXIT_ALL_SUCCEEDED;
    }
    if (commandLine.versionRequested) {
        printf("%s %s (%s)\n", PROGRAM, TARNIX_VERSION, TARNIX_PLATFORM_NAME);
        return EXIT_ALL_SUCCEEDED;
    }
    PortOpening opening = OpenPort(commandLine.port, MODULE_LINE);
    if (!opening.port) {
        PrintOpenFailure(opening.failure);
        fprintf(stderr, "%s: not done: the port could not be opened: %s\n", PROGRAM,
                PortChoiceName(commandLine.port).c_str());
        return EXIT_PORT_NOT_OPENED;
    }
    Port& port = *opening.port;
    PrintPortOpened(port);
    ReleaseOnSecondInterrupt(&port);
    ServiceRun run;
    int status = RunOperations(port, commandLine.operations, &run);
    run.hungUp = port.hungUp;
    PrintPortNotes(ClosePort(port));
    ReportRunEnd(run);
    ReportOutcome(commandLine, run, status);
    if (InterruptRequested()) {
        return ExitStatusForSignal(InterruptSignal());
    }
    return status;
}
