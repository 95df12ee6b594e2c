#pragma once
// One exchange of the stop-and-wait protocol: what was waiting is discarded (it cannot be the
// reply to a command not yet sent), the command goes out, and the first byte of the reply is
// awaited. What happened comes back as a value; the exchange keeps no record of its own.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "com_port.h"

struct ExchangeResult {
    ReceiveResult ended = ReceiveResult::NotOpen;  // how the wait for the reply ended
    uint8_t reply = 0;                             // the reply byte; 0 when none arrived
    unsigned long discarded = 0;                   // stray bytes discarded before sending
    double waitedSeconds = 0;                      // from the command sent to the reply's end
    uint32_t written = 0;                          // payload bytes the send wrote
};

// The two halves of every exchange, for a command whose sending has steps of its own (a block
// whose write may fail before its checksum goes out): what waits before the command is sent is
// discarded and counted; then the first reply byte is awaited. `waitAfterInterrupt` false: once
// an interrupt has arrived nothing is awaited (the service operations end without their
// waits), true: the wait runs as usual (the End of an update still gets its reply).
unsigned long DiscardBeforeCommand();
ExchangeResult AwaitReply(unsigned long discarded, bool waitAfterInterrupt);

// Both halves around `send` (which returns the payload bytes it wrote). The reply wait prints
// its own messages (com_port.h).
ExchangeResult Exchange(const std::function<uint32_t()>& send, bool waitAfterInterrupt = true);

// A service command: its bytes sent one by one, and nothing awaited after an interrupt.
ExchangeResult ExchangeServiceFrame(const std::vector<uint8_t>& frame);

// STX, cmd, modNr, ETX, and its reply.
ExchangeResult ExchangeCommand(uint8_t cmd, uint8_t modNr);

// A Data command carrying one line (SendDataLine: the line end is replaced in place), and its
// reply.
ExchangeResult ExchangeDataLine(uint8_t modNr, char* line, size_t* length);

// True when the reply arrived and was `expected`.
inline bool ReplyWas(const ExchangeResult& result, uint8_t expected) {
    return result.ended == ReceiveResult::Byte && result.reply == expected;
}
