#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tarnix {

// The bytes of the serial line as the module sees them, and how they are named in its messages.
// Written out here on purpose rather than taken from src/: the emulator is the independent peer
// of the programs, so a wrong byte value on their side cannot hide by being repeated on this one.

inline constexpr uint8_t MODULE_STX = 0x02;
inline constexpr uint8_t MODULE_ETX = 0x03;
inline constexpr uint8_t MODULE_ACK = 0x06;
inline constexpr uint8_t MODULE_NAK = 0x15;
inline constexpr uint8_t MODULE_LF = 0x0A;  // between name and time in the timestamp command

// The command bytes, the byte after STX. Start to Finish are consecutive and carry ModNr.
inline constexpr uint8_t MODULE_CMD_DOWNLOAD = 0x20;    // ' '
inline constexpr uint8_t MODULE_CMD_VELOX_INFO = 0x21;  // '!'
inline constexpr uint8_t MODULE_CMD_TIMESTAMP = 0x22;   // '"'
inline constexpr uint8_t MODULE_CMD_FLASH_INFO = 0x23;  // '#'
inline constexpr uint8_t MODULE_CMD_PARAM = 0x24;       // '$'
inline constexpr uint8_t MODULE_CMD_START = 0x42;       // 'B'
inline constexpr uint8_t MODULE_CMD_DATA = 0x43;        // 'C'
inline constexpr uint8_t MODULE_CMD_PROGRAM = 0x44;     // 'D'
inline constexpr uint8_t MODULE_CMD_END = 0x45;         // 'E'
inline constexpr uint8_t MODULE_CMD_FINISH = 0x46;      // 'F'
inline constexpr uint8_t MODULE_CMD_STATUS = 0x53;      // 'S', the one frame without ETX
inline constexpr uint8_t MODULE_STATUS_REPLY = 0x55;    // 'U', first byte of the status reply

// The 8-bit sum that the download, the timestamp and the information replies carry.
uint8_t ModuleSumChecksum(const uint8_t* bytes, size_t count);

// "0x15"
std::string ModuleHexByte(uint8_t value);
// "Start", "download", "status query", ... or "command 0x5A" for a byte that is none of them.
std::string ModuleCommandName(uint8_t command);
// The bytes as text, others than printable ASCII as \xNN, cut after limit bytes with "...".
std::string ModulePrintableBytes(const std::vector<uint8_t>& bytes, size_t limit);

}  // namespace tarnix
