#include "command_line.h"

#include <cstdio>

#include "hex_digits.h"

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

static void PrintUsage() {
    printf("\nUsage : tarnix.exe [ModNr] [filename] [ProgMode] [ComNr]\n");
    printf("Default values : ModNr=0x89 (Display-Modul)  ProgMode=0  ComNr=1 (COM1)\n");
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
