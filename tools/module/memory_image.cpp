#include "memory_image.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

namespace tarnix {

namespace {

constexpr uint64_t ADDRESS_SPACE = uint64_t{1} << 32;

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

bool DecodeHexPairs(std::string_view text, std::vector<uint8_t>* bytes) {
    bytes->clear();
    for (size_t i = 0; i + 1 < text.size(); i += 2) {
        int high = HexDigitValue(text[i]);
        int low = HexDigitValue(text[i + 1]);
        if (high < 0 || low < 0) {
            return false;
        }
        bytes->push_back(static_cast<uint8_t>(high * 16 + low));
    }
    return true;
}

std::string Hex32(uint64_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08llX", static_cast<unsigned long long>(value));
    return text;
}

std::string Hex8(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", value);
    return text;
}

size_t OverlapCount(uint64_t aStart, uint64_t aEnd, uint64_t bStart, uint64_t bEnd) {
    uint64_t from = std::max(aStart, bStart);
    uint64_t to = std::min(aEnd, bEnd);
    return to > from ? static_cast<size_t>(to - from) : 0;
}

using SegmentIterator = std::map<uint32_t, std::vector<uint8_t>>::iterator;

// Replaces the runs [first, last), which the bytes touch or join, with one run holding them all.
size_t MergeRuns(MemoryImage* image, SegmentIterator first, SegmentIterator last, uint64_t start,
                 const uint8_t* bytes, size_t count) {
    uint64_t end = start + count;
    uint64_t mergedStart = start;
    uint64_t mergedEnd = end;
    for (auto it = first; it != last; ++it) {
        mergedStart = std::min<uint64_t>(mergedStart, it->first);
        mergedEnd = std::max<uint64_t>(mergedEnd, it->first + it->second.size());
    }
    std::vector<uint8_t> merged(static_cast<size_t>(mergedEnd - mergedStart));
    size_t overwritten = 0;
    for (auto it = first; it != last; ++it) {
        overwritten += OverlapCount(start, end, it->first, it->first + it->second.size());
        std::copy(it->second.begin(), it->second.end(),
                  merged.begin() + static_cast<std::ptrdiff_t>(it->first - mergedStart));
    }
    std::memcpy(merged.data() + (start - mergedStart), bytes, count);
    image->segments.erase(first, last);
    image->segments.emplace(static_cast<uint32_t>(mergedStart), std::move(merged));
    return overwritten;
}

// Writes a range that does not cross the top of the address space.
size_t WriteWithinSpace(MemoryImage* image, uint64_t start, const uint8_t* bytes, size_t count) {
    uint64_t end = start + count;
    auto& segments = image->segments;
    auto first = segments.upper_bound(static_cast<uint32_t>(start));
    if (first != segments.begin()) {
        auto previous = std::prev(first);
        if (previous->first + previous->second.size() >= start) {
            first = previous;
        }
    }
    auto last = first;
    while (last != segments.end() && last->first <= end) {
        ++last;
    }
    if (first != segments.end() && std::next(first) == last && first->first <= start) {
        // The usual case: the bytes extend or overwrite one existing run.
        std::vector<uint8_t>& run = first->second;
        size_t overwritten = OverlapCount(start, end, first->first, first->first + run.size());
        size_t offset = static_cast<size_t>(start - first->first);
        if (offset + count > run.size()) {
            run.resize(offset + count);
        }
        std::memcpy(run.data() + offset, bytes, count);
        return overwritten;
    }
    return MergeRuns(image, first, last, start, bytes, count);
}

// Walks an image byte by byte in address order.
struct ImageCursor {
    std::map<uint32_t, std::vector<uint8_t>>::const_iterator segment;
    std::map<uint32_t, std::vector<uint8_t>>::const_iterator end;
    size_t offset = 0;
};

ImageCursor StartCursor(const MemoryImage& image) {
    return ImageCursor{image.segments.begin(), image.segments.end(), 0};
}

bool CursorDone(const ImageCursor& cursor) {
    return cursor.segment == cursor.end;
}

uint64_t CursorAddress(const ImageCursor& cursor) {
    return uint64_t{cursor.segment->first} + cursor.offset;
}

uint8_t CursorByte(const ImageCursor& cursor) {
    return cursor.segment->second[cursor.offset];
}

void AdvanceCursor(ImageCursor* cursor) {
    if (++cursor->offset >= cursor->segment->second.size()) {
        ++cursor->segment;
        cursor->offset = 0;
    }
}

// The bytes of a record line, count and checksum checked: count, address, type, data, checksum.
bool DecodeRecordBytes(std::string_view line, std::vector<uint8_t>* bytes, std::string* problem,
                       bool* badChecksum) {
    *badChecksum = false;
    if (line.empty() || line[0] != ':') {
        *problem = "does not start with ':'";
        return false;
    }
    if (line.size() < 11 || line.size() % 2 == 0) {
        *problem = "has " + std::to_string(line.size()) + " characters, not ':' and whole bytes";
        return false;
    }
    if (!DecodeHexPairs(line.substr(1), bytes)) {
        *problem = "holds a character that is not a hex digit";
        return false;
    }
    if ((*bytes)[0] + size_t{5} != bytes->size()) {
        *problem = "count " + Hex8((*bytes)[0]) + " does not match its " +
                   std::to_string(bytes->size() - 5) + " data bytes";
        return false;
    }
    uint8_t sum = 0;
    for (uint8_t byte : *bytes) {
        sum = static_cast<uint8_t>(sum + byte);
    }
    if (sum != 0) {
        uint8_t expected = static_cast<uint8_t>(bytes->back() - sum);
        *problem = "checksum " + Hex8(bytes->back()) + " should be " + Hex8(expected);
        *badChecksum = true;
        return false;
    }
    return true;
}

}  // namespace

bool ParseHexRecord(std::string_view line, HexRecord* record, std::string* problem,
                    bool* badChecksum) {
    std::vector<uint8_t> bytes;
    if (!DecodeRecordBytes(line, &bytes, problem, badChecksum)) {
        return false;
    }
    record->address = static_cast<uint16_t>(bytes[1] << 8 | bytes[2]);
    record->type = bytes[3];
    record->data.assign(bytes.begin() + 4, bytes.end() - 1);
    if (record->type > 5) {
        *problem = "has the unknown record type " + Hex8(record->type);
        return false;
    }
    if ((record->type == 2 || record->type == 4) && record->data.size() != 2) {
        *problem = "is an address record without exactly 2 data bytes";
        return false;
    }
    return true;
}

size_t WriteImageBytes(MemoryImage* image, uint32_t address, const uint8_t* bytes, size_t count) {
    if (count == 0) {
        return 0;
    }
    uint64_t room = ADDRESS_SPACE - address;
    if (count <= room) {
        return WriteWithinSpace(image, address, bytes, count);
    }
    // Linear addresses wrap at the top of the 32-bit space.
    size_t first = static_cast<size_t>(room);
    return WriteWithinSpace(image, address, bytes, first) +
           WriteImageBytes(image, 0, bytes + first, count - first);
}

size_t ApplyHexRecord(MemoryImage* image, HexAddressBase* base, const HexRecord& record) {
    switch (record.type) {
        case 0:
            return WriteImageBytes(image, base->base + record.address, record.data.data(),
                                   record.data.size());
        case 2:
            base->base = static_cast<uint32_t>(record.data[0] << 8 | record.data[1]) << 4;
            return 0;
        case 4:
            base->base = static_cast<uint32_t>(record.data[0] << 8 | record.data[1]) << 16;
            return 0;
        default:
            return 0;
    }
}

size_t ImageByteCount(const MemoryImage& image) {
    size_t count = 0;
    for (const auto& [start, run] : image.segments) {
        count += run.size();
    }
    return count;
}

bool CompareImages(const MemoryImage& expected, const MemoryImage& received,
                   std::string* difference) {
    ImageCursor want = StartCursor(expected);
    ImageCursor got = StartCursor(received);
    while (!CursorDone(want) || !CursorDone(got)) {
        if (CursorDone(got) || (!CursorDone(want) && CursorAddress(want) < CursorAddress(got))) {
            *difference = "byte at " + Hex32(CursorAddress(want)) + " missing (expected " +
                          Hex8(CursorByte(want)) + ")";
            return false;
        }
        if (CursorDone(want) || CursorAddress(got) < CursorAddress(want)) {
            *difference =
                "unexpected byte " + Hex8(CursorByte(got)) + " at " + Hex32(CursorAddress(got));
            return false;
        }
        if (CursorByte(want) != CursorByte(got)) {
            *difference = "byte at " + Hex32(CursorAddress(want)) + " is " + Hex8(CursorByte(got)) +
                          ", expected " + Hex8(CursorByte(want));
            return false;
        }
        AdvanceCursor(&want);
        AdvanceCursor(&got);
    }
    difference->clear();
    return true;
}

std::string DescribeImageSegments(const MemoryImage& image) {
    std::string text;
    for (const auto& [start, run] : image.segments) {
        if (!text.empty()) {
            text += ", ";
        }
        text += Hex32(start) + "-" + Hex32(uint64_t{start} + run.size() - 1);
    }
    return text;
}

bool LoadUpdateImage(const std::string& path, MemoryImage* image, std::string* error) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        *error = "cannot open " + path;
        return false;
    }
    std::string content((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (content.size() < 32) {
        *error = path + " is shorter than its 32-byte header";
        return false;
    }
    HexAddressBase base;
    size_t lineNumber = 0;
    size_t position = 32;
    while (position < content.size()) {
        size_t lineEnd = content.find('\n', position);
        if (lineEnd == std::string::npos) {
            lineEnd = content.size();
        }
        std::string_view line(content.data() + position, lineEnd - position);
        position = lineEnd + 1;
        ++lineNumber;
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (line.empty()) {
            continue;
        }
        HexRecord record;
        std::string problem;
        bool badChecksum = false;
        if (!ParseHexRecord(line, &record, &problem, &badChecksum)) {
            *error = path + " line " + std::to_string(lineNumber) + ": record " + problem;
            return false;
        }
        ApplyHexRecord(image, &base, record);
    }
    return true;
}

bool WriteImageBinary(const MemoryImage& image, const std::string& path, size_t maxSpan,
                      std::string* error) {
    std::vector<uint8_t> bytes;
    if (!image.segments.empty()) {
        uint64_t low = image.segments.begin()->first;
        const auto& top = *image.segments.rbegin();
        uint64_t span = top.first + top.second.size() - low;
        if (span > maxSpan) {
            *error = "image spans " + std::to_string(span) + " bytes (" +
                     DescribeImageSegments(image) + "), more than " + std::to_string(maxSpan);
            return false;
        }
        bytes.assign(static_cast<size_t>(span), 0xFF);
        for (const auto& [start, run] : image.segments) {
            std::copy(run.begin(), run.end(),
                      bytes.begin() + static_cast<std::ptrdiff_t>(start - low));
        }
    }
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    if (!file) {
        *error = "cannot write " + path;
        return false;
    }
    return true;
}

}  // namespace tarnix
