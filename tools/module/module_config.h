#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "module_protocol.h"

namespace tarnix {

// How the emulated module behaves: its replies, the faults it injects and the line time it
// keeps. Filled from the command line by tarnix-module, directly by the tests.

// The points at which a reply can be replaced or withheld. Each is counted on its own, from 1.
enum class FaultPoint {
    Start,           // 'B'
    Data,            // 'C'
    Program,         // 'D'
    End,             // 'E'
    Param,           // '$'
    Timestamp,       // '"'
    DownloadHeader,  // ' ' header
    DownloadBlock,   // every block of every download, counted across downloads
    VeloxInfo,       // '!': a rejection sends the one byte instead of the whole text reply
    FlashInfo,       // '#': likewise
    Status,          // 'S': a rejection sends the one byte instead of 'U' and the value
};
inline constexpr size_t FAULT_POINT_COUNT = 11;

struct ReplyFault {
    FaultPoint point = FaultPoint::Data;
    unsigned occurrence = 1;  // 1-based count of that point
    bool silent = false;      // no reply at all
    uint8_t reply = MODULE_NAK;
};

ReplyFault RejectAt(FaultPoint point, unsigned occurrence, uint8_t reply);
ReplyFault SilentAt(FaultPoint point, unsigned occurrence);

// Bytes the module sends right after its reply to the given command, as line noise or a module
// that answers twice would: the program's next reply read finds them first.
struct ExtraReply {
    FaultPoint point = FaultPoint::Data;
    unsigned occurrence = 1;
    std::vector<uint8_t> bytes;
};

// The reply to the given command (and any extra bytes after it) held back for delayMs, e.g.
// past the program's 5-second time-out, so that it arrives while the next command waits.
struct LateReply {
    FaultPoint point = FaultPoint::Data;
    unsigned occurrence = 1;
    unsigned delayMs = 0;
};

enum class InfoMarker { Zero, Ff, None };

// The text reply of an information query: STX, echo, text, marker, checksum. The marker is left
// out after a text of 256 bytes, as the module does; the overrides produce damaged replies.
struct InfoReplyConfig {
    std::string text;
    InfoMarker marker = InfoMarker::Zero;
    bool overrideFirstByte = false;
    uint8_t firstByte = MODULE_STX;
    bool overrideEcho = false;
    uint8_t echo = 0;
    bool overrideChecksum = false;
    uint8_t checksum = 0;
};

struct ModuleConfig {
    // Data lines must be valid Intel HEX records (record mode). Off for line mode: lines that
    // are valid records still build the image, others are only kept.
    bool checkRecords = true;
    InfoReplyConfig velox{"VELOX V2.14 Tarnix module emulator"};
    InfoReplyConfig flash{"Flash 512 KB, 2 banks"};
    uint32_t statusValue = 0x030201;  // sent least significant byte first, 24 bits
    std::vector<ReplyFault> faults;
    std::vector<ExtraReply> extraReplies;
    std::vector<LateReply> lateReplies;
    // Sent before the program opens the port (SendBytesBeforeStart), so they wait in its input.
    std::vector<uint8_t> bytesBeforeStart;
    // The time of a real line at this rate, 8N2 (11 bits a byte): a frame is answered no earlier
    // than its last byte would have arrived, and the reply takes its own byte time. 0: at once.
    unsigned baud = 0;
    // Added before every reply, as a USB adapter's latency timer does.
    double replyLatencyMs = 0;
    // The last spinUs microseconds before a reply is due are waited out awake instead of asleep:
    // a machine slow to wake a sleeping process (a virtual one, say) then cannot make replies
    // late. Costs CPU for that time; meant for single timing measurements.
    unsigned spinUs = 0;
};

}  // namespace tarnix
