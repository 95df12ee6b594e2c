#include "check_cli.h"

#include "options.h"

namespace tarnix {

namespace {

const OptionRule CHECK_OPTIONS[] = {
    {"--help", false, "-h"}, {"--version"},       {"--json"},
    {"--mode", true},        {"--latency", true}, {"--host-time", true},
};

bool ApplyCheckOption(const std::string& name, const std::string& value,
                      CheckCommandLine* commandLine, std::string* error) {
    CheckOptions& options = commandLine->options;
    bool ok = true;
    if (name == "--help") {
        commandLine->help = true;
    } else if (name == "--version") {
        commandLine->version = true;
    } else if (name == "--json") {
        commandLine->json = true;
    } else if (name == "--mode") {
        ok = ParseModeArgument(value, &options.mode);
    } else if (name == "--latency") {
        ok = ParseMillisecondsArgument(value, &options.replyLatencyMs);
    } else {
        ok = ParseMillisecondsArgument(value, &options.hostTimeMs);
    }
    if (!ok) {
        *error = "bad value '" + value + "' for " + name;
    }
    return ok;
}

}  // namespace

bool ParseModeArgument(const std::string& text, CheckMode* mode) {
    if (text != "0" && text != "1") {
        return false;
    }
    *mode = text == "1" ? CheckMode::Lines : CheckMode::Records;
    return true;
}

bool ParseMillisecondsArgument(const std::string& text, double* milliseconds) {
    double value = 0;
    if (!ReadPlainDecimal(text, &value) || value > 10000) {
        return false;
    }
    *milliseconds = value;
    return true;
}

bool ParseCheckCommandLine(int argc, const char* const* argv, CheckCommandLine* commandLine,
                           std::string* error) {
    auto apply = [commandLine](const std::string& name, const std::string& value,
                               std::string* fault) {
        return ApplyCheckOption(name, value, commandLine, fault);
    };
    if (!ReadCommandLine(argc, argv, CHECK_OPTIONS, apply, &commandLine->files, error)) {
        return false;
    }
    if (commandLine->files.empty() && !commandLine->help && !commandLine->version) {
        *error = "no file to check";
        return false;
    }
    return true;
}

}  // namespace tarnix
