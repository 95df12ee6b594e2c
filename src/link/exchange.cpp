#include "exchange.h"

#include <chrono>

#include "framing.h"

ExchangeResult Exchange(const std::function<uint32_t()>& send) {
    ExchangeResult result;
    long discarded = DiscardPendingInput();
    result.discarded = discarded > 0 ? static_cast<unsigned long>(discarded) : 0;
    result.written = send();
    auto sent = std::chrono::steady_clock::now();
    result.ended = ReceiveByteChecked(&result.reply);
    result.waitedSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - sent).count();
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
