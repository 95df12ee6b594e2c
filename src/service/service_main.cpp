// tarnix-service: runs the module's service operations from the command line.

#include <cstdio>
#include <string>

#include "com_port.h"
#include "module_info.h"
#include "port_choice.h"
#include "primary_config.h"
#include "service_cli.h"
#include "tarnix_version.h"

namespace {

constexpr long SERVICE_BAUD = 115200;
constexpr const char* PROGRAM = "tarnix-service";

bool ReadInfoSucceeded(void (*query)(InfoReply*)) {
    InfoReply reply;
    query(&reply);
    return reply.framed && reply.checksumMatched;
}

bool ReadStatusSucceeded() {
    bool answered = false;
    int value = ReadStatusValue(&answered);
    if (answered) {
        printf("Status value : %d (0x%06X)\n", value, static_cast<unsigned>(value));
    }
    return answered;
}

bool DownloadSucceeded(const std::string& path) {
    DownloadOutcome outcome = DownloadOutcome::NoPath;
    DownloadPrimaryConfig(path.c_str(), &outcome);
    return outcome == DownloadOutcome::Completed;
}

// Runs one operation and tells whether it succeeded, judged by what it observed.
bool RunOperationOnce(const ServiceOperation& operation) {
    switch (operation.kind) {
        case ServiceOperationKind::Info:
            return ReadInfoSucceeded(ReadVeloxInfo);
        case ServiceOperationKind::Flash:
            return ReadInfoSucceeded(ReadFlashInfo);
        case ServiceOperationKind::Status:
            return ReadStatusSucceeded();
        case ServiceOperationKind::Param:
            return SendParameterCommand(operation.value) == 0;
        case ServiceOperationKind::Result:
            return ReadResultByte() == 0;
        case ServiceOperationKind::Download:
            return DownloadSucceeded(operation.path);
        case ServiceOperationKind::Pause:
            Pause(operation.value);
            return true;
    }
    return false;
}

// A reply byte that never came reads as 0x00, which some replies accept (an end marker, a
// checksum over an empty text, a status byte): an operation that missed a byte failed.
bool RunOperation(const ServiceOperation& operation) {
    unsigned long missedBefore = MissedReceiveCount();
    bool succeeded = RunOperationOnce(operation);
    return succeeded && MissedReceiveCount() == missedBefore;
}

// Stops at the first failure: the bytes of a wrong reply may still be on their way and would
// be taken for the answer to the next command.
int RunOperations(const std::vector<ServiceOperation>& operations) {
    for (size_t i = 0; i < operations.size(); ++i) {
        if (!RunOperation(operations[i])) {
            fflush(stdout);
            size_t skipped = operations.size() - i - 1;
            fprintf(stderr, "%s: %s failed", PROGRAM, ServiceOperationName(operations[i].kind));
            if (skipped > 0) {
                fprintf(stderr, "; %lu further operation%s not run",
                        static_cast<unsigned long>(skipped), skipped == 1 ? "" : "s");
            }
            fprintf(stderr, "\n");
            return EXIT_OPERATION_FAILED;
        }
    }
    return EXIT_ALL_SUCCEEDED;
}

}  // namespace

int main(int argc, char** argv) {
    ServiceCommandLine commandLine;
    std::string error;
    if (!ParseServiceCommandLine(argc, argv, ComDevicePathsSupported(), &commandLine, &error)) {
        fprintf(stderr, "%s: %s\nTry '%s --help'.\n", PROGRAM, error.c_str(), PROGRAM);
        return EXIT_USAGE;
    }
    if (commandLine.helpRequested) {
        printf("%s", ServiceUsage(ComDevicePathsSupported()).c_str());
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
        return EXIT_PORT_NOT_OPENED;
    }
    int status = RunOperations(commandLine.operations);
    CloseComPort();
    return status;
}
