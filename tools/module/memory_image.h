#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace tarnix {

// The module's memory as rebuilt from Intel HEX records: runs of contiguous bytes keyed by their
// first address. Adjacent runs are always merged, so two images that hold the same bytes at the
// same addresses compare equal member by member.
struct MemoryImage {
    std::map<uint32_t, std::vector<uint8_t>> segments;
};

// One Intel HEX record as it stands in a line: ':' LL AAAA TT data CC.
struct HexRecord {
    uint8_t type = 0;
    uint16_t address = 0;
    std::vector<uint8_t> data;
};

// Where the data records of a stream of records land: type 02 and type 04 records move it.
struct HexAddressBase {
    uint32_t base = 0;
};

// Parses one record line (no line end). Accepts upper- and lower-case hex digits. On failure
// returns false and says why in *problem; *badChecksum is set when only the checksum is wrong.
bool ParseHexRecord(std::string_view line, HexRecord* record, std::string* problem,
                    bool* badChecksum);

// Writes bytes into the image; returns how many of them replaced bytes already present.
size_t WriteImageBytes(MemoryImage* image, uint32_t address, const uint8_t* bytes, size_t count);

// Applies a parsed record: data records go into the image at base + address, address records
// move the base; end and start-address records change nothing. Returns the overwritten count.
size_t ApplyHexRecord(MemoryImage* image, HexAddressBase* base, const HexRecord& record);

size_t ImageByteCount(const MemoryImage& image);

// True when both images hold the same bytes at the same addresses; otherwise *difference
// describes the first address where they part.
bool CompareImages(const MemoryImage& expected, const MemoryImage& received,
                   std::string* difference);

// "0x00000000-0x00004FFF, 0x00010000-0x00014FFF"
std::string DescribeImageSegments(const MemoryImage& image);

// Reads an update file (32-byte header, then Intel HEX lines ended by LF or CR LF) into an image
// the way the module builds it. Blank lines are skipped; any other line that is not a valid
// record makes it fail with the line number in *error.
bool LoadUpdateImage(const std::string& path, MemoryImage* image, std::string* error);

// Binary image: the lowest address at offset 0, gaps filled with 0xFF. Refuses spans over
// maxSpan bytes (segments far apart would make a huge file).
bool WriteImageBinary(const MemoryImage& image, const std::string& path, size_t maxSpan,
                      std::string* error);

}  // namespace tarnix
