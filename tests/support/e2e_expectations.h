#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "module_log.h"

namespace tarnix {

// What the end-to-end tests expect to see: the bytes the programs put on the line and the
// console texts they print, written out independently of the programs' own code.

using Bytes = std::vector<uint8_t>;

Bytes Concat(const std::vector<Bytes>& parts);
Bytes BytesOf(const std::string& text);

// An update command frame: STX, the command, the module number, ETX.
Bytes Command(char cmd, uint8_t modNr = 0x89);
// A Data command frame carrying `text`: STX 'C', the module number, the text, ETX.
Bytes DataCommand(const std::string& text, uint8_t modNr = 0x89);

// The command bytes of the frames the module received, e.g. "BCCDE F".
std::string CommandSequence(const ModuleLog& log);

// The last line of every run of tarnix that waits for a key.
extern const std::string KEY_PROMPT;

// One progress step of the update: "\rWriting User configuration... %4ld %".
std::string Progress(long percent);
// One progress step of the download: "\rWriting primary configuration... %3i %".
std::string ProgressLine(int value);

// Standard output after the banner (everything up to its first empty line).
std::string AfterBanner(const std::string& out);

}  // namespace tarnix
