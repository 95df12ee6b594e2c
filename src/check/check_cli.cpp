#include "check_cli.h"

#include <cstdlib>

bool ParseModeArgument(const std::string& text, CheckMode* mode) {
    if (text != "0" && text != "1") {
        return false;
    }
    *mode = text == "1" ? CheckMode::Lines : CheckMode::Records;
    return true;
}

bool ParseMillisecondsArgument(const std::string& text, double* milliseconds) {
    char* end = nullptr;
    double value = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !(value >= 0 && value <= 10000)) {
        return false;
    }
    *milliseconds = value;
    return true;
}

bool TakeOptionValue(int argc, const char* const* argv, int* i, const std::string& arg,
                     std::string* value) {
    size_t equals = arg.find('=');
    if (equals != std::string::npos) {
        *value = arg.substr(equals + 1);
        return true;
    }
    if (*i + 1 >= argc) {
        return false;
    }
    *value = argv[++*i];
    return true;
}

bool ParseCheckCommandLine(int argc, const char* const* argv, CheckCommandLine* commandLine,
                           std::string* error) {
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        std::string name = arg.substr(0, arg.find('='));
        std::string value;
        if (optionsEnded || arg == "-" || arg.rfind('-', 0) != 0) {
            commandLine->files.push_back(arg);
        } else if (arg == "--") {
            optionsEnded = true;
        } else if (arg == "--help" || arg == "-h") {
            commandLine->help = true;
        } else if (arg == "--version") {
            commandLine->version = true;
        } else if (arg == "--json") {
            commandLine->json = true;
        } else if (name == "--mode" || name == "--latency" || name == "--host-time") {
            if (!TakeOptionValue(argc, argv, &i, arg, &value)) {
                *error = "option '" + name + "' needs a value";
                return false;
            }
            CheckOptions& options = commandLine->options;
            bool ok = name == "--mode" ? ParseModeArgument(value, &options.mode)
                      : name == "--latency"
                          ? ParseMillisecondsArgument(value, &options.replyLatencyMs)
                          : ParseMillisecondsArgument(value, &options.hostTimeMs);
            if (!ok) {
                *error = "bad value '" + value + "' for " + name;
                return false;
            }
        } else {
            *error = "unknown option '" + arg + "'";
            return false;
        }
    }
    if (commandLine->files.empty() && !commandLine->help && !commandLine->version) {
        *error = "no file to check";
        return false;
    }
    return true;
}
