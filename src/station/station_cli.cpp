#include "station_cli.h"

#include <algorithm>

#include "network_address.h"
#include "options.h"
#include "port_choice.h"

namespace tarnix {

namespace {

bool IsPattern(const std::string& text) {
    return text.find_first_of("*?[") != std::string::npos;
}

// A decimal number from 1 to `max` without leading zeros or signs.
bool ParseCount(const std::string& text, long max, long* value) {
    if (text.empty() || text.size() > 9 || text[0] == '0' ||
        text.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    *value = std::stol(text);
    return *value <= max;
}

const OptionRule STATION_OPTIONS[] = {
    {"--help", false, "-h"}, {"--version"},     {"--no-check"},
    {"--modnr", true},       {"--mode", true},  {"--journal", true},
    {"--log-dir", true},     {"--serve", true}, {"--units", true},
};

bool ApplyStationValue(const std::string& name, const std::string& value,
                       StationCommandLine* line) {
    if (name == "--units") {
        return ParseCount(value, 100000000, &line->units);
    }
    if (name == "--serve") {
        return ParseServeAddress(value, &line->serveHost, &line->servePort);
    }
    line->journalFile = value;  // --journal
    return !value.empty();
}

bool ApplyStationOption(const std::string& name, const std::string& value, StationCommandLine* line,
                        std::string* error) {
    if (name != "--units" && name != "--serve" && name != "--journal") {
        return ApplyUnitOption(name, value, line, error);
    }
    return ApplyStationValue(name, value, line) || RefuseValue(name, value, error);
}

// Two slots are one when the port rule names them alike, or when the patterns are the same.
std::string SlotIdentity(const SlotForm& slot) {
    PortChoice choice;
    if (slot.kind == SlotKind::Fixed && ParsePortChoice(slot.text, PlatformPortForms(), &choice)) {
        return PortChoiceName(choice);
    }
    return slot.text;
}

bool ParseSlots(const std::vector<std::string>& texts, std::vector<SlotForm>* slots,
                std::string* error) {
    std::vector<std::string> seen;
    for (const std::string& text : texts) {
        SlotForm slot;
        if (!ParseSlot(text, &slot, error)) {
            return false;
        }
        std::string identity = SlotIdentity(slot);
        if (std::find(seen.begin(), seen.end(), identity) != seen.end()) {
            *error = "slot '" + text + "' given twice (" + identity + ")";
            return false;
        }
        seen.push_back(identity);
        slots->push_back(slot);
    }
    return true;
}

}  // namespace

bool ParseSlot(const std::string& text, SlotForm* slot, std::string* error) {
    slot->text = text;
    bool usb = text.rfind("usb:", 0) == 0;
    if (!LooksLikeUrl(text) && IsPattern(text)) {
        slot->kind = usb ? SlotKind::UsbPattern : SlotKind::PathPattern;
        slot->pattern = usb ? text.substr(4) : text;
        // Device paths only: a bare name would be a pattern over the current folder.
        if (!usb && PlatformPortForms() == PortForms::Posix && text[0] != '/') {
            *error = "pattern '" + text + "' is no absolute device path (/dev/...)";
            return false;
        }
        return true;
    }
    PortChoice choice;
    if (!ParsePortChoice(text, PlatformPortForms(), &choice)) {
        *error = "'" + text + "' is no slot: give a pattern over device paths, usb:PATTERN, or " +
                 AcceptedPortForms(PlatformPortForms());
        return false;
    }
    slot->kind = SlotKind::Fixed;
    return true;
}

bool ParseServeAddress(const std::string& text, std::string* host, int* port) {
    size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0) {
        return false;
    }
    std::string hostText = text.substr(0, colon);
    if (hostText.front() == '[') {
        if (hostText.size() < 3 || hostText.back() != ']') {
            return false;
        }
        hostText = hostText.substr(1, hostText.size() - 2);
    } else if (hostText.find(':') != std::string::npos) {
        return false;  // an IPv6 address needs its brackets
    }
    long number = 0;
    if (hostText.find_first_of(" \t[]/") != std::string::npos ||
        !ParseCount(text.substr(colon + 1), 65535, &number)) {
        return false;
    }
    *host = hostText;
    *port = static_cast<int>(number);
    return true;
}

bool ParseStationCommandLine(int argc, const char* const* argv, StationCommandLine* commandLine,
                             std::string* error) {
    auto apply = [commandLine](const std::string& name, const std::string& value,
                               std::string* fault) {
        return ApplyStationOption(name, value, commandLine, fault);
    };
    std::vector<std::string> operands;
    if (!ReadCommandLine(argc, argv, STATION_OPTIONS, apply, &operands, error)) {
        return false;
    }
    if (commandLine->help || commandLine->version) {
        return true;
    }
    if (operands.size() < 2) {
        *error = operands.empty() ? "no file and no slot" : "no slot";
        return false;
    }
    commandLine->file = operands.front();
    return ParseSlots({operands.begin() + 1, operands.end()}, &commandLine->slots, error);
}

}  // namespace tarnix
