#include "com_port.h"
#include "command_line.h"
#include "interrupts.h"
#include "run_update.h"
#include "standard_streams.h"

// --version and --help answer at once: no banner, no port, no file, no key wait.
int main(int argc, char** argv) {
    EnsureStandardDescriptors();
    InfoRequest request = FindInfoRequest(argc, argv);
    if (request == InfoRequest::Version) {
        PrintVersion();
        return EXIT_UPDATE_COMPLETED;
    }
    if (request == InfoRequest::Help) {
        PrintHelp(ComDevicePathsSupported());
        return EXIT_UPDATE_COMPLETED;
    }
    InstallInterruptHandlers("tarnix");
    return RunUpdateProgram(argc, argv);
}
