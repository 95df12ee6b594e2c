#pragma once
// Frames of the module protocol: control bytes, command bytes, and the two frame shapes of
// the update commands.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "port.h"

namespace tarnix {

inline constexpr uint8_t STX = 0x02;
inline constexpr uint8_t ETX = 0x03;
inline constexpr uint8_t ACK = 0x06;
inline constexpr uint8_t LF = 0x0A;

inline constexpr uint8_t CMD_START = 'B';
inline constexpr uint8_t CMD_DATA = 'C';
inline constexpr uint8_t CMD_PROGRAM = 'D';
inline constexpr uint8_t CMD_END = 'E';
inline constexpr uint8_t CMD_FINISH = 'F';
inline constexpr uint8_t CMD_DOWNLOAD = ' ';
inline constexpr uint8_t CMD_VELOX_INFO = '!';
inline constexpr uint8_t CMD_TIMESTAMP = '"';
inline constexpr uint8_t CMD_FLASH_INFO = '#';
inline constexpr uint8_t CMD_PARAMETER = '$';
inline constexpr uint8_t CMD_STATUS = 'S';

inline constexpr uint8_t DEFAULT_MOD_NR = 0x89;  // the display module

// Bytes on the line: STX, command, ModNr, ETX; and a Data command's STX 'C' ModNr, its text and
// ETX.
inline constexpr size_t COMMAND_FRAME_BYTES = 4;
inline constexpr size_t DATA_FRAME_HEAD_BYTES = 3;
inline constexpr size_t DataFrameBytes(size_t textLength) {
    return DATA_FRAME_HEAD_BYTES + textLength + 1;
}

// Room a line buffer needs after the line for SendDataLine: ETX and the terminating zero, for a
// line that has no line end to overwrite.
inline constexpr size_t DATA_LINE_SPARE_BYTES = 2;

// Length of a line's text without its line end (CR LF or LF): what a Data command carries
// before its ETX. A line without line end (the file's last line, or a piece of an overlong
// line) keeps all its characters.
size_t TextLengthWithoutLineEnd(const char* line, size_t length);

// STX, cmd, modNr, ETX: the frame of the update commands. Sent byte by byte.
Frame CommandFrame(uint8_t cmd, uint8_t modNr);

// A Data command carrying one line of the update file: STX 'C' modNr byte by byte, then the
// line's text followed by ETX in one block. `line` holds `*length` bytes as read from the file
// (a CR LF or LF line end, or none; NUL bytes are text like any other). Its line end is
// replaced in place by ETX and a terminating zero, and *length becomes the payload's length,
// so that the caller prints the line as sent. `line` must have room for DATA_LINE_SPARE_BYTES
// after `*length`.
Frame DataLineFrame(uint8_t modNr, char* line, size_t* length);

// A service command's frame: all its bytes sent one by one.
Frame ByteFrame(std::vector<uint8_t> bytes);

}  // namespace tarnix
