#include "module_info.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>

#include "console_text.h"
#include "exchange.h"
#include "framing.h"
#include "interrupts.h"
#include "port_texts.h"

namespace tarnix {

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
uint32_t ReceiveInfoText(ReplyReader* reader, uint8_t* text) {
    uint32_t count = 0;
    while (count < MAX_INFO_TEXT) {
        uint8_t value = NextReplyByte(reader);
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
// The reply's STX and the echo of the command byte; false after printing a wrong one.
bool ReceiveInfoFraming(ReplyReader* reader, const ExchangeResult& first, uint8_t command) {
    for (uint8_t expected : {STX, command}) {
        uint8_t value = expected == STX ? FirstReplyByte(reader, first) : NextReplyByte(reader);
        if (value != expected) {
            PrintWrongReply(value);
            return false;
        }
    }
    return true;
}

InfoReply ReadInfo(Port& port, const InfoQuery& query) {
    InfoReply outcome;
    ExchangeResult first = ExchangeServiceFrame(port, {STX, query.command, ETX});
    outcome.discarded = first.discarded;
    ReplyReader reader{port};
    outcome.framed = ReceiveInfoFraming(&reader, first, query.command);
    if (outcome.framed) {
        uint8_t text[MAX_INFO_TEXT];
        outcome.textLength = ReceiveInfoText(&reader, text);
        uint8_t receivedChecksum = NextReplyByte(&reader);
        outcome.checksumMatched = SumChecksum(text, outcome.textLength) == receivedChecksum;
        if (!outcome.checksumMatched) {
            printf("Checksum failure !!!\n");
        }
        ShowInfoText(query, text, outcome.textLength);
    }
    outcome.missedByte = reader.missed;
    return outcome;
}

}  // namespace

uint8_t NextReplyByte(ReplyReader* reader) {
    if (InterruptRequested()) {
        reader->missed = true;
        return 0;
    }
    PortNotes notes;
    Received received = ReceiveByte(reader->port, &notes);
    PrintPortNotes(notes);
    if (received.ended != ReceiveResult::Byte) {
        reader->missed = true;
    }
    return received.value;
}

uint8_t FirstReplyByte(ReplyReader* reader, const ExchangeResult& exchange) {
    PrintPortNotes(exchange.notes);
    if (exchange.ended != ReceiveResult::Byte) {
        reader->missed = true;
    }
    return exchange.reply;
}

uint8_t SumChecksum(const uint8_t* data, uint32_t length) {
    uint8_t sum = 0;
    for (uint32_t i = 0; i < length; ++i) {
        sum = static_cast<uint8_t>(sum + data[i]);
    }
    return sum;
}

InfoReply ReadVeloxInfo(Port& port) {
    return ReadInfo(port, {CMD_VELOX_INFO, "VELOX-Version :\n", "No VELOX-Info available !\n"});
}

InfoReply ReadFlashInfo(Port& port) {
    return ReadInfo(port, {CMD_FLASH_INFO, nullptr, "No Flash-Info available !\n"});
}

StatusReply ReadStatusValue(Port& port) {
    StatusReply status;
    ExchangeResult first = ExchangeServiceFrame(port, {STX, CMD_STATUS});
    status.discarded = first.discarded;
    ReplyReader reader{port};
    bool isStatusReply = FirstReplyByte(&reader, first) == STATUS_REPLY;
    if (isStatusReply) {
        for (int shift = 0; shift < 24; shift += 8) {
            status.value |= NextReplyByte(&reader) << shift;
        }
    }
    status.answered = isStatusReply && !reader.missed;
    return status;
}

CommandReply SendParameterCommand(Port& port, int value) {
    PortNotes purged = PurgeInput(port);
    PrintPortNotes(purged);
    if (!purged.empty()) {
        return {};
    }
    const auto parameter = static_cast<uint8_t>(value & 0xFF);
    ExchangeResult exchange = ExchangeServiceFrame(
        port, {STX, CMD_PARAMETER, uint8_t{0}, uint8_t{0}, parameter, parameter, ETX});
    PrintPortNotes(exchange.notes);
    CommandReply reply{Acknowledged(exchange), exchange.discarded};
    if (!reply.acknowledged) {
        printf("\nAcknowledge not received : 0x%02X !!!\n", exchange.reply);
    }
    return reply;
}

int ReadResultByte(Port& port) {
    ReplyReader reader{port};  // a missed byte reads as 0: an undefined failure
    uint8_t result = NextReplyByte(&reader);
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

}  // namespace tarnix
