// tarnix-service: runs the module's service operations from the command line.

#include <chrono>
#include <cstdio>
#include <string>

#include "com_port.h"
#include "exit_status.h"
#include "interrupts.h"
#include "module_info.h"
#include "port_choice.h"
#include "primary_config.h"
#include "run_report.h"
#include "service_cli.h"
#include "standard_streams.h"
#include "tarnix_version.h"

namespace {

constexpr long SERVICE_BAUD = 115200;
constexpr const char* PROGRAM = "tarnix-service";

bool ReadInfoSucceeded(void (*query)(InfoReply*), unsigned long* discarded) {
    InfoReply reply;
    query(&reply);
    *discarded += reply.discarded;
    // A missed byte reads as 0x00, which an end marker or the checksum of an empty text accept.
    return reply.framed && reply.checksumMatched && !reply.missedByte;
}

bool ReadStatusSucceeded(unsigned long* discarded) {
    bool answered = false;
    int value = ReadStatusValue(&answered, discarded);
    if (answered) {
        printf("Status value : %d (0x%06X)\n", value, static_cast<unsigned>(value));
    }
    return answered;
}

bool DownloadSucceeded(const std::string& path, unsigned long* discarded) {
    DownloadOutcome outcome = DownloadOutcome::NoPath;
    DownloadPrimaryConfig(path.c_str(), &outcome, discarded);
    return outcome == DownloadOutcome::Completed;
}

// Runs one operation and tells whether it succeeded, judged by what it observed; the stray
// bytes its exchanges discarded are added to *discarded.
bool RunOperation(const ServiceOperation& operation, unsigned long* discarded) {
    switch (operation.kind) {
        case ServiceOperationKind::Info:
            return ReadInfoSucceeded(ReadVeloxInfo, discarded);
        case ServiceOperationKind::Flash:
            return ReadInfoSucceeded(ReadFlashInfo, discarded);
        case ServiceOperationKind::Status:
            return ReadStatusSucceeded(discarded);
        case ServiceOperationKind::Param:
            return SendParameterCommand(operation.value, discarded) == 0;
        case ServiceOperationKind::Result:
            return ReadResultByte() == 0;
        case ServiceOperationKind::Download:
            return DownloadSucceeded(operation.path, discarded);
        case ServiceOperationKind::Pause:
            Pause(operation.value);
            return true;
    }
    return false;
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
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
};

// Stops at the first failure: the bytes of a wrong reply may still be on their way and would
// be taken for the answer to the next command. Stops before the next operation after an
// interrupt.
int RunOperations(const std::vector<ServiceOperation>& operations, ServiceRun* run) {
    for (size_t i = 0; i < operations.size(); ++i) {
        run->stoppedAt = i;
        if (StopAtSafePoint()) {
            ReportNotRun("interrupted", operations.size() - i);
            return EXIT_OPERATION_FAILED;
        }
        if (!RunOperation(operations[i], &run->discarded)) {
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
    if (ComPortHungUp()) {
        outcome += ", the port's device was disconnected";
    }
    char figures[96];
    snprintf(figures, sizeof figures, "; %lu of %lu operations completed, %.1f s",
             static_cast<unsigned long>(run.completed),
             static_cast<unsigned long>(commandLine.operations.size()), elapsed.count());
    ReportOutcomeLine(WORDS, outcome + ": on " + PortChoiceName(commandLine.port) + figures);
}

void ReportRunEnd(const ServiceRun& run) {
    ReportRunFacts(WORDS, run.discarded, ComPortHungUp());
    if (InterruptRequested()) {
        ReportInterrupt(WORDS, InterruptName(), true);
    }
}

}  // namespace

int main(int argc, char** argv) {
    EnsureStandardDescriptors();
    InstallInterruptHandlers(PROGRAM, ReleaseComPortAtOnce);
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
    if (OpenChosenPort(commandLine.port, SERVICE_BAUD) != 0) {
        // A port that failed during configuration is still held.
        if (IsComPortOpen()) {
            CloseComPort();
        }
        fprintf(stderr, "%s: not done: the port could not be opened: %s\n", PROGRAM,
                PortChoiceName(commandLine.port).c_str());
        return EXIT_PORT_NOT_OPENED;
    }
    ServiceRun run;
    int status = RunOperations(commandLine.operations, &run);
    CloseComPort();
    ReportRunEnd(run);
    ReportOutcome(commandLine, run, status);
    if (InterruptRequested()) {
        return ExitStatusForSignal(InterruptSignal());
    }
    return status;
}
