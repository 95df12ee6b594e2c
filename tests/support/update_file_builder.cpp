#include "update_file_builder.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

namespace tarnix {

namespace {

void AppendLe32(std::string* bytes, uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        bytes->push_back(static_cast<char>(value >> (8 * i) & 0xFF));
    }
}

void AppendHexByte(std::string* text, uint8_t value) {
    char digits[4];
    std::snprintf(digits, sizeof digits, "%02X", value);
    *text += digits;
}

}  // namespace

uint32_t UpdateHeaderCrc(const uint8_t* bytes, size_t count) {
    uint32_t crc = 0xFFFFFFFF;
    for (size_t i = 0; i < count; ++i) {
        crc ^= bytes[i];
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 1) != 0 ? (crc >> 1) ^ 0xEDB88320 : crc >> 1;
        }
    }
    return crc;
}

std::string MakeUpdateHeader(uint32_t blockSize) {
    std::string header = "TARNIX UPDATE TEST FILE.";  // 24 bytes the program does not read
    AppendLe32(&header, blockSize);
    AppendLe32(&header, UpdateHeaderCrc(reinterpret_cast<const uint8_t*>(header.data()), 28));
    return header;
}

std::string BuildUpdateFile(uint32_t blockSize, const std::vector<std::string>& lines,
                            const std::string& lineEnd) {
    std::string file = MakeUpdateHeader(blockSize);
    for (const std::string& line : lines) {
        file += line + lineEnd;
    }
    return file;
}

std::string MakeHexRecord(uint8_t type, uint16_t address, const std::vector<uint8_t>& data) {
    std::vector<uint8_t> bytes{static_cast<uint8_t>(data.size()),
                               static_cast<uint8_t>(address >> 8),
                               static_cast<uint8_t>(address & 0xFF), type};
    bytes.insert(bytes.end(), data.begin(), data.end());
    uint8_t sum = 0;
    std::string text = ":";
    for (uint8_t byte : bytes) {
        sum = static_cast<uint8_t>(sum + byte);
        AppendHexByte(&text, byte);
    }
    AppendHexByte(&text, static_cast<uint8_t>(0x100 - sum));
    return text;
}

std::string MakeDataRecord(uint16_t address, const std::vector<uint8_t>& data) {
    return MakeHexRecord(0x00, address, data);
}

std::string MakeExtendedAddressRecord(uint16_t upper) {
    return MakeHexRecord(0x04, 0, {static_cast<uint8_t>(upper >> 8), static_cast<uint8_t>(upper)});
}

std::string MakeEndRecord() {
    return MakeHexRecord(0x01, 0, {});
}

std::vector<std::string> MakeRecordLines(uint32_t address, const std::vector<uint8_t>& data,
                                         size_t bytesPerRecord) {
    std::vector<std::string> lines;
    uint32_t upper = 0;
    size_t done = 0;
    while (done < data.size()) {
        uint32_t at = address + static_cast<uint32_t>(done);
        if (at >> 16 != upper) {
            upper = at >> 16;
            lines.push_back(MakeExtendedAddressRecord(static_cast<uint16_t>(upper)));
        }
        // A record never crosses into the next 64 KB segment.
        size_t room = 0x10000 - (at & 0xFFFF);
        size_t count = std::min({bytesPerRecord, data.size() - done, room});
        std::vector<uint8_t> chunk(data.begin() + static_cast<std::ptrdiff_t>(done),
                                   data.begin() + static_cast<std::ptrdiff_t>(done + count));
        lines.push_back(MakeDataRecord(static_cast<uint16_t>(at & 0xFFFF), chunk));
        done += count;
    }
    return lines;
}

std::vector<uint8_t> PatternBytes(size_t count, uint32_t seed) {
    std::vector<uint8_t> bytes(count);
    uint32_t state = seed * 2654435761u + 1;
    for (size_t i = 0; i < count; ++i) {
        state = state * 1103515245u + 12345u;
        bytes[i] = static_cast<uint8_t>(state >> 16);
    }
    return bytes;
}

std::string MakeTempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern =
        std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/tarnix-test-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
        return "";
    }
    return pattern;
}

bool WriteFileBytes(const std::string& path, const std::string& bytes) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(file);
}

std::string ReadFileBytes(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

std::string IntelHexByObjcopy(const std::string& dir, const std::vector<uint8_t>& data) {
    std::string image = dir + "/objcopy-image.bin";
    if (std::system("objcopy --version >/dev/null 2>&1") != 0 ||
        !WriteFileBytes(image, std::string(data.begin(), data.end())) ||
        std::system(("objcopy -I binary -O ihex '" + image + "' '" + image + ".hex'").c_str()) !=
            0) {
        return "";
    }
    return ReadFileBytes(image + ".hex");
}

}  // namespace tarnix
