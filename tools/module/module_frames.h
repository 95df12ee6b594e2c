#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "module_log.h"

namespace tarnix {

// Bytes from the program into frames. The parser knows the shape of every command's frame and
// finds the faults of shape: stray bytes, a frame malformed, overlong or cut off. What a frame
// means and what the module answers is left to the session; the parser stops at the events the
// session acts on and leaves it to end the frame once answered (TakeFrame).

// Where the parser stands in a frame.
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

// The parser's state between reads: plain data, kept by the session.
struct FrameParser {
    ParseState state = ParseState::Idle;
    ModuleFrame frame;               // the frame being parsed
    std::vector<uint8_t> stray;      // bytes outside a frame, reported when the next one opens
    std::vector<uint8_t> header;     // the download header so far
    uint32_t downloadRemaining = 0;  // download bytes yet to arrive
    std::vector<uint8_t> block;      // the download block so far
    size_t timestampNameEnd = 0;     // where the LF after the file name is in the payload
};

enum class FrameEvent {
    None,
    // The command byte of a frame that goes on after it: every command but the status query.
    CommandArrived,
    // The last of the eight download header bytes (FrameParser::header). Once answered, the
    // session goes on with ExpectDownloadData, or ends the frame unclosed.
    DownloadHeaderComplete,
    // The checksum byte after a download block (TakeDownloadBlock). Once answered, the session
    // goes on with ExpectNextDownloadBlock, or ends the frame unclosed.
    DownloadBlockComplete,
    // The checksum byte of a timestamp, the last byte of its payload.
    TimestampChecksum,
    // The last byte of a frame, as its command requires; the session answers and ends it.
    FrameComplete,
};

struct FrameStep {
    FrameEvent event = FrameEvent::None;
    // False when the byte ended the frame before it without belonging to it: it is parsed
    // again, since it may be the STX of the next frame.
    bool taken = true;
    Findings findings;                 // faults of shape this byte brought to light
    std::optional<ModuleFrame> ended;  // the frame this byte left unfinished, for the log
};

FrameStep ParseFrameByte(FrameParser* parser, uint8_t byte);
// At the end of the line: stray bytes still pending, and the frame cut off if one is open.
FrameStep FinishFrames(FrameParser* parser);

// Ends the current frame, closed or not, and hands it over for the log; the parser is idle.
ModuleFrame TakeFrame(FrameParser* parser, bool closed);
// After an acknowledged download header: the data follows, or at once ETX for a size of 0.
void ExpectDownloadData(FrameParser* parser);
// The download block just completed, taken out of the parser.
std::vector<uint8_t> TakeDownloadBlock(FrameParser* parser);
// After an acknowledged download block: the next block, or ETX when all bytes have arrived.
void ExpectNextDownloadBlock(FrameParser* parser);

// The data size a download header declares, least significant byte first.
uint32_t DeclaredDownloadSize(const std::vector<uint8_t>& header);
// The file name and time text of the timestamp frame being parsed, once its checksum is in.
TimestampRecord TimestampFields(const FrameParser& parser);

}  // namespace tarnix
