#pragma once
// Service operations on the open port: the two information queries, the status query, the
// parameter command, the result-byte reader, the additive checksum and the console pause.
// Each operation is one request and its reply on the port it is given (its command goes
// through the one exchange of exchange.h, which first discards what is waiting; `discarded`
// counts that), prints its own diagnostics, and keeps no state between calls. None of the commands
// carries a module number.

#include <cstdint>

#include "exchange.h"
#include "port.h"

namespace tarnix {

// Reads the bytes of one reply after its first: each waits as a reply byte does and prints what
// the port has to say. `missed` is set once a byte did not arrive (a time-out, a failed read,
// no port, an interrupt); it then read as 0. After an interrupt nothing more is read: every
// later byte misses at once, so that an operation ends without its waits.
struct ReplyReader {
    Port& port;
    bool missed = false;
};

uint8_t NextReplyByte(ReplyReader* reader);

// A reader that goes on after the first reply byte of `exchange` (its port notes printed): the
// byte, and `missed` set when it did not arrive.
uint8_t FirstReplyByte(ReplyReader* reader, const ExchangeResult& exchange);

// 8-bit additive checksum: the sum of the first `length` bytes modulo 256 (0 for none).
uint8_t SumChecksum(const uint8_t* data, uint32_t length);

// What a caller can learn about an information query besides the console output.
struct InfoReply {
    bool framed = false;           // STX and the echo of the command byte arrived
    bool checksumMatched = false;  // only meaningful when framed
    uint32_t textLength = 0;       // bytes of text received and shown
    bool missedByte = false;       // a reply byte never came (it read as 0x00)
    unsigned long discarded = 0;   // stray bytes discarded before the query was sent
};

// Controller (VELOX) information query: STX '!' ETX, then the text reply. Prints the text
// under "VELOX-Version :", "No VELOX-Info available !" for an empty text, "Checksum failure
// !!!" before the text when its checksum does not match, and "Falscher Rückgabewert" when
// the first or second reply byte is wrong (the rest of the reply then stays unread).
InfoReply ReadVeloxInfo(Port& port);

// Flash information query: STX '#' ETX. As ReadVeloxInfo, but the text has no heading and an
// empty text prints "No Flash-Info available !".
InfoReply ReadFlashInfo(Port& port);

struct StatusReply {
    int value = 0;          // the 24-bit value sent after 'U', least significant byte first
    bool answered = false;  // 'U' and all three value bytes arrived
    unsigned long discarded = 0;
};

// Status query: STX 'S' (no ETX). The value is 0 without reading further when the reply does
// not begin with 'U'; `answered` tells a refused query from a genuine value of 0. Prints
// nothing but what the port has to say.
StatusReply ReadStatusValue(Port& port);

struct CommandReply {
    bool acknowledged = false;
    unsigned long discarded = 0;
};

// Parameter command: discards pending input, then STX '$' 00 00 p p ETX with p the low byte
// of `value`. Acknowledged when the module sends ACK; not when the purge fails (nothing is
// sent) or after printing the reply that arrived instead of ACK.
CommandReply SendParameterCommand(Port& port, int value);

// Reads one programming result byte: 0x55 and 0xAA are success (0, silent); 0x01, 0xFF and
// anything else (a time-out reads as 0) print their failure message and give 1.
int ReadResultByte(Port& port);

// Waits `ticks` milliseconds of wall-clock time, less when an interrupt comes; for 0 or less
// prompts "Press ENTER to continue !" and reads one character from standard input.
void Pause(int ticks);

}  // namespace tarnix
