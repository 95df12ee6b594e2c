// tarnix-service: runs the module's service operations from the command line.

#include <chrono>
#include <cstdio>
#include <string>

#include "exit_status.h"
#include "interrupts.h"
#include "port.h"
#include "port_choice.h"
#include "port_texts.h"
#include "run_report.h"
#include "service_cli.h"
#include "service_run.h"
#include "standard_streams.h"
#include "tarnix_version.h"

namespace tarnix {

namespace {

constexpr const char* PROGRAM = "tarnix-service";

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

}  // namespace tarnix

// The program's entry stays global.
using namespace tarnix;

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
    PrintOpenNotices(opening);
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
    PrintPortNotes(ClosePort(port));
    ReportRunEnd(run);
    ReportOutcome(commandLine, run, status);
    if (InterruptRequested()) {
        return ExitStatusForSignal(InterruptSignal());
    }
    return status;
}
