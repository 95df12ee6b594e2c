#include "module_info.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>

#include "com_port.h"
#include "console_text.h"
#include "exchange.h"
#include "framing.h"
#include "interrupts.h"

namespace {

constexpr uint32_t MAX_INFO_TEXT = 256;
constexpr uint8_t STATUS_REPLY = 'U';
constexpr uint8_t END_MARKER_ZERO = 0x00;
constexpr uint8_t END_MARKER_FF = 0xFF;

constexpr uint8_t RESULT_SUCCESS = 0x55;
constexpr uint8_t RESULT_SUCCESS_ALT = 0xAA;
constexpr uint8_t RESULT_CHECKSUM_FAILURE = 0x01;
constexpr uint8_t RESULT_PROGRAMMING_FAILURE = 0xFF;

// How often a timed pause looks for an interrupt.
constexpr int PAUSE_SLICE_MS = 50;

struct InfoQuery {
    uint8_t command;
    const char* heading;  // null: the text is shown without a heading
    const char* emptyText;
};

// Reads the text up to its end marker, or 256 bytes when the module sends no marker. A
// time-out reads as 0x00 and therefore ends the text like a marker.
uint32_t ReceiveInfoText(uint8_t* text, bool* missed) {
    uint32_t count = 0;
    while (count < MAX_INFO_TEXT) {
        uint8_t value = ReceiveServiceByte(missed);
        if (value == END_MARKER_ZERO || value == END_MARKER_FF) {
            break;
        }
        text[count++] = value;
    }
    return count;
}

void ShowInfoText(const InfoQuery& query, const uint8_t* text, uint32_t count) {
    if (count == 0) {
        printf("%s", query.emptyText);
        return;
    }
    if (query.heading != nullptr) {
        printf("%s", query.heading);
    }
    fwrite(text, 1, count, stdout);
    printf("\n");
}

// Both information queries: STX, command, ETX; reply STX, echo, text, marker, checksum.
void ReadInfo(const InfoQuery& query, InfoReply* reply) {
    InfoReply outcome;
    ExchangeResult first = ExchangeServiceFrame({STX, query.command, ETX});
    outcome.discarded = first.discarded;
    for (uint8_t expected : {STX, query.command}) {
        uint8_t value = expected == STX ? ReplyByte(first, &outcome.missedByte)
                                        : ReceiveServiceByte(&outcome.missedByte);
        if (value != expected) {
            PrintWrongReply(value);
            if (reply != nullptr) {
                *reply = outcome;
            }
            return;
        }
    }
    outcome.framed = true;
    uint8_t text[MAX_INFO_TEXT];
    outcome.textLength = ReceiveInfoText(text, &outcome.missedByte);
    uint8_t receivedChecksum = ReceiveServiceByte(&outcome.missedByte);
    outcome.checksumMatched = SumChecksum(text, outcome.textLength) == receivedChecksum;
    if (!outcome.checksumMatched) {
        printf("Checksum failure !!!\n");
    }
    ShowInfoText(query, text, outcome.textLength);
    if (reply != nullptr) {
        *reply = outcome;
    }
}

}  // namespace

uint8_t ReceiveServiceByte(bool* missed) {
    if (InterruptRequested()) {
        *missed = true;
        return 0;
    }
    uint8_t value = 0;
    if (ReceiveByteChecked(&value) != ReceiveResult::Byte) {
        *missed = true;
    }
    return value;
}

uint8_t ReplyByte(const ExchangeResult& exchange, bool* missed) {
    if (exchange.ended != ReceiveResult::Byte) {
        *missed = true;
    }
    return exchange.reply;
}

void AddDiscarded(unsigned long* discarded, const ExchangeResult& exchange) {
    if (discarded != nullptr) {
        *discarded += exchange.discarded;
    }
}

uint8_t SumChecksum(const uint8_t* data, uint32_t length) {
    uint8_t sum = 0;
    for (uint32_t i = 0; i < length; ++i) {
        sum = static_cast<uint8_t>(sum + data[i]);
    }
    return sum;
}

void ReadVeloxInfo(InfoReply* reply) {
    ReadInfo({CMD_VELOX_INFO, "VELOX-Version :\n", "No VELOX-Info available !\n"}, reply);
}

void ReadFlashInfo(InfoReply* reply) {
    ReadInfo({CMD_FLASH_INFO, nullptr, "No Flash-Info available !\n"}, reply);
}

int ReadStatusValue(bool* answered, unsigned long* discarded) {
    ExchangeResult first = ExchangeServiceFrame({STX, CMD_STATUS});
    AddDiscarded(discarded, first);
    bool missed = false;
    bool isStatusReply = ReplyByte(first, &missed) == STATUS_REPLY;
    int value = 0;
    if (isStatusReply) {
        for (int shift = 0; shift < 24; shift += 8) {
            value |= ReceiveServiceByte(&missed) << shift;
        }
    }
    if (answered != nullptr) {
        *answered = isStatusReply && !missed;
    }
    return value;
}

int SendParameterCommand(int value, unsigned long* discarded) {
    if (PurgeComInput() != 0) {
        return -1;
    }
    const auto parameter = static_cast<uint8_t>(value & 0xFF);
    ExchangeResult exchange = ExchangeServiceFrame(
        {STX, CMD_PARAMETER, uint8_t{0}, uint8_t{0}, parameter, parameter, ETX});
    AddDiscarded(discarded, exchange);
    bool missed = false;
    uint8_t reply = ReplyByte(exchange, &missed);
    if (reply == ACK) {
        return 0;
    }
    printf("\nAcknowledge not received : 0x%02X !!!\n", reply);
    return -1;
}

int ReadResultByte() {
    bool missed = false;  // a missed byte reads as 0: an undefined failure
    uint8_t result = ReceiveServiceByte(&missed);
    switch (result) {
        case RESULT_SUCCESS:
        case RESULT_SUCCESS_ALT:
            return 0;
        case RESULT_CHECKSUM_FAILURE:
            printf("\n\nChecksum Failure !\n");
            return 1;
        case RESULT_PROGRAMMING_FAILURE:
            printf("\n\nProgramming Failure !\n");
            return 1;
        default:
            printf("\n\nUndefined Failure : 0x%02X !\n", result);
            return 1;
    }
}

void Pause(int ticks) {
    if (ticks > 0) {
        // Wall-clock milliseconds, whatever the process does meanwhile; sleeping rather
        // than spinning leaves the CPU to others.
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ticks);
        while (!InterruptRequested() && std::chrono::steady_clock::now() < end) {
            std::this_thread::sleep_until(std::min(
                end, std::chrono::steady_clock::now() + std::chrono::milliseconds(PAUSE_SLICE_MS)));
        }
        return;
    }
    printf("\nPress ENTER to continue !");
    fflush(stdout);
    getchar();
}
