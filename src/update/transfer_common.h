#pragma once
// Pieces that the line-mode and record-mode transfers share: reading a line of the update
// file, the progress line, the messages both print, and a command with its reply.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <span>

#include "exchange.h"
#include "file_change.h"
#include "framing.h"
#include "transfer.h"
#include "update_outcome.h"

namespace tarnix {

inline constexpr size_t MAX_LINE_CHARS = 299;
// A line end (CR LF) that follows a full piece of MAX_LINE_CHARS characters is read with it.
inline constexpr size_t MAX_LINE_END_CHARS = 2;
inline constexpr size_t LINE_BUFFER_SIZE =
    MAX_LINE_CHARS + MAX_LINE_END_CHARS + DATA_LINE_SPARE_BYTES;

// Why a read failed: the stream reported an error, the file no longer has the size taken
// when it was opened (it ended before that size, or goes on past it), or it no longer holds
// what was read from it (WatchFileContent).
enum class ReadFault { None, Stream, EndedEarly, Grew, Changed };

struct UpdateLine {
    char text[LINE_BUFFER_SIZE] = {};
    size_t length = 0;       // bytes in text, NUL bytes included
    int number = 0;          // counts every read attempt, the one that finds the end included
    bool cut = false;        // the buffer filled before the line's end: the line goes on
    int ahead = EOF;         // a character read past the line, the first of the next read
    uint64_t position = 0;   // bytes of the file read so far, header included
    bool sizeKnown = false;  // set by ExpectFileSize
    uint32_t fileSize = 0;
    ReadFault fault = ReadFault::None;
    int error = 0;         // errno of a stream error
    bool watched = false;  // set by WatchFileContent
    SentFile read;         // every line handed out, and what was read before them
};

enum class LineRead { Line, EndOfFile, ReadError };

// Lets every read check the file against `fileSize`, the size the run took when it opened
// the file; `alreadyRead` bytes (a header) were read before the first line.
void ExpectFileSize(UpdateLine* line, uint32_t fileSize, uint32_t alreadyRead);

// Lets the reads notice a file that is written to while it is sent, after ExpectFileSize:
// `readBefore` holds the bytes read before the first line (the header). Between two reads a
// new stamp of the file has the bytes read so far compared with the file as it is now; at
// the end the whole file is read again and compared. A difference is ReadFault::Changed.
void WatchFileContent(UpdateLine* line, FILE* stream, std::span<const uint8_t> readBefore);

// Reads the next line of at most MAX_LINE_CHARS characters, up to and including its LF. A
// longer line comes in pieces, each but the last with `cut` set; a line end that follows a
// full piece at once belongs to that piece, so that no piece is a line end alone. A read
// error, or a file whose size is no longer the expected one (ExpectFileSize), gives
// ReadError with line->fault saying which: a file that ends early is never a complete read.
LineRead ReadUpdateLine(FILE* stream, UpdateLine* line);

// The shown percentage: total / (size / 100). Files under 100 bytes, where that divisor is 0,
// get the true percentage instead.
long ProgressPercent(uint32_t total, uint32_t size);

// One transfer under way, in either mode: what it reads, what it has sent, what it did.
struct TransferRun {
    Port& port;
    const UpdateSource& source;
    uint8_t modNr = 0;
    UpdateLine line;
    uint32_t total = 0;      // payload bytes written, for the progress line
    long shownPercent = -1;  // the last figure of a progress line on standard error
    UpdateResult result;
};

void PrintLoading(const UpdateSource& source);
// The progress line for run->total, and with UpdateSource::progressLines the same figure on
// standard error whenever it changes; PrintDone ends it at 100.
void PrintProgress(TransferRun* run);
void PrintFirstProgress(TransferRun* run);  // record mode's 0 % on a line of its own
void PrintDone(TransferRun* run);
// Prints why the line could not be read and notes the read error.
void PrintReadError(TransferRun* run);

// Prints a message about the line, then the line buffer as it stands and a line end.
__attribute__((format(printf, 2, 3))) void ReportLine(const UpdateLine& line, const char* format,
                                                      ...);

// What the handling of one line decided.
enum class LineStep { Continue, Stop };

// The read loop of both modes: reads the file line by line and hands each line to `handle`,
// until the end of the file. False when `handle` stopped, the transfer had to stop
// (TransferMustStop), or a line could not be read (the file ending before the size taken at
// its opening, or changing, included; reported). A last line without a line end sets the
// end-of-file indicator as it is read, so the loop ends after it without the done line: the
// done line belongs to the read that finds nothing more.
bool ForwardEachLine(TransferRun* run, const std::function<LineStep()>& handle);

// True when the transfer must stop before its next command: an interrupt has arrived (the
// safe point takes it, interrupts.h) or the port hung up; noted as the failure.
bool TransferMustStop(TransferRun* run);

// Both exchanges go through Exchange (exchange.h), which first discards what is already
// waiting, so that the reply read is only what arrives after the command was sent; each is
// counted into run->result.

// Start and End of both modes, each with its rejection message ("Return Value start : 0x%02X",
// "Return Value Ende : 0x%02X"). False when the module did not acknowledge; Start is not sent
// when the transfer must stop already.
bool StartModuleUpdate(TransferRun* run);
bool EndModuleUpdate(TransferRun* run);

// Sends a command without payload and reads its reply; what the port had to say is printed.
ExchangeResult SendCommandForReply(TransferRun* run, uint8_t cmd);

// Sends the line in hand as a Data command and reads its reply, likewise.
ExchangeResult SendDataLineForReply(TransferRun* run);

}  // namespace tarnix
