// tarnix-module: plays the module on a pseudo-terminal so tarnix and tarnix-service can be run
// and checked without hardware.

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <unistd.h>

#include "memory_image.h"
#include "module_cli.h"
#include "module_log.h"
#include "module_pty.h"
#include "module_verdict.h"
#include "tarnix_version.h"

namespace {

constexpr size_t MAX_IMAGE_SPAN = 64u << 20;

int StopPipe[2] = {-1, -1};

void OnStopSignal(int) {
    char byte = 's';
    (void)!write(StopPipe[1], &byte, 1);
}

bool OpenLine(const ModuleCliOptions& options, ModulePty* pty, std::string* error) {
    return options.device.empty() ? OpenModulePty(pty, error)
                                  : OpenModuleDevice(options.device, pty, error);
}

bool InstallStopSignals(std::string* error) {
    if (pipe(StopPipe) != 0 || fcntl(StopPipe[0], F_SETFD, FD_CLOEXEC) != 0 ||
        fcntl(StopPipe[1], F_SETFD, FD_CLOEXEC) != 0) {
        *error = std::string("pipe: ") + std::strerror(errno);
        return false;
    }
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    if (sigaction(SIGINT, &action, nullptr) != 0 || sigaction(SIGTERM, &action, nullptr) != 0) {
        *error = std::string("sigaction: ") + std::strerror(errno);
        return false;
    }
    return true;
}

// A descriptor 0, 1 or 2 left closed by the caller would be taken by the line, and the verdict
// or an error message would go out to the program as bytes from the module.
bool OpenStandardDescriptors() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) == -1 && errno == EBADF && open("/dev/null", O_RDWR) != fd) {
            return false;
        }
    }
    return true;
}

// The image is written when the run ends; a path that cannot take it must fail at start, not
// after a whole update has been played.
bool ImageOutWritable(const std::string& path, std::string* error) {
    if (path.empty()) {
        return true;
    }
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) {
        *error = "cannot write " + path + ": " + std::strerror(errno);
        return false;
    }
    close(fd);
    return true;
}

int Serve(const ModuleCliOptions& options, const MemoryImage* expected) {
    ModulePty pty;
    std::string error;
    ModuleLog log;
    if (!ImageOutWritable(options.imageOut, &error) || !InstallStopSignals(&error) ||
        !OpenLine(options, &pty, &error) ||
        !SendBytesBeforeStart(&pty, options.config, &log, &error)) {
        std::fprintf(stderr, "tarnix-module: %s\n", error.c_str());
        return 2;
    }
    std::printf("Module ready on %s\n", pty.slavePath.c_str());
    std::fflush(stdout);
    bool ok = RunModule(&pty, options.config, &log, StopPipe[0], &error);
    CloseModulePty(&pty);
    if (!ok) {
        std::fprintf(stderr, "tarnix-module: %s\n", error.c_str());
    }
    std::fputs(DescribeModuleVerdict(log, expected).c_str(), stdout);
    if (!options.imageOut.empty() &&
        !WriteImageBinary(log.image, options.imageOut, MAX_IMAGE_SPAN, &error)) {
        std::fprintf(stderr, "tarnix-module: %s\n", error.c_str());
        ok = false;
    }
    return ok && ModuleRunPassed(log, expected) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (!OpenStandardDescriptors()) {
        return 2;
    }
    ModuleCliOptions options;
    std::string error;
    if (!ParseModuleCommandLine(argc, argv, &options, &error)) {
        std::fprintf(stderr, "tarnix-module: %s\nTry 'tarnix-module --help'.\n", error.c_str());
        return 2;
    }
    if (options.help) {
        std::fputs(MODULE_USAGE, stdout);
        return 0;
    }
    if (options.version) {
        std::printf("tarnix-module %s (%s)\n", TARNIX_VERSION, TARNIX_PLATFORM_NAME);
        return 0;
    }
    MemoryImage expected;
    if (!options.expectFile.empty() && !LoadUpdateImage(options.expectFile, &expected, &error)) {
        std::fprintf(stderr, "tarnix-module: %s\n", error.c_str());
        return 2;
    }
    return Serve(options, options.expectFile.empty() ? nullptr : &expected);
}
