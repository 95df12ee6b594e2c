#pragma once
// The update file: a 32-byte header protected by a CRC-32, then Intel HEX text records.

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace tarnix {

inline constexpr size_t UPDATE_HEADER_SIZE = 32;
inline constexpr size_t BLOCK_SIZE_OFFSET = 24;
inline constexpr size_t HEADER_CRC_OFFSET = 28;

// The CRC-32 register (reflected polynomial 0xEDB88320, start 0xFFFFFFFF) after `len` bytes,
// without the final inversion. A header is valid when the register over all 32 bytes is 0.
uint32_t ComputeCrc32(const uint8_t* data, size_t len);

struct UpdateHeaderCheck {
    bool valid = false;      // 32 bytes could be read and their CRC register is 0
    uint32_t blockSize = 0;  // bytes 24..27, little-endian
    std::array<uint8_t, UPDATE_HEADER_SIZE> bytes{};  // as read, for the content check
    size_t length = 0;                                // bytes read, fewer for a short file
};

// Reads the 32-byte header at the stream's position with one read and checks it. A file too
// short to hold a header is invalid.
UpdateHeaderCheck CheckUpdateHeader(FILE* stream);

// True when a header that failed its check is the first record of an Intel HEX file: the
// HEX file was given without the update header before it.
bool LooksLikeHexWithoutHeader(const UpdateHeaderCheck& check);

inline constexpr char RECORD_DATA = '0';
inline constexpr char RECORD_END_OF_FILE = '1';
inline constexpr char RECORD_EXTENDED_ADDRESS = '4';
inline constexpr char RECORD_NONE = '\0';  // too short to carry a record type

struct RecordLine {
    char type = RECORD_NONE;  // second digit of the record type (line character 8)
    int byteCount = 0;        // LL, line characters 1 and 2
};

// Classifies one line of `length` bytes. Lines shorter than 9 characters have no type. The
// byte count keeps `previousCount` when characters 1 and 2 hold no hex number.
RecordLine ClassifyRecordLine(const char* line, size_t length, int previousCount);

}  // namespace tarnix
