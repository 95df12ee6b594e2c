#include "update_file.h"

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
    uint8_t header[UPDATE_HEADER_SIZE] = {};
    UpdateHeaderCheck check;
    if (fread(header, 1, sizeof header, stream) != sizeof header) {
        return check;
    }
    check.valid = ComputeCrc32(header, sizeof header) == 0;
    check.blockSize = ReadLittleEndian32(header + BLOCK_SIZE_OFFSET);
    return check;
}

int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

// One or two hex digits, as a "%02X" scan reads them.
static int ScanHexByte(const char* text, int fallback) {
    int high = HexDigitValue(text[0]);
    if (high < 0) {
        return fallback;
    }
    int low = HexDigitValue(text[1]);
    return low < 0 ? high : high * 16 + low;
}

RecordLine ClassifyRecordLine(const char* line, size_t length, int previousCount) {
    RecordLine record;
    record.byteCount = previousCount;
    if (length < 9) {
        return record;
    }
    record.type = line[8];
    record.byteCount = ScanHexByte(line + 1, previousCount);
    return record;
}
