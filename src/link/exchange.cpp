#include "exchange.h"

#include <chrono>

#include "interrupts.h"

namespace tarnix {

Verdict VerdictOf(const ExchangeResult& result) {
    switch (result.ended) {
        case ReceiveResult::Byte:
            return result.reply == ACK ? Verdict::Acknowledged : Verdict::Rejected;
        case ReceiveResult::Interrupted:
            return Verdict::Interrupted;
        default:
            return Verdict::NoReply;
    }
}

unsigned long DiscardBeforeCommand(Port& port) {
    return DiscardWaitingInput(port);
}

ExchangeResult AwaitReply(Port& port, unsigned long discarded, bool waitAfterInterrupt) {
    ExchangeResult result;
    result.discarded = discarded;
    if (!waitAfterInterrupt && InterruptRequested()) {
        result.ended = ReceiveResult::Interrupted;
        return result;
    }
    auto sent = std::chrono::steady_clock::now();
    Received received = ReceiveByte(port, &result.notes);
    result.ended = received.ended;
    result.reply = received.value;
    result.waitedSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - sent).count();
    return result;
}

ExchangeResult Exchange(Port& port, const Frame& frame, bool waitAfterInterrupt) {
    unsigned long discarded = DiscardBeforeCommand(port);
    PortNotes sendNotes;
    uint32_t written = SendFrame(port, frame, &sendNotes);
    ExchangeResult result = AwaitReply(port, discarded, waitAfterInterrupt);
    result.written = written;
    result.notes.insert(result.notes.begin(), sendNotes.begin(), sendNotes.end());
    return result;
}

ExchangeResult ExchangeCommand(Port& port, uint8_t cmd, uint8_t modNr) {
    return Exchange(port, CommandFrame(cmd, modNr));
}

ExchangeResult ExchangeDataLine(Port& port, uint8_t modNr, char* line, size_t* length) {
    return Exchange(port, DataLineFrame(modNr, line, length));
}

ExchangeResult ExchangeServiceFrame(Port& port, const std::vector<uint8_t>& frame) {
    return Exchange(port, ByteFrame(frame), false);
}

PortNotes SendWithoutReply(Port& port, const Frame& frame) {
    PortNotes notes;
    SendFrame(port, frame, &notes);
    return notes;
}

}  // namespace tarnix
