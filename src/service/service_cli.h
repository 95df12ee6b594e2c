#pragma once
// The command line of tarnix-service: PORT OPERATION [ARG] [OPERATION [ARG]]...

#include <string>
#include <vector>

#include "exit_status.h"
#include "port_choice.h"

namespace tarnix {

// Exit statuses of tarnix-service; EXIT_PORT_NOT_OPENED and EXIT_USAGE are shared.
inline constexpr int EXIT_ALL_SUCCEEDED = 0;
inline constexpr int EXIT_OPERATION_FAILED = 1;

enum class ServiceOperationKind { Info, Flash, Status, Param, Result, Download, Pause };

struct ServiceOperation {
    ServiceOperationKind kind = ServiceOperationKind::Info;
    int value = 0;     // param: the parameter byte; pause: the ticks
    std::string path;  // download: the file
};

struct ServiceCommandLine {
    bool helpRequested = false;
    bool versionRequested = false;
    PortChoice port;
    std::vector<ServiceOperation> operations;
};

// Parses the arguments (argv[0] is the program); the port by the one port rule (port_choice.h).
// Returns false with a one-line reason in *error when the command line is malformed; "--help" or
// "-h" anywhere only sets helpRequested, "--version" anywhere only versionRequested (the first of
// them counts).
bool ParseServiceCommandLine(int argc, const char* const* argv, PortForms portForms,
                             ServiceCommandLine* commandLine, std::string* error);

// Decimal or 0x-hexadecimal, optionally negative, fitting an int; nothing else.
bool ParseServiceNumber(const std::string& text, int* value);

// The name of an operation as typed on the command line.
const char* ServiceOperationName(ServiceOperationKind kind);

// The usage text, with the exit codes and the platform's port forms.
std::string ServiceUsage(PortForms portForms);

}  // namespace tarnix
