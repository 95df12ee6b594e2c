#include "update_file.h"

#include "hex_digits.h"

namespace tarnix {

uint32_t ComputeCrc32(const uint8_t* data, size_t len) {
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < len; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 1u) ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
        }
    }
    return crc;
}

static uint32_t ReadLittleEndian32(const uint8_t* bytes) {
    return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
           static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

UpdateHeaderCheck CheckUpdateHeader(FILE* stream) {
    UpdateHeaderCheck check;
    uint8_t* header = check.bytes.data();
    check.length = fread(header, 1, UPDATE_HEADER_SIZE, stream);
    if (check.length != UPDATE_HEADER_SIZE) {
        return check;
    }
    check.valid = ComputeCrc32(header, UPDATE_HEADER_SIZE) == 0;
    check.blockSize = ReadLittleEndian32(header + BLOCK_SIZE_OFFSET);
    return check;
}

bool LooksLikeHexWithoutHeader(const UpdateHeaderCheck& check) {
    return !check.valid && check.length > 0 && check.bytes[0] == ':';
}

RecordLine ClassifyRecordLine(const char* line, size_t length, int previousCount) {
    RecordLine record;
    record.byteCount = previousCount;
    if (length < 9) {
        return record;
    }
    record.type = line[8];
    ScanHexByte(line + 1, &record.byteCount);
    return record;
}

}  // namespace tarnix
