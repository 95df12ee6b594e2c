#include "com_port.h"
#include "command_line.h"
#include "run_update.h"

// --version and --help answer at once: no banner, no port, no file, no key wait.
int main(int argc, char** argv) {
    InfoRequest request = FindInfoRequest(argc, argv);
    if (request == InfoRequest::Version) {
        PrintVersion();
        return EXIT_UPDATE_COMPLETED;
    }
    if (request == InfoRequest::Help) {
        PrintHelp(ComDevicePathsSupported());
        return EXIT_UPDATE_COMPLETED;
    }
    return RunUpdateProgram(argc, argv);
}
