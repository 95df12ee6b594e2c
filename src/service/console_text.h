#pragma once
// The one console text of the service commands that is not plain ASCII. Each platform prints
// it in its console's encoding (console_text_posix.cpp: UTF-8; console_text_win32.cpp:
// Windows-1252, where the umlaut is the single byte 0xFC).

#include <cstdint>

namespace tarnix {

// Prints "Falscher Rückgabewert : 0x%02X\n" with the byte that arrived instead of the
// expected one.
void PrintWrongReply(uint8_t reply);

}  // namespace tarnix
