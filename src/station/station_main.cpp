// tarnix-station: a line station. Every module that arrives in a slot is updated once, on the
// record, and shown live.

#include <cstdio>

#include "exit_status.h"
#include "station_cli.h"
#include "station_run.h"
#include "tarnix_version.h"

namespace tarnix {

namespace {

const char USAGE[] =
    "Usage: tarnix-station [--modnr 0xNN] [--mode 0|1] [--journal FILE] [--log-dir DIR]\n"
    "                      [--serve HOST:PORT] [--units N] [--no-check] FILE SLOT...\n"
    "Checks FILE as tarnix-check does, then watches every SLOT: each module that arrives is\n"
    "updated once (by the tarnix installed beside tarnix-station), recorded in the journal\n"
    "and shown; the slot shows the outcome until the module goes, then waits for the next.\n"
    "\n"
    "  --modnr 0xNN       module number (default 0x89)\n"
    "  --mode 0|1         tarnix's ProgMode: 0 record mode (default), 1 line mode\n"
    "  --journal FILE     one JSON line per unit, appended (default tarnix-journal.jsonl)\n"
    "  --log-dir DIR      each unit's tarnix output, as DIR/unit-N-<port>.log (default\n"
    "                     tarnix-station-logs)\n"
    "  --serve HOST:PORT  serve the page (/), /events, /status, /journal and /metrics\n"
    "                     (read-only, no login: a non-loopback address is warned about)\n"
    "  --units N          end once N units have ended\n"
    "  --no-check         do not refuse an unsound FILE\n"
    "  --help, -h         show this text\n"
    "  --version          show the version\n"
    "\n"
    "SLOT is a pattern with *, ? or [ over device paths (/dev/serial/by-id/usb-FTDI_*):\n"
    "every path that matches is a unit while it exists; or usb:PATTERN over the serial\n"
    "numbers of the USB serial adapters that tarnix-ports lists (usb:FT8*); or a port by\n"
    "tarnix's port rule (COM3, /dev/ttyS0, usb:SERIAL, rfc2217://HOST:PORT), a fixed slot:\n"
    "its module is there while it answers the status query (asked at most every 0.5 s),\n"
    "gone after 2 s without an answer.\n"
    "A request to stop (Ctrl-C, Ctrl-\\, SIGTERM, a closed terminal) starts no new unit and\n"
    "is passed on to every running tarnix, which then releases its module.\n"
    "Exit status: 0 every unit completed, 1 otherwise (or FILE is not sound), 2 the --serve\n"
    "address could not be taken, 64 malformed command line.\n";

}  // namespace

}  // namespace tarnix

// The program's entry stays global.
using namespace tarnix;

int main(int argc, char** argv) {
    StationCommandLine commandLine;
    std::string error;
    if (!ParseStationCommandLine(argc, argv, &commandLine, &error)) {
        fprintf(stderr, "tarnix-station: %s\nTry 'tarnix-station --help'.\n", error.c_str());
        return EXIT_USAGE;
    }
    if (commandLine.help) {
        fputs(USAGE, stdout);
        return 0;
    }
    if (commandLine.version) {
        printf("tarnix-station %s (%s)\n", TARNIX_VERSION, TARNIX_PLATFORM_NAME);
        return 0;
    }
    return RunStation(commandLine);
}
