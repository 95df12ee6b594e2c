#include "exchange.h"

#include <chrono>

#include "framing.h"
#include "interrupts.h"

unsigned long DiscardBeforeCommand() {
    long discarded = DiscardPendingInput();
    return discarded > 0 ? static_cast<unsigned long>(discarded) : 0;
}

ExchangeResult AwaitReply(unsigned long discarded, bool waitAfterInterrupt) {
    ExchangeResult result;
    result.discarded = discarded;
    if (!waitAfterInterrupt && InterruptRequested()) {
        result.ended = ReceiveResult::Interrupted;
        return result;
    }
    auto sent = std::chrono::steady_clock::now();
    result.ended = ReceiveByteChecked(&result.reply);
    result.waitedSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - sent).count();
    return result;
}

ExchangeResult Exchange(const std::function<uint32_t()>& send, bool waitAfterInterrupt) {
    unsigned long discarded = DiscardBeforeCommand();
    uint32_t written = send();
    ExchangeResult result = AwaitReply(discarded, waitAfterInterrupt);
    result.written = written;
    return result;
}

ExchangeResult ExchangeCommand(uint8_t cmd, uint8_t modNr) {
    return Exchange([cmd, modNr] {
        SendCommand(cmd, modNr);
        return uint32_t{0};
    });
}

ExchangeResult ExchangeDataLine(uint8_t modNr, char* line, size_t* length) {
    return Exchange([modNr, line, length] { return SendDataLine(modNr, line, length); });
}

ExchangeResult ExchangeServiceFrame(const std::vector<uint8_t>& frame) {
    return Exchange(
        [&frame] {
            for (uint8_t byte : frame) {
                SendByte(byte);
            }
            return uint32_t{0};
        },
        false);
}
