#include "command_line.h"

#include <cstdio>
#include <string_view>

#include "hex_digits.h"
#include "tarnix_version.h"

bool ParseModNr(const char* text, uint8_t* modNr) {
    if (text[0] != '0' || text[1] != 'x') {
        return false;
    }
    int value = 0;
    if (!ScanHexByte(text + 2, &value)) {
        return false;
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

static void PrintPortRules(bool devicePathsAllowed) {
    if (!devicePathsAllowed) {
        printf(
            "Ports: only COM1 to COM8. A USB adapter is reached through the COM number that\n"
            "Windows gives it; the Device Manager can change it to one from 1 to 8.\n");
        return;
    }
    printf(
        "Ports: COM<n> is /dev/ttyS<n-1> (COM1 is /dev/ttyS0). A ComNr that contains '/' is a\n"
        "device path (/dev/ttyUSB0, /dev/serial/by-id/...); the name of a character device in\n"
        "/dev (ttyUSB0, ttyACM0) stands for that device. The port is held exclusively; opening\n"
        "a serial device needs the 'dialout' group.\n");
}

void PrintHelp(bool devicePathsAllowed) {
    PrintUsage();
    printf(
        "\n"
        "  ModNr     module number: 0x and one or two hex digits\n"
        "  filename  the update file; with fewer than two arguments the program asks for it\n"
        "  ProgMode  1: line mode, every line sent as it stands; anything else: record mode\n"
        "            (a 32-byte header, then Intel HEX records)\n"
        "  ComNr     the port: a digit 1 to 8 selects COM1 to COM8; only the first character\n"
        "            counts\n"
        "\n");
    PrintPortRules(devicePathsAllowed);
    printf(
        "\n"
        "Exit status: 0 the update completed; 1 it failed or was not done; 2 the port could\n"
        "not be opened; 130 interrupted by Ctrl-C (128+n: ended by signal n).\n"
        "\n"
        "%s --version shows the version; --help, -h or /? this text.\n",
        TARNIX_PROGRAM_FILE);
}

// Only the first character counts: "12" is COM1. Anything else falls back to COM1.
static void ParsePort(const char* text, bool devicePathsAllowed, RunSettings* settings) {
    if (!ParsePortChoice(text, PortSyntax::FirstCharacter, devicePathsAllowed, &settings->port)) {
        settings->port = PortChoice{};
        printf("Valid COM ports are 1 - 8 only !\n");
    }
}

RunSettings ParseArguments(int argc, const char* const* argv, bool devicePathsAllowed) {
    RunSettings settings;
    if (argc >= 2 && !ParseModNr(argv[1], &settings.modNr)) {
        printf("Undefined format for ModNr ! Please use f.e. 0x89\n");
    }
    if (argc >= 3) {
        settings.fileName = argv[2];
    } else {
        PrintUsage();
        settings.askForFile = true;
    }
    if (argc >= 4) {
        settings.progMode = argv[3][0] == '1' ? PROG_MODE_LINES : PROG_MODE_RECORDS;
    }
    if (argc >= 5) {
        ParsePort(argv[4], devicePathsAllowed, &settings);
    }
    return settings;
}
