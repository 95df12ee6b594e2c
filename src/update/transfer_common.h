#pragma once
// Pieces that the line-mode and record-mode transfers share: reading a line of the update
// file, the progress line, the messages both print, and a command with its reply.

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "framing.h"
#include "transfer.h"

inline constexpr size_t MAX_LINE_CHARS = 299;
inline constexpr size_t LINE_BUFFER_SIZE = MAX_LINE_CHARS + DATA_LINE_SPARE_BYTES;

struct UpdateLine {
    char text[LINE_BUFFER_SIZE] = {};
    size_t length = 0;  // bytes in text, NUL bytes included
    int number = 0;     // counts every read attempt, the one that finds the end included
};

enum class LineRead { Line, EndOfFile, ReadError };

// Reads the next line of at most MAX_LINE_CHARS characters, up to and including its LF.
LineRead ReadUpdateLine(FILE* stream, UpdateLine* line);

// The shown percentage: total / (size / 100). Files under 100 bytes, where that divisor is 0,
// get the true percentage instead.
long ProgressPercent(uint32_t total, uint32_t size);

void PrintLoading(const UpdateSource& source);
void PrintProgress(uint32_t total, uint32_t size);
void PrintDone();
void PrintReadError(const UpdateSource& source, const UpdateLine& line);

// Prints the line buffer as it stands, followed by a line end.
void PrintLine(const UpdateLine& line);

// True when the transfer must stop before its next command: an interrupt has arrived (the
// safe point takes it, interrupts.h) or the port hung up.
bool TransferMustStop();

// Both exchanges first discard what is already waiting (DiscardedReplyBytes() counts it), so
// that the reply read is only what arrives after the command was sent.

// Sends a command without payload and reads its reply byte.
uint8_t SendCommandForReply(uint8_t cmd, uint8_t modNr);

// Sends the line as a Data command and reads its reply; *written gets the count written.
uint8_t SendDataLineForReply(uint8_t modNr, UpdateLine* line, uint32_t* written);
