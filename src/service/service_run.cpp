#include "service_run.h"

#include <cstdio>
#include <string>

#include "interrupts.h"
#include "module_info.h"
#include "primary_config.h"

namespace tarnix {

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

// Stops at the first failure: the bytes of a wrong reply may still be on their way and would
// be taken for the answer to the next command. Stops before the next operation after an
// interrupt.

int RunEach(Port& port, const std::vector<ServiceOperation>& operations, ServiceRun* run) {
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

}  // namespace

int RunOperations(Port& port, const std::vector<ServiceOperation>& operations, ServiceRun* run) {
    int status = RunEach(port, operations, run);
    run->hungUp = port.hungUp;
    return status;
}

}  // namespace tarnix
