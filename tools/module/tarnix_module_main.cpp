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

#include "module_emulator.h"
#include "tarnix_version.h"

namespace {

constexpr size_t MAX_IMAGE_SPAN = 64u << 20;

const char USAGE[] =
    "Usage: tarnix-module [OPTION]...\n"
    "Plays the module on a new pseudo-terminal, prints \"Module ready on <path>\" and answers\n"
    "the program that opens that path until it closes the port (or Ctrl-C), then prints a\n"
    "verdict.\n"
    "\n"
    "  --device PATH          serve on this serial device instead of a new pseudo-terminal\n"
    "                         (runs until Ctrl-C)\n"
    "  --reject CMD:N:BYTE    answer the N-th CMD with BYTE (hex: 15 or 0x15) instead of ACK\n"
    "  --silent CMD:N         leave the N-th CMD without any reply\n"
    "  --extra CMD:N:BYTES    send BYTES right after the reply to the N-th CMD\n"
    "  --late CMD:N:MS        send the reply to the N-th CMD only MS milliseconds after it\n"
    "  --before-start BYTES   send BYTES at once, before the program opens the port\n"
    "  --baud RATE            keep the time of a real line at RATE baud, 8N2: answer a frame\n"
    "                         no earlier than its last byte would arrive, and let the reply\n"
    "                         take its own byte time (default: answer at once)\n"
    "  --reply-latency MS     wait MS milliseconds (decimals allowed) before every reply, as a\n"
    "                         USB adapter's latency timer does\n"
    "  --spin-us US           with --baud or --reply-latency: stay awake for the last US\n"
    "                         microseconds before each reply, so that a slow wake-up cannot\n"
    "                         make it late (costs CPU; for timing measurements)\n"
    "  --text-velox TEXT      text of the controller information reply (up to 256 bytes)\n"
    "  --text-flash TEXT      text of the flash information reply (up to 256 bytes)\n"
    "  --info-fault Q:FAULT   damage the reply to query Q (velox or flash); FAULT is one of\n"
    "                         first=BYTE (instead of STX), echo=BYTE, checksum=BYTE,\n"
    "                         marker-ff, no-marker, empty, long (256-byte text, no marker)\n"
    "  --status VALUE         24-bit value of the status reply (decimal or 0x hex)\n"
    "  --no-record-check      Data lines need not be Intel HEX records (line mode)\n"
    "  --image-out FILE       write the received image as binary: the lowest address at\n"
    "                         offset 0, gaps filled with 0xFF\n"
    "  --expect UPDFILE       compare the received image with the records of this update file\n"
    "  --help                 show this text\n"
    "  --version              show the version\n"
    "\n"
    "CMD is one of: start (B), data (C), program (D), end (E), param ($), timestamp (\"),\n"
    "header (download header), block (download block), velox (!), flash (#), status (S).\n"
    "BYTES is one or more hex bytes separated by commas (15 or 0x06,0x15).\n"
    "N counts that command from 1; download blocks are counted over all downloads. A rejected\n"
    "velox, flash or status query is answered with the one BYTE only.\n"
    "\n"
    "The verdict fails when the line carried a protocol error, when an update was left\n"
    "incomplete (no accepted Start, no End, no Finish, or an update command rejected or\n"
    "unanswered; each is named), or when the image differs from --expect.\n"
    "\n"
    "Exit status: 0 when the verdict passes, 1 when it fails, 2 for bad options or when the\n"
    "port cannot be set up.\n";

struct CliOptions {
    ModuleConfig config;
    std::string device;
    std::string imageOut;
    std::string expectFile;
    bool help = false;
    bool version = false;
};

int StopPipe[2] = {-1, -1};

void OnStopSignal(int) {
    char byte = 's';
    (void)!write(StopPipe[1], &byte, 1);
}

bool ParseNumber(const std::string& text, int base, unsigned long max, unsigned long* value) {
    if (text.empty()) {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    unsigned long parsed = std::strtoul(text.c_str(), &end, base);
    if (errno != 0 || *end != '\0' || parsed > max || text[0] == '-') {
        return false;
    }
    *value = parsed;
    return true;
}

bool ParseByte(const std::string& text, uint8_t* byte) {
    std::string digits =
        text.rfind("0x", 0) == 0 || text.rfind("0X", 0) == 0 ? text.substr(2) : text;
    unsigned long value = 0;
    if (digits.size() > 2 || !ParseNumber(digits, 16, 0xFF, &value)) {
        return false;
    }
    *byte = static_cast<uint8_t>(value);
    return true;
}

bool ParseFaultPoint(const std::string& name, FaultPoint* point) {
    static const struct {
        const char* name;
        const char* symbol;
        FaultPoint point;
    } FAULT_POINT_NAMES[] = {
        {"start", "B", FaultPoint::Start},
        {"data", "C", FaultPoint::Data},
        {"program", "D", FaultPoint::Program},
        {"end", "E", FaultPoint::End},
        {"param", "$", FaultPoint::Param},
        {"timestamp", "\"", FaultPoint::Timestamp},
        {"header", nullptr, FaultPoint::DownloadHeader},
        {"block", nullptr, FaultPoint::DownloadBlock},
        {"velox", "!", FaultPoint::VeloxInfo},
        {"flash", "#", FaultPoint::FlashInfo},
        {"status", "S", FaultPoint::Status},
    };
    for (const auto& entry : FAULT_POINT_NAMES) {
        if (name == entry.name || (entry.symbol != nullptr && name == entry.symbol)) {
            *point = entry.point;
            return true;
        }
    }
    return false;
}

// A time in milliseconds, 0 to one minute, decimals allowed ("1", "0.5").
bool ParseMilliseconds(const std::string& text, double* ms) {
    char* end = nullptr;
    errno = 0;
    double value = std::strtod(text.c_str(), &end);
    if (text.empty() || errno != 0 || *end != '\0' || !(value >= 0 && value <= 60000)) {
        return false;
    }
    *ms = value;
    return true;
}

// "15" or "0x06,0x15": one or more bytes.
bool ParseByteList(const std::string& text, std::vector<uint8_t>* bytes) {
    bytes->clear();
    size_t at = 0;
    for (;;) {
        size_t comma = text.find(',', at);
        uint8_t byte = 0;
        if (!ParseByte(text.substr(at, comma - at), &byte)) {
            return false;
        }
        bytes->push_back(byte);
        if (comma == std::string::npos) {
            return true;
        }
        at = comma + 1;
    }
}

// "CMD:N" or "CMD:N:VALUE"; the command is taken up to the first ':' after its first character,
// so "::" would not be mistaken (':' is no command). *value is what follows N, if anything.
bool ParseCommandCount(const std::string& text, bool withValue, FaultPoint* point,
                       unsigned* occurrence, std::string* value) {
    size_t first = text.find(':', 1);
    if (first == std::string::npos) {
        return false;
    }
    size_t second = text.find(':', first + 1);
    if (withValue != (second != std::string::npos)) {
        return false;
    }
    std::string count = text.substr(first + 1, withValue ? second - first - 1 : std::string::npos);
    unsigned long number = 0;
    if (!ParseFaultPoint(text.substr(0, first), point) ||
        !ParseNumber(count, 10, 1000000000, &number) || number == 0) {
        return false;
    }
    *occurrence = static_cast<unsigned>(number);
    *value = withValue ? text.substr(second + 1) : "";
    return true;
}

bool ParseFault(const std::string& text, bool withByte, ReplyFault* fault) {
    std::string byte;
    if (!ParseCommandCount(text, withByte, &fault->point, &fault->occurrence, &byte)) {
        return false;
    }
    fault->silent = !withByte;
    return !withByte || ParseByte(byte, &fault->reply);
}

bool ParseExtraReply(const std::string& text, ModuleConfig* config) {
    ExtraReply extra;
    std::string bytes;
    if (!ParseCommandCount(text, true, &extra.point, &extra.occurrence, &bytes) ||
        !ParseByteList(bytes, &extra.bytes)) {
        return false;
    }
    config->extraReplies.push_back(extra);
    return true;
}

bool ParseLateReply(const std::string& text, ModuleConfig* config) {
    LateReply late;
    std::string delay;
    unsigned long ms = 0;
    if (!ParseCommandCount(text, true, &late.point, &late.occurrence, &delay) ||
        !ParseNumber(delay, 10, 3600000, &ms)) {
        return false;
    }
    late.delayMs = static_cast<unsigned>(ms);
    config->lateReplies.push_back(late);
    return true;
}

bool ApplyInfoFault(const std::string& fault, InfoReplyConfig* info) {
    auto byteAfter = [&fault](const char* prefix, uint8_t* byte) {
        return fault.rfind(prefix, 0) == 0 && ParseByte(fault.substr(std::strlen(prefix)), byte);
    };
    if (byteAfter("first=", &info->firstByte)) {
        info->overrideFirstByte = true;
    } else if (byteAfter("echo=", &info->echo)) {
        info->overrideEcho = true;
    } else if (byteAfter("checksum=", &info->checksum)) {
        info->overrideChecksum = true;
    } else if (fault == "marker-ff") {
        info->marker = InfoMarker::Ff;
    } else if (fault == "no-marker") {
        info->marker = InfoMarker::None;
    } else if (fault == "empty") {
        info->text.clear();
    } else if (fault == "long") {
        info->text.clear();
        for (int i = 0; i < 256; ++i) {
            info->text += static_cast<char>('A' + i % 26);
        }
    } else {
        return false;
    }
    return true;
}

bool ParseInfoFault(const std::string& text, ModuleConfig* config) {
    size_t colon = text.find(':');
    std::string query = text.substr(0, colon);
    InfoReplyConfig* info = query == "velox" || query == "!"   ? &config->velox
                            : query == "flash" || query == "#" ? &config->flash
                                                               : nullptr;
    return info != nullptr && colon != std::string::npos &&
           ApplyInfoFault(text.substr(colon + 1), info);
}

bool ParseInfoText(const std::string& text, InfoReplyConfig* info) {
    if (text.size() > 256 || text.find('\0') != std::string::npos) {
        return false;
    }
    info->text = text;
    return true;
}

// Applies one option with its value; false when the value is malformed.
bool ApplyOption(const std::string& name, const std::string& value, CliOptions* options) {
    ModuleConfig& config = options->config;
    ReplyFault fault;
    unsigned long number = 0;
    if (name == "--device") {
        options->device = value;
    } else if (name == "--reject" || name == "--silent") {
        if (!ParseFault(value, name == "--reject", &fault)) {
            return false;
        }
        config.faults.push_back(fault);
    } else if (name == "--extra") {
        return ParseExtraReply(value, &config);
    } else if (name == "--late") {
        return ParseLateReply(value, &config);
    } else if (name == "--before-start") {
        return ParseByteList(value, &config.bytesBeforeStart);
    } else if (name == "--baud") {
        if (!ParseNumber(value, 10, 4000000, &number) || number == 0) {
            return false;
        }
        config.baud = static_cast<unsigned>(number);
    } else if (name == "--spin-us") {
        if (!ParseNumber(value, 10, 10000, &number)) {
            return false;
        }
        config.spinUs = static_cast<unsigned>(number);
    } else if (name == "--reply-latency") {
        return ParseMilliseconds(value, &config.replyLatencyMs);
    } else if (name == "--text-velox") {
        return ParseInfoText(value, &config.velox);
    } else if (name == "--text-flash") {
        return ParseInfoText(value, &config.flash);
    } else if (name == "--info-fault") {
        return ParseInfoFault(value, &config);
    } else if (name == "--status") {
        if (!ParseNumber(value, 0, 0xFFFFFF, &number)) {
            return false;
        }
        config.statusValue = static_cast<uint32_t>(number);
    } else if (name == "--image-out") {
        options->imageOut = value;
    } else if (name == "--expect") {
        options->expectFile = value;
    }
    return !value.empty();
}

bool TakesValue(const std::string& name) {
    for (const char* known :
         {"--device", "--reject", "--silent", "--extra", "--late", "--before-start", "--baud",
          "--reply-latency", "--spin-us", "--text-velox", "--text-flash", "--info-fault",
          "--status", "--image-out", "--expect"}) {
        if (name == known) {
            return true;
        }
    }
    return false;
}

bool ParseCommandLine(int argc, char** argv, CliOptions* options, std::string* error) {
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        std::string name = arg.substr(0, arg.find('='));
        if (name == "--help" || name == "-h") {
            options->help = true;
            continue;
        }
        if (name == "--version") {
            options->version = true;
            continue;
        }
        if (name == "--no-record-check") {
            options->config.checkRecords = false;
            continue;
        }
        if (!TakesValue(name)) {
            *error = "unknown option '" + arg + "'";
            return false;
        }
        std::string value;
        if (name.size() < arg.size()) {
            value = arg.substr(name.size() + 1);
        } else if (i + 1 < argc) {
            value = argv[++i];
        } else {
            *error = "option '" + name + "' needs a value";
            return false;
        }
        if (!ApplyOption(name, value, options)) {
            *error = "bad value '" + value + "' for " + name;
            return false;
        }
    }
    return true;
}

bool OpenLine(const CliOptions& options, ModulePty* pty, std::string* error) {
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

int Serve(const CliOptions& options, const MemoryImage* expected) {
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
    CliOptions options;
    std::string error;
    if (!ParseCommandLine(argc, argv, &options, &error)) {
        std::fprintf(stderr, "tarnix-module: %s\nTry 'tarnix-module --help'.\n", error.c_str());
        return 2;
    }
    if (options.help) {
        std::fputs(USAGE, stdout);
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
