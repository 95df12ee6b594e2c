#include "command_line.h"
#include "interrupts.h"
#include "port.h"
#include "port_choice.h"
#include "run_update.h"
#include "standard_streams.h"
#include "timer_resolution.h"

using namespace tarnix;

// --version and --help answer at once: no banner, no port, no file, no key wait.
int main(int argc, char** argv) {
    EnsureStandardDescriptors();
    InfoRequest request = FindInfoRequest(argc, argv);
    if (request == InfoRequest::Version) {
        PrintVersion();
        return EXIT_UPDATE_COMPLETED;
    }
    if (request == InfoRequest::Help) {
        PrintHelp(PlatformPortForms());
        return EXIT_UPDATE_COMPLETED;
    }
    InstallInterruptHandlers("tarnix", ReleasePortOnInterrupt);
    RaiseTimerResolution();
    int status = RunUpdateProgram(argc, argv);
    RestoreTimerResolution();
    return status;
}
