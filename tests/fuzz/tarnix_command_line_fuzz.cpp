// The tarnix command line: [ModNr] [filename] [ProgMode] [ComNr]. The input is the argument
// vector, its arguments separated by NUL bytes.

#include <cstring>

#include "command_line.h"
#include "fuzz_input.h"

using namespace tarnix;

namespace {

// The one place that follows the parser's signature.
RunSettings Parse(const std::vector<const char*>& argv) {
    return ParseArguments(static_cast<int>(argv.size() - 1), argv.data(), PortForms::Posix);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    SilenceStandardOutput();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::string> arguments = SplitArguments(data, size);
    std::vector<const char*> argv = ArgumentPointers(arguments);
    // --version and --help are answered only as the one argument.
    if (FindInfoRequest(static_cast<int>(arguments.size()), argv.data()) != InfoRequest::None) {
        FUZZ_CHECK(arguments.size() == 2);
    }
    RunSettings settings = Parse(argv);
    FUZZ_CHECK(settings.progMode == PROG_MODE_RECORDS || settings.progMode == PROG_MODE_LINES);
    CheckPortChoice(settings.port);
    // A refused command line is never taken as an understood one with a default filled in.
    for (size_t i = 1; i < arguments.size(); ++i) {
        if (!arguments[i].empty() && arguments[i][0] == '-') {
            FUZZ_CHECK(!settings.refusals.empty());
        }
    }
    if (!settings.refusals.empty()) {
        FUZZ_CHECK(!settings.askForFile);
    } else if (arguments.size() >= 3) {
        FUZZ_CHECK(settings.fileName == arguments[2]);
    }
    uint8_t modNr = 0;
    if (arguments.size() >= 2) {
        ParseModNr(arguments[1].c_str(), &modNr);
    }
    return 0;
}
