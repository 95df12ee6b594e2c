// The tarnix-service command line: PORT OPERATION [ARG] [OPERATION [ARG]]... The input is the
// argument vector, its arguments separated by NUL bytes.

#include "fuzz_input.h"
#include "service_cli.h"

using namespace tarnix;

namespace {

// The one place that follows the parser's signature.
bool Parse(const std::vector<const char*>& argv, ServiceCommandLine* commandLine,
           std::string* error) {
    return ParseServiceCommandLine(static_cast<int>(argv.size() - 1), argv.data(), PortForms::Posix,
                                   commandLine, error);
}

void CheckAccepted(const ServiceCommandLine& commandLine) {
    if (commandLine.helpRequested || commandLine.versionRequested) {
        return;
    }
    FUZZ_CHECK(!commandLine.operations.empty());
    CheckPortChoice(commandLine.port);
    for (const ServiceOperation& operation : commandLine.operations) {
        if (operation.kind == ServiceOperationKind::Param) {
            FUZZ_CHECK(operation.value >= 0 && operation.value <= 0xFF);
        }
        if (operation.kind == ServiceOperationKind::Download) {
            FUZZ_CHECK(!operation.path.empty());
        }
        FUZZ_CHECK(ServiceOperationName(operation.kind) != nullptr);
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    SilenceStandardOutput();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::string> arguments = SplitArguments(data, size);
    ServiceCommandLine commandLine;
    std::string error;
    if (Parse(ArgumentPointers(arguments), &commandLine, &error)) {
        CheckAccepted(commandLine);
    } else {
        FUZZ_CHECK(!error.empty());
    }
    int value = 0;
    if (arguments.size() >= 2) {
        ParseServiceNumber(arguments[1], &value);
    }
    return 0;
}
