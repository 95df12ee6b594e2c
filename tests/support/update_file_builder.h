#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tarnix {

// Test tools that write update files and Intel HEX records from scratch, independent of the
// program's own reader.

// The header CRC register after the bytes: start 0xFFFFFFFF, reflected polynomial 0xEDB88320,
// no final inversion.
uint32_t UpdateHeaderCrc(const uint8_t* bytes, size_t count);

// 32 bytes: 24 bytes of filler, BlockSize little-endian at 24, the CRC of bytes 0..27 at 28.
std::string MakeUpdateHeader(uint32_t blockSize);

// The header followed by every line and its line end.
std::string BuildUpdateFile(uint32_t blockSize, const std::vector<std::string>& lines,
                            const std::string& lineEnd = "\r\n");

// ":LLAAAATT...CC" in upper case with a correct checksum, no line end.
std::string MakeHexRecord(uint8_t type, uint16_t address, const std::vector<uint8_t>& data);
std::string MakeDataRecord(uint16_t address, const std::vector<uint8_t>& data);
std::string MakeExtendedAddressRecord(uint16_t upper);  // type 04
std::string MakeEndRecord();                            // ":00000001FF"

// Data records of up to bytesPerRecord bytes for data placed at a linear address, with a type 04
// record wherever the upper 16 bits change (and first, when they are not 0). No end record.
std::vector<std::string> MakeRecordLines(uint32_t address, const std::vector<uint8_t>& data,
                                         size_t bytesPerRecord = 16);

// The Intel HEX records that GNU objcopy writes for `data` (in a file below `dir`); "" when
// objcopy is not installed (package binutils).
std::string IntelHexByObjcopy(const std::string& dir, const std::vector<uint8_t>& data);

// Deterministic bytes that differ from one position to the next.
std::vector<uint8_t> PatternBytes(size_t count, uint32_t seed);

// A fresh directory under the system's temporary directory.
std::string MakeTempDir();
bool WriteFileBytes(const std::string& path, const std::string& bytes);
std::string ReadFileBytes(const std::string& path);

}  // namespace tarnix
