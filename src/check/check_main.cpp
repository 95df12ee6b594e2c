// tarnix-check: checks update files as tarnix will read them, before any port is touched.

#include <cstdio>

#include "check_cli.h"
#include "check_report.h"
#include "exit_status.h"
#include "tarnix_version.h"

namespace tarnix {

namespace {

const char USAGE[] =
    "Usage: tarnix-check [--mode 0|1] [--latency MS] [--host-time MS] [--json] FILE...\n"
    "Checks update files as tarnix reads them, without opening any port.\n"
    "\n"
    "  --mode 0|1     tarnix's ProgMode: 0 record mode (header and Intel HEX records, the\n"
    "                 default), 1 line mode (every line forwarded)\n"
    "  --latency MS   reply latency of the module and adapter for the time estimate (default 1)\n"
    "  --host-time MS the PC's own time per command, from a reply to the next command, for the\n"
    "                 time estimate (default 0.1)\n"
    "  --json         one JSON report on standard output instead of text\n"
    "  --help         show this text\n"
    "  --version      show the version\n"
    "\n"
    "Exit status: 0 every file is sound, 1 any is not, 64 malformed command line.\n";

}  // namespace

}  // namespace tarnix

// The program's entry stays global.
using namespace tarnix;

int main(int argc, char** argv) {
    CheckCommandLine commandLine;
    std::string error;
    if (!ParseCheckCommandLine(argc, argv, &commandLine, &error)) {
        fprintf(stderr, "tarnix-check: %s\nTry 'tarnix-check --help'.\n", error.c_str());
        return EXIT_USAGE;
    }
    if (commandLine.help) {
        fputs(USAGE, stdout);
        return 0;
    }
    if (commandLine.version) {
        printf("tarnix-check %s (%s)\n", TARNIX_VERSION, TARNIX_PLATFORM_NAME);
        return 0;
    }
    std::vector<FileCheck> checks;
    bool allSound = true;
    for (const std::string& file : commandLine.files) {
        checks.push_back(CheckUpdateFile(file, commandLine.options));
        allSound = allSound && checks.back().Sound();
        if (!commandLine.json) {
            fputs(DescribeFileCheck(checks.back(), commandLine.options).c_str(), stdout);
        }
    }
    if (commandLine.json) {
        fputs(FileChecksJson(checks, commandLine.options).c_str(), stdout);
    }
    return allSound ? EXIT_CHECK_SOUND : EXIT_CHECK_NOT_SOUND;
}
