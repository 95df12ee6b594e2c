#include "module_cli.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "port_backend.h"

namespace tarnix {

const char MODULE_USAGE[] =
    "Usage: tarnix-module [OPTION]...\n"
    "Plays the module on a new pseudo-terminal, prints \"Module ready on <path>\" and answers\n"
    "the program that opens that path until it closes the port (or Ctrl-C), then prints a\n"
    "verdict.\n"
    "\n"
    "  --device PORT          serve on this serial device instead of a new pseudo-terminal\n"
    "                         (runs until Ctrl-C); PORT as tarnix takes it: a path, a device\n"
    "                         name in /dev, COMn or a digit 1..8, usb:SERIAL[:N]\n"
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
    "  --count N              play N modules at once (1 to 64), each on its own\n"
    "                         pseudo-terminal with the same options: a ready line for each\n"
    "                         before any is served, then each verdict with its port before\n"
    "                         every line; --image-out FILE writes FILE.1, FILE.2, ...\n"
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
    "Exit status: 0 when the verdict passes (with --count: every verdict), 1 when it fails,\n"
    "2 when a port cannot be set up, 64 for bad options.\n";

namespace {

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

bool AddFault(const std::string& text, bool withByte, ModuleConfig* config) {
    ReplyFault fault;
    if (!ParseFault(text, withByte, &fault)) {
        return false;
    }
    config->faults.push_back(fault);
    return true;
}

// A file or device path: any text but the empty one.
bool SetPath(const std::string& text, std::string* path) {
    *path = text;
    return !text.empty();
}

template <typename Number>
bool SetNumber(const std::string& text, int base, unsigned long min, unsigned long max,
               Number* number) {
    unsigned long value = 0;
    if (!ParseNumber(text, base, max, &value) || value < min) {
        return false;
    }
    *number = static_cast<Number>(value);
    return true;
}

// An option that takes a value, and what the value does; apply is false for a malformed value.
struct ValueOption {
    const char* name;
    bool (*apply)(const std::string& value, ModuleCliOptions* options);
};

using Value = const std::string&;
using Options = ModuleCliOptions*;

const ValueOption VALUE_OPTIONS[] = {
    {"--device", [](Value v, Options o) { return SetPath(v, &o->device); }},
    {"--reject", [](Value v, Options o) { return AddFault(v, true, &o->config); }},
    {"--silent", [](Value v, Options o) { return AddFault(v, false, &o->config); }},
    {"--extra", [](Value v, Options o) { return ParseExtraReply(v, &o->config); }},
    {"--late", [](Value v, Options o) { return ParseLateReply(v, &o->config); }},
    {"--before-start",
     [](Value v, Options o) { return ParseByteList(v, &o->config.bytesBeforeStart); }},
    {"--baud", [](Value v, Options o) { return SetNumber(v, 10, 1, 4000000, &o->config.baud); }},
    {"--reply-latency",
     [](Value v, Options o) { return ParseMilliseconds(v, &o->config.replyLatencyMs); }},
    {"--spin-us", [](Value v, Options o) { return SetNumber(v, 10, 0, 10000, &o->config.spinUs); }},
    {"--text-velox", [](Value v, Options o) { return ParseInfoText(v, &o->config.velox); }},
    {"--text-flash", [](Value v, Options o) { return ParseInfoText(v, &o->config.flash); }},
    {"--info-fault", [](Value v, Options o) { return ParseInfoFault(v, &o->config); }},
    // strtoul's base 0: decimal, hex after 0x, and also octal after a leading 0, which the help
    // text does not mention.
    {"--status",
     [](Value v, Options o) { return SetNumber(v, 0, 0, 0xFFFFFF, &o->config.statusValue); }},
    {"--image-out", [](Value v, Options o) { return SetPath(v, &o->imageOut); }},
    {"--expect", [](Value v, Options o) { return SetPath(v, &o->expectFile); }},
    {"--count", [](Value v, Options o) { return SetNumber(v, 10, 1, 64, &o->count); }},
};

const ValueOption* FindValueOption(const std::string& name) {
    for (const ValueOption& option : VALUE_OPTIONS) {
        if (name == option.name) {
            return &option;
        }
    }
    return nullptr;
}

// The options without a value; false for any other name.
bool ApplyFlag(const std::string& name, ModuleCliOptions* options) {
    if (name == "--help" || name == "-h") {
        options->help = true;
    } else if (name == "--version") {
        options->version = true;
    } else if (name == "--no-record-check") {
        options->config.checkRecords = false;
    } else {
        return false;
    }
    return true;
}

// --device by tarnix's port rule. A network port names a connection to a far side, not a line
// on which this machine could play the module.
bool ReadDeviceOption(ModuleCliOptions* options, std::string* error) {
    if (options->device.empty()) {
        return true;
    }
    PortChoice port;
    if (!ParsePortChoice(options->device, PlatformPortForms(), &port)) {
        *error = "bad value '" + options->device +
                 "' for --device: give a device path (/dev/ttyUSB0), a device name in /dev "
                 "(ttyUSB0), COMn or a digit 1 to 8, or usb:SERIAL[:N]";
        return false;
    }
    if (port.network.protocol != NetworkProtocol::None) {
        *error = "--device '" + options->device +
                 "' is a network port: the module is played on a serial line of this machine "
                 "(run tarnix-module where the device server's line is, or on a pseudo-terminal)";
        return false;
    }
    options->devicePort = port;
    return true;
}

}  // namespace

std::string ModuleDevicePath(const PortChoice& port, const std::vector<SerialPortInfo>& ports,
                             std::string* error) {
    if (!port.usbSerial.empty()) {
        UsbPortResolution found = ResolveUsbPort(ports, port.usbSerial, port.usbInterface);
        if (found.device.empty()) {
            *error = PortChoiceName(port) + ": " + found.failure;
        }
        return found.device;
    }
    return port.devicePath.empty() ? ComPortDevicePath(port.comNr) : port.devicePath;
}

bool ParseModuleCommandLine(int argc, char** argv, ModuleCliOptions* options, std::string* error) {
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        std::string name = arg.substr(0, arg.find('='));
        if (ApplyFlag(name, options)) {
            continue;
        }
        const ValueOption* option = FindValueOption(name);
        if (option == nullptr) {
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
        if (!option->apply(value, options)) {
            *error = "bad value '" + value + "' for " + name;
            return false;
        }
    }
    if (options->count > 1 && !options->device.empty()) {
        *error = "--count plays modules on pseudo-terminals, not on --device";
        return false;
    }
    return ReadDeviceOption(options, error);
}

}  // namespace tarnix
