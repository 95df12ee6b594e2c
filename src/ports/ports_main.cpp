// tarnix-ports: the serial ports of the machine, and which of them are USB adapters, so that a
// bench knows what to give tarnix as its port. It opens no port and sends nothing.

#include <cstdio>

#include "exit_status.h"
#include "port_list.h"
#include "ports_cli.h"
#include "ports_report.h"
#include "tarnix_version.h"

namespace tarnix {

namespace {

const char USAGE[] =
    "Usage: tarnix-ports [--json]\n"
    "Lists the serial ports of this machine, one line each: the device, its stable name\n"
    "where there is one, and for USB adapters VID:PID, manufacturer, product, serial number,\n"
    "interface, driver and (Linux) the latency timer. No port is opened.\n"
    "An adapter with a serial number can be given to tarnix, tarnix-service and tarnix-fleet\n"
    "as usb:SERIAL, or usb:SERIAL:N for interface N of a multi-port adapter.\n"
    "\n"
    "  --json     one JSON object {\"ports\": [...]} on standard output instead of text;\n"
    "             every member is always present, null where it is not known\n"
    "  --help     show this text\n"
    "  --version  show the version\n"
    "\n"
    "Exit status: 0 (also when there is no serial port), 64 malformed command line.\n";

}  // namespace

}  // namespace tarnix

// The program's entry stays global.
using namespace tarnix;

int main(int argc, char** argv) {
    PortsCommandLine commandLine;
    std::string error;
    if (!ParsePortsCommandLine(argc, argv, &commandLine, &error)) {
        fprintf(stderr, "tarnix-ports: %s\nTry 'tarnix-ports --help'.\n", error.c_str());
        return EXIT_USAGE;
    }
    if (commandLine.help) {
        fputs(USAGE, stdout);
        return 0;
    }
    if (commandLine.version) {
        printf("tarnix-ports %s (%s)\n", TARNIX_VERSION, TARNIX_PLATFORM_NAME);
        return 0;
    }
    std::vector<SerialPortInfo> ports = ListSerialPorts();
    fputs((commandLine.json ? PortsJson(ports) : DescribePorts(ports)).c_str(), stdout);
    if (ports.empty()) {
        fputs("no serial ports found\n", stderr);
    }
    return 0;
}
