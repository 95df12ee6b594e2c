// tarnix-fleet: one update into many modules at once, one tarnix per port.

#include <cstdio>

#include "exit_status.h"
#include "fleet_cli.h"
#include "fleet_ports.h"
#include "fleet_run.h"
#include "tarnix_version.h"

namespace tarnix {

namespace {

const char USAGE[] =
    "Usage: tarnix-fleet [--modnr 0xNN] [--mode 0|1] [--log-dir DIR] [--json FILE|-]\n"
    "                    [--events FILE|-] [--no-check] FILE PORT...\n"
    "Checks FILE as tarnix-check does, then loads it into the module on every PORT at once,\n"
    "running one tarnix (the one installed beside tarnix-fleet) per port.\n"
    "\n"
    "  --modnr 0xNN    module number (default 0x89)\n"
    "  --mode 0|1      tarnix's ProgMode: 0 record mode (default), 1 line mode\n"
    "  --log-dir DIR   where each tarnix's output goes, as DIR/<port>.log (default: a new\n"
    "                  folder tarnix-fleet-YYYYMMDD-HHMMSS under the current one)\n"
    "  --json FILE     also write the final report as JSON to FILE (format 2)\n"
    "                  (-: standard output, then no live lines and the table on stderr)\n"
    "  --events FILE   write one JSON line per start, progress and end as the run goes\n"
    "                  (-: standard output, as for --json; not both on standard output)\n"
    "  --no-check      do not check FILE first\n"
    "  --help, -h      show this text\n"
    "  --version       show the version\n"
    "\n"
    "PORT is taken as tarnix takes its ComNr: a digit 1..8 (COM1..COM8), COMn with n from 1\n"
    "to 255, on Linux a device path (/dev/ttyUSB0) or a device name in /dev (ttyUSB0), and\n"
    "a network port rfc2217://HOST:PORT or socket://HOST:PORT (ports behind a terminal\n"
    "server or ser2net), and usb:SERIAL or usb:SERIAL:N, a USB adapter by its serial number\n"
    "(see tarnix-ports).\n"
    "Anything else is refused before any port is touched, and so are two PORTs that are one\n"
    "port (\"1\" and /dev/ttyS0, a link and its device, two names of one host and TCP\n"
    "port). A request to stop (Ctrl-C, Ctrl-\\, SIGTERM, a closed terminal; on Windows also\n"
    "Ctrl-Break) is passed on to every running tarnix, which then releases its module.\n"
    "Exit status: 0 every port completed, 1 otherwise (or FILE is not sound), 2 no port could\n"
    "be opened, 64 malformed command line.\n";

}  // namespace

}  // namespace tarnix

// The program's entry stays global.
using namespace tarnix;

int main(int argc, char** argv) {
    FleetCommandLine commandLine;
    std::string error;
    bool understood = ParseFleetCommandLine(argc, argv, &commandLine, &error);
    if (understood && !commandLine.help && !commandLine.version) {
        understood = CheckPortsDistinct(commandLine.ports, &error);
    }
    if (!understood) {
        fprintf(stderr, "tarnix-fleet: %s\nTry 'tarnix-fleet --help'.\n", error.c_str());
        return EXIT_USAGE;
    }
    if (commandLine.help) {
        fputs(USAGE, stdout);
        return 0;
    }
    if (commandLine.version) {
        printf("tarnix-fleet %s (%s)\n", TARNIX_VERSION, TARNIX_PLATFORM_NAME);
        return 0;
    }
    return RunFleet(commandLine);
}
