#pragma once

#include <array>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "memory_image.h"

// The module at the far end of the serial line, played on the master side of a pseudo-terminal
// (or on a serial device). It answers every frame the moment its last byte arrives (or when a
// real line would have delivered it, when paced) and keeps a record of everything it received,
// so a test can check the bytes on the line, the protocol order and whether the memory image
// arrived whole.
//
// It shares no code with src/ on purpose, not even the byte values or the record parser: it is
// the independent peer of the programs, so a fault in their framing or parsing cannot hide in
// the tests by being repeated on both sides.

inline constexpr uint8_t MODULE_STX = 0x02;
inline constexpr uint8_t MODULE_ETX = 0x03;
inline constexpr uint8_t MODULE_ACK = 0x06;
inline constexpr uint8_t MODULE_NAK = 0x15;
inline constexpr uint8_t MODULE_LF = 0x0A;  // between name and time in the timestamp command

// The command bytes, the byte after STX. Start to Finish are consecutive and carry ModNr.
inline constexpr uint8_t MODULE_CMD_DOWNLOAD = 0x20;    // ' '
inline constexpr uint8_t MODULE_CMD_VELOX_INFO = 0x21;  // '!'
inline constexpr uint8_t MODULE_CMD_TIMESTAMP = 0x22;   // '"'
inline constexpr uint8_t MODULE_CMD_FLASH_INFO = 0x23;  // '#'
inline constexpr uint8_t MODULE_CMD_PARAM = 0x24;       // '$'
inline constexpr uint8_t MODULE_CMD_START = 0x42;       // 'B'
inline constexpr uint8_t MODULE_CMD_DATA = 0x43;        // 'C'
inline constexpr uint8_t MODULE_CMD_PROGRAM = 0x44;     // 'D'
inline constexpr uint8_t MODULE_CMD_END = 0x45;         // 'E'
inline constexpr uint8_t MODULE_CMD_FINISH = 0x46;      // 'F'
inline constexpr uint8_t MODULE_CMD_STATUS = 0x53;      // 'S', the one frame without ETX
inline constexpr uint8_t MODULE_STATUS_REPLY = 0x55;    // 'U', first byte of the status reply

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

// The parser's state between reads. Plain data; FeedModuleBytes and FinishModuleSession work on
// it. RunModule keeps one; tests may drive one directly without a pseudo-terminal.
enum class ParseState {
    Idle,
    Command,
    ModNr,
    FrameEtx,
    DataText,
    DownloadHeader,
    DownloadBlock,
    DownloadBlockSum,
    DownloadEtx,
    TimestampName,
    TimestampTime,
    TimestampSum,
    TimestampEtx,
    ParamBytes,
};

struct DelayedReply {
    unsigned delayMs = 0;  // after the last byte of the frame it answers
    std::vector<uint8_t> bytes;
};

struct ModuleSession {
    const ModuleConfig* config = nullptr;
    ModuleLog* log = nullptr;
    ParseState state = ParseState::Idle;
    ModuleFrame frame;
    std::vector<uint8_t> stray;
    std::array<unsigned, FAULT_POINT_COUNT> occurrences{};
    std::vector<uint8_t> header;
    uint32_t downloadRemaining = 0;
    std::vector<uint8_t> block;
    size_t timestampNameEnd = 0;
    // The reply point and its count of the frame being answered, for extra and late replies.
    FaultPoint replyPoint = FaultPoint::Data;
    unsigned replyOccurrence = 0;
    // Late replies decided but not yet due; RunModule takes them out and sends them in time.
    std::vector<DelayedReply> delayed;
    bool updateOpen = false;
    bool updateRejected = false;
    bool finished = false;
    uint8_t updateModNr = 0;
    HexAddressBase hexBase;
};

void StartModuleSession(ModuleSession* session, const ModuleConfig* config, ModuleLog* log);
// Parses the bytes and appends the replies that are due to *reply; late replies go to
// session->delayed instead.
void FeedModuleBytes(ModuleSession* session, const uint8_t* bytes, size_t count,
                     std::vector<uint8_t>* reply);
// Records stray bytes still pending and a frame left unfinished.
void FinishModuleSession(ModuleSession* session);

// Line time, kept from the moments bytes are seen: the pseudo-terminal hands over a burst at
// once, so each byte is taken to start when it arrives or when the byte before it has finished,
// whichever is later. Times in nanoseconds of one monotonic clock.
struct LinePacer {
    int64_t byteNs = 0;                 // 11 bits at the configured rate; 0 when not paced
    int64_t latencyNs = 0;              // before every reply
    int64_t inboundEndNs = INT64_MIN;   // the program's last byte has wholly arrived
    int64_t outboundEndNs = INT64_MIN;  // the module's last byte has wholly arrived
};

void StartLinePacer(LinePacer* pacer, const ModuleConfig& config);
// When a byte from the program, seen at arrivalNs, has wholly arrived; the pacer moves on.
int64_t PaceInboundByte(LinePacer* pacer, int64_t arrivalNs);
// When the next reply byte, ready to go at readyNs, would have wholly arrived at the program.
int64_t NextOutboundByteEnd(const LinePacer& pacer, int64_t readyNs);
// The same, and the pacer moves on past that byte.
int64_t PaceOutboundByte(LinePacer* pacer, int64_t readyNs);

struct ModulePty {
    int masterFd = -1;
    int slaveFd = -1;  // held until the program's first byte, so the master sees no hang-up early
    std::string slavePath;
};

// Creates a pseudo-terminal pair with close-on-exec descriptors, the slave in raw mode.
bool OpenModulePty(ModulePty* pty, std::string* error);
// Plays the module on a serial device instead (raw, 115200 baud, 8N2). No hang-up detection.
bool OpenModuleDevice(const std::string& path, ModulePty* pty, std::string* error);
void CloseModulePty(ModulePty* pty);

// Writes config.bytesBeforeStart to the line and records them in log->sent. Call it before the
// program can open the port: RunModule does not send them.
bool SendBytesBeforeStart(ModulePty* pty, const ModuleConfig& config, ModuleLog* log,
                          std::string* error);

// Serves until the program hangs up after its first byte, or stopFd becomes readable; in the
// latter case the bytes still waiting are read and parsed before it returns. Returns false only
// on an unexpected I/O error, described in *error.
bool RunModule(ModulePty* pty, const ModuleConfig& config, ModuleLog* log, int stopFd,
               std::string* error);

size_t CountFrames(const ModuleLog& log, uint8_t command);
// The text of every Data command, in order.
std::vector<std::string> DataLines(const ModuleLog& log);
bool HasError(const ModuleLog& log, ModuleErrorKind kind);
const char* ModuleErrorKindName(ModuleErrorKind kind);

// What an update run left undone: "update incomplete: no End", "no Finish", "last update command
// rejected (0x15)", ... Empty when no update command (Start to Finish) arrived at all, as in a
// run of service operations.
std::vector<std::string> UpdateShortfalls(const ModuleLog& log);

// True when nothing went wrong on the line, an update run was completed (no shortfalls) and,
// given an expected image, the image matches.
bool ModuleRunPassed(const ModuleLog& log, const MemoryImage* expected);
// A few lines for people: frame counts, errors, image extent, and whether it arrived whole.
std::string DescribeModuleVerdict(const ModuleLog& log, const MemoryImage* expected);

uint8_t ModuleSumChecksum(const uint8_t* bytes, size_t count);
