#pragma once
// tarnix-station's command line:
// [--modnr 0xNN] [--mode 0|1] [--journal FILE] [--log-dir DIR] [--serve HOST:PORT] [--units N]
// [--no-check] FILE SLOT...

#include <string>
#include <vector>

#include "fleet_cli.h"

namespace tarnix {

// Exit status of tarnix-station (EXIT_USAGE for a malformed command line: exit_status.h).
inline constexpr int EXIT_STATION_ALL_COMPLETED = 0;
inline constexpr int EXIT_STATION_NOT_ALL = 1;    // a unit did not complete, or the file is bad
inline constexpr int EXIT_STATION_NO_SERVER = 2;  // --serve's address could not be taken

enum class SlotKind {
    Fixed,        // a port by the one port rule: COM3, /dev/ttyS0, usb:SERIAL, rfc2217://...
    PathPattern,  // a pattern over device paths: every match is a unit while it exists
    UsbPattern,   // usb:PATTERN over the serial numbers of the USB adapters
};

struct SlotForm {
    std::string text;  // as given
    SlotKind kind = SlotKind::PathPattern;
    std::string pattern;  // PathPattern: the path pattern; UsbPattern: the serial number pattern
};

struct StationCommandLine : UnitOptions {
    StationCommandLine() { logDir = "tarnix-station-logs"; }  // the station's own folder
    std::string journalFile = "tarnix-journal.jsonl";
    std::string serveHost;  // empty: no server
    int servePort = 0;
    long units = 0;  // 0: no limit
    std::string file;
    std::vector<SlotForm> slots;
};

// What a slot argument is: a pattern (it holds '*', '?' or '['), usb: with a pattern, or a
// port by the one port rule. False, with *error set, for anything else.
bool ParseSlot(const std::string& text, SlotForm* slot, std::string* error);

// "HOST:PORT", "[IPv6]:PORT": a host without spaces and a port from 1 to 65535.
bool ParseServeAddress(const std::string& text, std::string* host, int* port);

// False, with *error set, for a malformed command line: an unknown option, a bad value, a slot
// not understood, a slot given twice, or no file or slot.
bool ParseStationCommandLine(int argc, const char* const* argv, StationCommandLine* commandLine,
                             std::string* error);

}  // namespace tarnix
