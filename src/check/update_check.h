#pragma once
// The update file checked before anything is sent: read line by line exactly as tarnix reads it,
// every record's syntax checked on its own, and the commands tarnix will send counted, so that a
// damaged file is found before a module sees a byte of it. Opens no port.

#include <cstdint>
#include <string>
#include <vector>

namespace tarnix {

enum class CheckMode { Records, Lines };  // tarnix's ProgMode 0 and 1

struct CheckOptions {
    CheckMode mode = CheckMode::Records;
    double replyLatencyMs = 1.0;  // added to every reply, as a USB adapter's latency timer does
    // The PC's own part of every exchange: waking on the reply, reading the next line, writing
    // the frame. scripts/bench measures it against the unpaced emulator; 0.1 ms is the round
    // figure below what it finds on an idle bench PC.
    double hostTimeMs = 0.1;
};

// One fault. Line numbers are tarnix's: the first line after the header is line 1; 0 stands for
// the file as a whole (the header, a missing end record, a file that cannot be read).
struct CheckFault {
    int line = 0;
    std::string message;
};

// A run of contiguous addresses that the data records write.
struct AddressRange {
    uint64_t first = 0;
    uint64_t last = 0;
};

// Counts of what tarnix reads and sends, and the time it will take on the line.
struct TransferEstimate {
    // Data commands: data records and address records (or lines); in record mode none after
    // a refused record, where tarnix stops
    uint64_t dataCommands = 0;
    uint64_t programCommands = 0;  // Program commands
    uint64_t fullBlocks = 0;       // Program commands after a full block, each followed by 1 ms
    uint64_t bytesSent = 0;        // every byte tarnix puts on the line, Finish included
    uint64_t replyBytes = 0;       // one per command but Finish
    double seconds = 0;            // at 115200 baud 8N2 with the given latency and host time
};

struct FileCheck {
    std::string file;
    CheckMode mode = CheckMode::Records;
    bool readable = false;
    uint64_t fileSize = 0;
    bool headerValid = false;  // record mode only
    uint32_t blockSize = 0;
    bool hasHeader = false;  // record mode and 32 bytes to read
    uint32_t headerCrc = 0;  // the header's CRC field, bytes 28..31, little-endian
    int lines = 0;  // lines as tarnix reads them (a line over 299 characters counts per piece)
    uint64_t dataRecords = 0;
    uint64_t endRecords = 0;
    uint64_t addressRecords = 0;  // extended linear address (04)
    uint64_t otherRecords = 0;    // start addresses and others, which tarnix skips
    uint64_t dataBytes = 0;
    uint64_t longLines = 0;  // lines over 299 characters: refused records, or lines in pieces
    std::vector<AddressRange> ranges;
    TransferEstimate estimate;
    std::vector<CheckFault> faults;

    bool Sound() const { return readable && faults.empty(); }
};

inline constexpr double LINE_BAUD = 115200.0;
inline constexpr int BITS_PER_LINE_BYTE = 11;  // start bit, 8 data bits, 2 stop bits

// Checks the file at `path`. Never fails: an unreadable file is a fault of its own.
FileCheck CheckUpdateFile(const std::string& path, const CheckOptions& options);

// The same for a file's bytes held in memory; `name` is only reported.
FileCheck CheckUpdateBytes(const std::string& name, const std::string& bytes,
                           const CheckOptions& options);

}  // namespace tarnix
