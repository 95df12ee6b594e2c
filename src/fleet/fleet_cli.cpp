#include "fleet_cli.h"

#include <algorithm>

#include "check_cli.h"
#include "hex_digits.h"
#include "options.h"
#include "port_choice.h"

namespace tarnix {

namespace {

// Strictly "0x" and one or two hex digits: tarnix would quietly ignore anything more.
bool IsModNr(const std::string& text) {
    if (text.size() < 3 || text.size() > 4 || text.rfind("0x", 0) != 0) {
        return false;
    }
    return std::all_of(text.begin() + 2, text.end(), [](char c) { return HexDigitValue(c) >= 0; });
}

const OptionRule FLEET_OPTIONS[] = {
    {"--help", false, "-h"}, {"--version"},       {"--no-check"},   {"--modnr", true},
    {"--mode", true},        {"--log-dir", true}, {"--json", true}, {"--events", true},
};

bool ApplyUnitValue(const std::string& name, const std::string& value, UnitOptions* options) {
    if (name == "--modnr") {
        options->modNr = value;
        return IsModNr(value);
    }
    if (name == "--mode") {
        return ParseModeArgument(value, &options->mode);
    }
    if (name == "--log-dir") {
        options->logDir = value;
        return !value.empty();
    }
    return false;
}

bool ApplyFleetOption(const std::string& name, const std::string& value, FleetCommandLine* line,
                      std::string* error) {
    if (name != "--json" && name != "--events") {
        return ApplyUnitOption(name, value, line, error);
    }
    (name == "--json" ? line->jsonFile : line->eventsFile) = value;
    return !value.empty() || RefuseValue(name, value, error);
}

// Each port by tarnix's own rule, so that what the fleet passes on is what tarnix will open.
// "3" and "COM3", or "ttyUSB0" and "/dev/ttyUSB0", are one port given twice.
bool CheckPorts(const std::vector<std::string>& ports, std::string* error) {
    std::vector<std::string> chosen;
    for (const std::string& port : ports) {
        PortChoice choice;
        if (!ParsePortChoice(port, PlatformPortForms(), &choice)) {
            *error = "'" + port + "' is no port: give " + AcceptedPortForms(PlatformPortForms());
            return false;
        }
        std::string name = PortChoiceName(choice);
        if (std::find(chosen.begin(), chosen.end(), name) != chosen.end()) {
            *error = "port '" + port + "' given twice (" + name + ")";
            return false;
        }
        chosen.push_back(name);
    }
    return true;
}

}  // namespace

bool ApplyUnitOption(const std::string& name, const std::string& value, UnitOptions* options,
                     std::string* error) {
    if (name == "--help") {
        options->help = true;
    } else if (name == "--version") {
        options->version = true;
    } else if (name == "--no-check") {
        options->check = false;
    } else if (!ApplyUnitValue(name, value, options)) {
        return RefuseValue(name, value, error);
    }
    return true;
}

bool RefuseValue(const std::string& name, const std::string& value, std::string* error) {
    *error = "bad value '" + value + "' for " + name;
    return false;
}

bool ParseFleetCommandLine(int argc, const char* const* argv, FleetCommandLine* commandLine,
                           std::string* error) {
    auto apply = [commandLine](const std::string& name, const std::string& value,
                               std::string* fault) {
        return ApplyFleetOption(name, value, commandLine, fault);
    };
    std::vector<std::string> operands;
    if (!ReadCommandLine(argc, argv, FLEET_OPTIONS, apply, &operands, error)) {
        return false;
    }
    if (commandLine->help || commandLine->version) {
        return true;
    }
    // Standard output holds one of them whole: event lines and a report mixed would serve
    // neither reader.
    if (commandLine->jsonFile == "-" && commandLine->eventsFile == "-") {
        *error = "--json - and --events - cannot both write to standard output";
        return false;
    }
    if (operands.size() < 2) {
        *error = operands.empty() ? "no file and no port" : "no port";
        return false;
    }
    commandLine->file = operands.front();
    commandLine->ports.assign(operands.begin() + 1, operands.end());
    return CheckPorts(commandLine->ports, error);
}

}  // namespace tarnix
