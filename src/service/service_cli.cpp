#include "service_cli.h"

#include <charconv>
#include <climits>
#include <cstdint>
#include <string_view>

namespace tarnix {

namespace {

constexpr int MAX_PARAMETER = 0xFF;

struct OperationName {
    const char* name;
    ServiceOperationKind kind;
};

constexpr OperationName OPERATION_NAMES[] = {
    {"info", ServiceOperationKind::Info},     {"flash", ServiceOperationKind::Flash},
    {"status", ServiceOperationKind::Status}, {"param", ServiceOperationKind::Param},
    {"result", ServiceOperationKind::Result}, {"download", ServiceOperationKind::Download},
    {"pause", ServiceOperationKind::Pause},
};

bool IsHelpOption(std::string_view argument) {
    return argument == "--help" || argument == "-h";
}

bool FindOperation(std::string_view name, ServiceOperationKind* kind) {
    for (const OperationName& entry : OPERATION_NAMES) {
        if (name == entry.name) {
            *kind = entry.kind;
            return true;
        }
    }
    return false;
}

bool ParsePort(const std::string& port, PortForms portForms, ServiceCommandLine* commandLine,
               std::string* error) {
    if (!ParsePortChoice(port, portForms, &commandLine->port)) {
        *error = "invalid port '" + port + "': give " + AcceptedPortForms(portForms);
        return false;
    }
    return true;
}

// The argument of an operation that takes one; `argument` is null when none is left.
bool ParseOperationArgument(ServiceOperation* operation, const char* argument, std::string* error) {
    const std::string name = ServiceOperationName(operation->kind);
    switch (operation->kind) {
        case ServiceOperationKind::Param:
            if (argument == nullptr || !ParseServiceNumber(argument, &operation->value) ||
                operation->value < 0 || operation->value > MAX_PARAMETER) {
                *error = name + " needs a VALUE 0..255 (decimal or 0x-hex)" +
                         (argument ? std::string(", not '") + argument + "'" : "");
                return false;
            }
            return true;
        case ServiceOperationKind::Pause:
            if (argument == nullptr || !ParseServiceNumber(argument, &operation->value)) {
                *error = name + " needs TICKS, a whole number of milliseconds" +
                         (argument ? std::string(", not '") + argument + "'" : "");
                return false;
            }
            return true;
        case ServiceOperationKind::Download:
            if (argument == nullptr || argument[0] == '\0') {
                *error = name + " needs a FILE";
                return false;
            }
            operation->path = argument;
            return true;
        default:
            return true;
    }
}

bool TakesArgument(ServiceOperationKind kind) {
    return kind == ServiceOperationKind::Param || kind == ServiceOperationKind::Pause ||
           kind == ServiceOperationKind::Download;
}

bool ParseOperations(int argc, const char* const* argv, int first,
                     std::vector<ServiceOperation>* operations, std::string* error) {
    for (int i = first; i < argc; ++i) {
        ServiceOperation operation;
        if (!FindOperation(argv[i], &operation.kind)) {
            *error = std::string("unknown operation '") + argv[i] + "'";
            return false;
        }
        if (TakesArgument(operation.kind)) {
            const char* argument = (i + 1 < argc) ? argv[++i] : nullptr;
            if (!ParseOperationArgument(&operation, argument, error)) {
                return false;
            }
        }
        operations->push_back(operation);
    }
    if (operations->empty()) {
        *error = "no operation given";
        return false;
    }
    return true;
}

}  // namespace

bool ParseServiceCommandLine(int argc, const char* const* argv, PortForms portForms,
                             ServiceCommandLine* commandLine, std::string* error) {
    for (int i = 1; i < argc; ++i) {
        if (IsHelpOption(argv[i])) {
            commandLine->helpRequested = true;
            return true;
        }
        if (std::string_view(argv[i]) == "--version") {
            commandLine->versionRequested = true;
            return true;
        }
    }
    if (argc < 2) {
        *error = "no PORT given";
        return false;
    }
    return ParsePort(argv[1], portForms, commandLine, error) &&
           ParseOperations(argc, argv, 2, &commandLine->operations, error);
}

bool ParseServiceNumber(const std::string& text, int* value) {
    std::string_view digits = text;
    bool negative = !digits.empty() && digits.front() == '-';
    if (negative) {
        digits.remove_prefix(1);
    }
    int base = 10;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        base = 16;
        digits.remove_prefix(2);
    }
    // Unsigned, so that from_chars refuses a second sign.
    uint64_t magnitude = 0;
    auto [end, result] =
        std::from_chars(digits.data(), digits.data() + digits.size(), magnitude, base);
    if (digits.empty() || result != std::errc{} || end != digits.data() + digits.size()) {
        return false;
    }
    const uint64_t limit = negative ? uint64_t{INT_MAX} + 1 : uint64_t{INT_MAX};
    if (magnitude > limit) {
        return false;
    }
    *value =
        negative ? static_cast<int>(-static_cast<int64_t>(magnitude)) : static_cast<int>(magnitude);
    return true;
}

const char* ServiceOperationName(ServiceOperationKind kind) {
    for (const OperationName& entry : OPERATION_NAMES) {
        if (entry.kind == kind) {
            return entry.name;
        }
    }
    return "?";
}

std::string ServiceUsage(PortForms portForms) {
    std::string usage =
        "Usage: tarnix-service PORT OPERATION [ARG] [OPERATION [ARG]]...\n"
        "\n"
        "Runs service operations on the module, in the order given, on one port opened at\n"
        "115200 Baud (8 data bits, no parity, 2 stop bits). The first operation that fails\n"
        "ends the run; the port is closed in every case.\n"
        "\n";
    usage += portForms == PortForms::Posix
                 ? "PORT   a digit 1..8 (COM1..COM8) or COMn, n from 1 to 255 (COMn is\n"
                   "       /dev/ttyS<n-1>), or a device path containing '/', such as\n"
                   "       /dev/ttyUSB0, or a device name in /dev (ttyUSB0)\n"
                 : "PORT   a digit 1..8 (COM1..COM8) or COMn, n from 1 to 255, also \\\\.\\COMn\n";
    usage +=
        "       or a network port: rfc2217://HOST:PORT (RFC 2217: the far side's line is\n"
        "       set like a local one) or socket://HOST:PORT (raw TCP: the far side must\n"
        "       already be set to 115200 8N2), or usb:SERIAL[:N]: the USB adapter with\n"
        "       that serial number (interface N; see tarnix-ports)\n";
    usage +=
        "\n"
        "Operations:\n"
        "  info           show the controller (VELOX) information\n"
        "  flash          show the flash information\n"
        "  status         show the module's status value in decimal and hex\n"
        "  param VALUE    send the parameter command with VALUE 0..255 (decimal or 0x-hex)\n"
        "  result         read the module's programming result byte\n"
        "  download FILE  download FILE as the primary (ACEX) configuration, then write its\n"
        "                 name and modification time to the module\n"
        "  pause TICKS    wait TICKS milliseconds; 0 or less waits for Enter\n"
        "\n"
        "Exit status:\n"
        "  0   every operation succeeded\n"
        "  1   an operation failed (wrong, missing or rejected reply; failed download)\n"
        "  2   the port could not be opened\n"
        "  64  the command line is malformed (nothing was sent)\n"
        "\n"
        "--help or -h shows this text, --version the version.\n";
    return usage;
}

}  // namespace tarnix
