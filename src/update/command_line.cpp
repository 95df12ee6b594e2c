#include "command_line.h"

#include <cstdio>
#include <string_view>

#include "hex_digits.h"
#include "tarnix_version.h"

namespace tarnix {

bool ParseModNr(const char* text, uint8_t* modNr) {
    std::string_view argument = text;
    if (argument.size() < 3 || argument.size() > 4 || argument.substr(0, 2) != "0x") {
        return false;
    }
    int value = 0;
    for (char c : argument.substr(2)) {
        if (HexDigitValue(c) < 0) {
            return false;
        }
        value = value * 16 + HexDigitValue(c);
    }
    *modNr = static_cast<uint8_t>(value);
    return true;
}

// The program is tarnix.exe on Windows and tarnix where it is installed on Linux.
static void PrintUsage() {
    printf("\nUsage : %s [ModNr] [filename] [ProgMode] [ComNr]\n", TARNIX_PROGRAM_FILE);
    printf("Default values : ModNr=0x89 (Display-Modul)  ProgMode=0  ComNr=1 (COM1)\n");
}

InfoRequest FindInfoRequest(int argc, const char* const* argv) {
    if (argc != 2) {
        return InfoRequest::None;
    }
    std::string_view argument = argv[1];
    if (argument == "--version") {
        return InfoRequest::Version;
    }
    if (argument == "--help" || argument == "-h" || argument == "/?") {
        return InfoRequest::Help;
    }
    return InfoRequest::None;
}

void PrintVersion() {
    printf("tarnix %s (%s)\n", TARNIX_VERSION, TARNIX_PLATFORM_NAME);
}

static void PrintNetworkPortRules() {
    printf(
        "Network ports: rfc2217://HOST:PORT (a serial device server or ser2net with RFC 2217;\n"
        "the far side's line is set as a local one) or socket://HOST:PORT (raw TCP: the far\n"
        "side must already be set to 115200 8N2). HOST may be [IPv6]. RFC 2217 has no\n"
        "authentication: use it on trusted networks or through an SSH tunnel.\n");
}

static void PrintPortRules(PortForms portForms) {
    if (portForms == PortForms::Windows) {
        printf(
            "Ports: COM1 to COM8 as a digit, any COM port as COMn (COM12), also \\\\.\\COMn. A "
            "USB\n"
            "adapter is reached through the COM number that Windows gives it (Device Manager).\n");
        return;
    }
    printf(
        "Ports: COM<n> is /dev/ttyS<n-1> (COM1 is /dev/ttyS0). A ComNr that contains '/' is a\n"
        "device path (/dev/ttyUSB0, /dev/serial/by-id/...); a device name (ttyUSB0, ttyACM0)\n"
        "stands for that device in /dev. The port is held exclusively; opening a serial device\n"
        "needs the 'dialout' group.\n");
}

void PrintHelp(PortForms portForms) {
    PrintUsage();
    printf(
        "\n"
        "  ModNr     module number: 0x and one or two hex digits\n"
        "  filename  the update file; with fewer than two arguments the program asks for it\n"
        "  ProgMode  0: record mode (a 32-byte header, then Intel HEX records); 1: line mode,\n"
        "            every line sent as it stands\n"
        "  ComNr     the port: a digit 1 to 8 selects COM1 to COM8; COMn any COM port;\n"
        "            rfc2217://HOST:PORT or socket://HOST:PORT a port over the network;\n"
        "            usb:SERIAL[:N] the USB adapter with that serial number (tarnix-ports)\n"
        "\n"
        "An absent argument takes its default; one that is not understood is refused, and\n"
        "nothing is sent. An empty filename and a fifth argument are refused likewise.\n"
        "\n");
    PrintPortRules(portForms);
    PrintNetworkPortRules();
    printf(
        "\n"
        "Exit status: 0 the update completed; 1 it failed or was not done; 2 the port could\n"
        "not be opened; 64 the command line was refused; 130 interrupted by Ctrl-C (128+n:\n"
        "ended by signal n).\n"
        "\n"
        "%s --version shows the version; --help, -h or /? this text.\n",
        TARNIX_PROGRAM_FILE);
}

namespace {

// Any argument that looks like an option, besides the requests answered when they stand alone.
bool RefuseOptions(int argc, const char* const* argv, RunSettings* settings) {
    for (int i = 1; i < argc; ++i) {
        if (argv[i][0] == '-' || std::string_view(argv[i]) == "/?") {
            settings->refusals.push_back(
                std::string("'") + argv[i] +
                "' is no argument of tarnix: --version, --help, -h and /? are answered only "
                "as the one argument");
        }
    }
    return !settings->refusals.empty();
}

void ParseModNrArgument(const char* text, RunSettings* settings) {
    if (!ParseModNr(text, &settings->modNr)) {
        printf("Undefined format for ModNr ! Please use f.e. 0x89\n");
        settings->refusals.push_back(std::string("ModNr '") + text +
                                     "' is not 0x and one or two hex digits (e.g. 0x89)");
    }
}

// The first character decides, so "1x" is still line mode.
void ParseProgModeArgument(const char* text, RunSettings* settings) {
    if (text[0] == '0' || text[0] == '1') {
        settings->progMode = text[0] == '1' ? PROG_MODE_LINES : PROG_MODE_RECORDS;
        return;
    }
    settings->refusals.push_back(std::string("ProgMode '") + text +
                                 "' is neither 0 (record mode) nor 1 (line mode)");
}

void ParsePortArgument(const char* text, PortForms portForms, RunSettings* settings) {
    if (!ParsePortChoice(text, portForms, &settings->port)) {
        printf("Valid COM ports are 1 - 8 only !\n");
        settings->refusals.push_back(std::string("ComNr '") + text + "' is no port: give " +
                                     AcceptedPortForms(portForms));
    }
}

// tarnix takes four arguments: a fifth (a second port, a stray word) would otherwise be dropped
// without a word, and the run would go to a port the user may not have meant.
void RefuseExtraArguments(int argc, const char* const* argv, RunSettings* settings) {
    for (int i = 5; i < argc; ++i) {
        settings->refusals.push_back(std::string("argument ") + std::to_string(i) + " '" + argv[i] +
                                     "' is one too many: tarnix takes ModNr, filename, ProgMode "
                                     "and ComNr");
    }
}

// An empty file name is no file: the dialog is only for fewer than two arguments.
void ParseFileNameArgument(const char* text, RunSettings* settings) {
    if (text[0] == '\0') {
        settings->refusals.push_back("filename '' is empty: give the update file");
        return;
    }
    settings->fileName = text;
}

}  // namespace

RunSettings ParseArguments(int argc, const char* const* argv, PortForms portForms) {
    RunSettings settings;
    if (RefuseOptions(argc, argv, &settings)) {
        return settings;
    }
    if (argc >= 2) {
        ParseModNrArgument(argv[1], &settings);
    }
    if (argc >= 3) {
        ParseFileNameArgument(argv[2], &settings);
    } else {
        PrintUsage();
        settings.askForFile = settings.refusals.empty();
    }
    if (argc >= 4) {
        ParseProgModeArgument(argv[3], &settings);
    }
    if (argc >= 5) {
        ParsePortArgument(argv[4], portForms, &settings);
    }
    RefuseExtraArguments(argc, argv, &settings);
    return settings;
}

}  // namespace tarnix
