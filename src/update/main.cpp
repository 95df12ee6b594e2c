#include "interrupts.h"
#include "run_update.h"
#include "standard_streams.h"

int main(int argc, char** argv) {
    EnsureStandardDescriptors();
    InstallInterruptHandlers("tarnix");
    return RunUpdateProgram(argc, argv);
}
