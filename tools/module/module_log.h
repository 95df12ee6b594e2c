#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "memory_image.h"

namespace tarnix {

// The module's record of a run: every byte in both directions, the frames, what was wrong on
// the line, and what arrived (the memory image, downloads, timestamps, parameters). The session
// writes it; the verdict and the tests read it.

enum class ModuleErrorKind {
    StrayBytes,         // bytes outside any frame
    BadFrame,           // a frame not shaped as its command requires, or an unknown command
    Order,              // a command where the update sequence does not allow it
    RecordFormat,       // a Data line that is not a valid Intel HEX record
    RecordChecksum,     // a Data record whose own checksum is wrong
    DownloadHeader,     // download header bytes or checksum wrong
    DownloadChecksum,   // a download block's checksum wrong
    TimestampChecksum,  // timestamp frame checksum wrong
    CutOff,             // the line went quiet or closed in the middle of a frame
};

struct ModuleError {
    ModuleErrorKind kind = ModuleErrorKind::BadFrame;
    size_t frameIndex = 0;  // index the next frame gets in ModuleLog::frames
    std::string text;
};

// A fault found by the frame parser or the protocol checks. They return findings as values;
// the session files them in the log under the frame they concern.
struct Finding {
    ModuleErrorKind kind = ModuleErrorKind::BadFrame;
    std::string text;
};
using Findings = std::vector<Finding>;

struct ModuleFrame {
    uint8_t command = 0;
    bool hasModNr = false;
    uint8_t modNr = 0;
    // 'C': the line text without ETX; ' ': the downloaded bytes; '"': name, LF, time text, 0x00,
    // checksum; '$': the four bytes between '$' and ETX; empty for the others.
    std::vector<uint8_t> payload;
    std::vector<uint8_t> raw;    // every byte from STX to the last byte of the frame
    std::vector<uint8_t> reply;  // every byte the module answered to this frame
    bool closed = false;         // complete as its command requires
};

struct DownloadRecord {
    uint32_t declaredSize = 0;
    std::vector<uint8_t> data;
    unsigned blocks = 0;
    bool closed = false;  // the closing ETX arrived
};

struct TimestampRecord {
    std::string fileName;
    std::string timeText;
};

struct ModuleLog {
    std::vector<uint8_t> received;  // every byte from the program, in order
    std::vector<uint8_t> sent;      // every byte the module answered, in order
    std::vector<ModuleFrame> frames;
    std::vector<ModuleError> errors;
    MemoryImage image;
    size_t overwrittenBytes = 0;  // image bytes written more than once
    std::vector<DownloadRecord> downloads;
    std::vector<TimestampRecord> timestamps;
    std::vector<uint8_t> parameters;  // the p byte of every '$' command
    bool programConnected = false;    // the first byte arrived
    bool hungUp = false;              // the program closed the port afterwards
};

size_t CountFrames(const ModuleLog& log, uint8_t command);
// The text of every Data command, in order.
std::vector<std::string> DataLines(const ModuleLog& log);
bool HasError(const ModuleLog& log, ModuleErrorKind kind);
const char* ModuleErrorKindName(ModuleErrorKind kind);

}  // namespace tarnix
