// tarnix-module: plays the module on a pseudo-terminal so tarnix and tarnix-service can be run
// and checked without hardware.

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "exit_status.h"
#include "memory_image.h"
#include "module_cli.h"
#include "module_log.h"
#include "module_pty.h"
#include "module_verdict.h"
#include "tarnix_version.h"

namespace tarnix {

namespace {

constexpr size_t MAX_IMAGE_SPAN = 64u << 20;

int StopPipe[2] = {-1, -1};

void OnStopSignal(int) {
    char byte = 's';
    (void)!write(StopPipe[1], &byte, 1);
}

// The port list is read only for a usb: port, as tarnix reads it when it opens one.
bool OpenLine(const ModuleCliOptions& options, ModulePty* pty, std::string* error) {
    if (options.device.empty()) {
        return OpenModulePty(pty, error);
    }
    std::vector<SerialPortInfo> ports;
    if (!options.devicePort.usbSerial.empty()) {
        ports = ListSerialPorts();
    }
    std::string device = ModuleDevicePath(options.devicePort, ports, error);
    return !device.empty() && OpenModuleDevice(device, pty, error);
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

// One module of the run: its line, its record, and how its serving ended.
struct ModuleRun {
    ModulePty pty;
    ModuleLog log;
    std::string imageOut;
    bool ok = false;
    std::string error;
};

// With --count, each module writes its own image: FILE.1, FILE.2, ...
std::string ImageOutFor(const ModuleCliOptions& options, int index) {
    if (options.imageOut.empty() || options.count == 1) {
        return options.imageOut;
    }
    return options.imageOut + "." + std::to_string(index + 1);
}

// Every line of `text` with `prefix` before it.
std::string PrefixedLines(const std::string& text, const std::string& prefix) {
    std::string prefixed;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = std::min(text.find('\n', start), text.size());
        prefixed += prefix;
        prefixed.append(text, start, end + 1 - start);
        start = end + 1;
    }
    return prefixed;
}

bool SetUpModule(const ModuleCliOptions& options, ModuleRun* run, std::string* error) {
    return ImageOutWritable(run->imageOut, error) && OpenLine(options, &run->pty, error) &&
           SendBytesBeforeStart(&run->pty, options.config, &run->log, error);
}

void ServeModule(const ModuleConfig& config, ModuleRun* run) {
    run->ok = RunModule(&run->pty, config, &run->log, StopPipe[0], &run->error);
    CloseModulePty(&run->pty);
}

// Prints the module's verdict (each line after its port when several played) and writes its
// image; 0 when it passed.
int ConcludeModule(ModuleRun* run, const MemoryImage* expected, bool several) {
    std::string prefix = several ? run->pty.slavePath + ": " : "";
    bool ok = run->ok;
    if (!ok) {
        std::fprintf(stderr, "tarnix-module: %s%s\n", prefix.c_str(), run->error.c_str());
    }
    std::fputs(PrefixedLines(DescribeModuleVerdict(run->log, expected), prefix).c_str(), stdout);
    std::string error;
    if (!run->imageOut.empty() &&
        !WriteImageBinary(run->log.image, run->imageOut, MAX_IMAGE_SPAN, &error)) {
        std::fprintf(stderr, "tarnix-module: %s\n", error.c_str());
        ok = false;
    }
    return ok && ModuleRunPassed(run->log, expected) ? 0 : 1;
}

// Serves every module at once, one thread each; the one stop pipe stops them all, as nothing
// reads it empty.
void ServeAll(const ModuleConfig& config, std::vector<ModuleRun>* runs) {
    if (runs->size() == 1) {
        ServeModule(config, &runs->front());
        return;
    }
    std::vector<std::thread> threads;
    for (ModuleRun& run : *runs) {
        threads.emplace_back(ServeModule, std::cref(config), &run);
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
}

// All ready lines come before any module is served, so that a caller can read every port
// first.
int Serve(const ModuleCliOptions& options, const MemoryImage* expected) {
    std::string error;
    std::vector<ModuleRun> runs(static_cast<size_t>(options.count));
    bool ready = InstallStopSignals(&error);
    for (size_t i = 0; ready && i < runs.size(); ++i) {
        runs[i].imageOut = ImageOutFor(options, static_cast<int>(i));
        ready = SetUpModule(options, &runs[i], &error);
    }
    if (!ready) {
        std::fprintf(stderr, "tarnix-module: %s\n", error.c_str());
        for (ModuleRun& run : runs) {
            CloseModulePty(&run.pty);
        }
        return 2;
    }
    for (const ModuleRun& run : runs) {
        std::printf("Module ready on %s\n", run.pty.slavePath.c_str());
    }
    std::fflush(stdout);
    ServeAll(options.config, &runs);
    int status = 0;
    for (ModuleRun& run : runs) {
        status = std::max(status, ConcludeModule(&run, expected, runs.size() > 1));
    }
    return status;
}

}  // namespace

}  // namespace tarnix

// The program's entry stays global.
using namespace tarnix;

int main(int argc, char** argv) {
    if (!OpenStandardDescriptors()) {
        return 2;
    }
    ModuleCliOptions options;
    std::string error;
    if (!ParseModuleCommandLine(argc, argv, &options, &error)) {
        std::fprintf(stderr, "tarnix-module: %s\nTry 'tarnix-module --help'.\n", error.c_str());
        return EXIT_USAGE;
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
