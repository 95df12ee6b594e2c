#include <cstdio>

#include "module_emulator.h"

int main() {
    ModulePty pty;
    std::string error;
    if (!OpenModulePty(&pty, &error)) {
        std::fprintf(stderr, "tarnix-module: %s\n", error.c_str());
        return 2;
    }
    std::printf("Module ready on %s\n", pty.slavePath.c_str());
    std::fflush(stdout);
    ModuleConfig config;
    ModuleLog log;
    RunModule(&pty, config, &log, -1, &error);
    std::fputs(DescribeModuleVerdict(log, nullptr).c_str(), stdout);
    return ModuleRunPassed(log, nullptr) ? 0 : 1;
}
