#include "fleet_cli.h"

#include <algorithm>

#include "check_cli.h"
#include "hex_digits.h"
#include "port_choice.h"

namespace {

// Strictly "0x" and one or two hex digits: tarnix would quietly ignore anything more.
bool IsModNr(const std::string& text) {
    if (text.size() < 3 || text.size() > 4 || text.rfind("0x", 0) != 0) {
        return false;
    }
    return std::all_of(text.begin() + 2, text.end(), [](char c) { return HexDigitValue(c) >= 0; });
}

bool ApplyOption(const std::string& name, const std::string& value, FleetCommandLine* line) {
    if (name == "--modnr") {
        line->modNr = value;
        return IsModNr(value);
    }
    if (name == "--mode") {
        return ParseModeArgument(value, &line->mode);
    }
    if (name == "--log-dir") {
        line->logDir = value;
    } else if (name == "--events") {
        line->eventsFile = value;
    } else {
        line->jsonFile = value;
    }
    return !value.empty();
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

bool ParseFleetCommandLine(int argc, const char* const* argv, FleetCommandLine* commandLine,
                           std::string* error) {
    std::vector<std::string> operands;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        std::string name = arg.substr(0, arg.find('='));
        std::string value;
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            operands.push_back(arg);
        } else if (arg == "--") {
            optionsEnded = true;
        } else if (arg == "--help" || arg == "-h") {
            commandLine->help = true;
        } else if (arg == "--version") {
            commandLine->version = true;
        } else if (arg == "--no-check") {
            commandLine->check = false;
        } else if (name == "--modnr" || name == "--mode" || name == "--log-dir" ||
                   name == "--json" || name == "--events") {
            if (!TakeOptionValue(argc, argv, &i, arg, &value)) {
                *error = "option '" + name + "' needs a value";
                return false;
            }
            if (!ApplyOption(name, value, commandLine)) {
                *error = "bad value '" + value + "' for " + name;
                return false;
            }
        } else {
            *error = "unknown option '" + arg + "'";
            return false;
        }
    }
    if (commandLine->help || commandLine->version) {
        return true;
    }
    if (operands.size() < 2) {
        *error = operands.empty() ? "no file and no port" : "no port";
        return false;
    }
    commandLine->file = operands.front();
    commandLine->ports.assign(operands.begin() + 1, operands.end());
    return CheckPorts(commandLine->ports, error);
}
