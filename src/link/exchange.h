#pragma once
// One exchange of the stop-and-wait protocol on a port: what was waiting is discarded (it
// cannot be the reply to a command not yet sent), the command goes out, and the first byte of
// the reply is awaited. What happened comes back as a value, with its verdict: the one place
// that decides whether a command was accepted.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "framing.h"
#include "port.h"

namespace tarnix {

struct ExchangeResult {
    ReceiveResult ended = ReceiveResult::NotOpen;  // how the wait for the reply ended
    uint8_t reply = 0;                             // the reply byte; 0 when none arrived
    unsigned long discarded = 0;                   // stray bytes discarded before sending
    double waitedSeconds = 0;                      // from the command sent to the reply's end
    uint32_t written = 0;                          // block bytes the send wrote
    PortNotes notes;                               // what the port has to tell, in order
};

// What a reply means for the command it answers.
enum class Verdict {
    Acknowledged,  // ACK arrived
    Rejected,      // another byte arrived, whatever its value
    NoReply,       // nothing arrived: a time-out, a failed read, a port that is not open
    Interrupted,   // an interrupt ended the wait
};

Verdict VerdictOf(const ExchangeResult& result);

inline bool Acknowledged(const ExchangeResult& result) {
    return VerdictOf(result) == Verdict::Acknowledged;
}

// The two halves of every exchange, for a command whose sending has steps of its own (a block
// whose write may fail before its checksum goes out): what waits before the command is sent is
// discarded and counted; then the first reply byte is awaited. `waitAfterInterrupt` false: once
// an interrupt has arrived nothing is awaited (the service operations end without their
// waits), true: the wait runs as usual (the End of an update still gets its reply).
unsigned long DiscardBeforeCommand(Port& port);
ExchangeResult AwaitReply(Port& port, unsigned long discarded, bool waitAfterInterrupt);

// Both halves around sending `frame`.
ExchangeResult Exchange(Port& port, const Frame& frame, bool waitAfterInterrupt = true);

// A service command: its bytes sent one by one, and nothing awaited after an interrupt.
ExchangeResult ExchangeServiceFrame(Port& port, const std::vector<uint8_t>& frame);

// STX, cmd, modNr, ETX, and its reply.
ExchangeResult ExchangeCommand(Port& port, uint8_t cmd, uint8_t modNr);

// A Data command carrying one line (DataLineFrame: the line end is replaced in place), and its
// reply.
ExchangeResult ExchangeDataLine(Port& port, uint8_t modNr, char* line, size_t* length);

// A frame that gets no reply (Finish); what the port had to say.
PortNotes SendWithoutReply(Port& port, const Frame& frame);

// True when the reply arrived and was `expected` (a service reply's framing bytes).
inline bool ReplyWas(const ExchangeResult& result, uint8_t expected) {
    return result.ended == ReceiveResult::Byte && result.reply == expected;
}

}  // namespace tarnix
