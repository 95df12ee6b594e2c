// The Telnet decoder of a network serial port: arbitrary bytes from the server, decoded once
// whole and once in pieces. A socket delivers the bytes in pieces of any size, so the pieces
// must not change what the decoder gives, and no input may make it answer out of turn.
//
// Input: byte 0 picks the largest piece (1 to 16 bytes), byte 1 the pattern of piece sizes;
// the rest is what the server sends.

#include <algorithm>
#include <vector>

#include "fuzz_input.h"
#include "rfc2217.h"

using namespace tarnix;

namespace {

struct Outcome {
    ServerBytesResult all;
    size_t largestSubnegotiation = 0;
};

void Add(const ServerBytesResult& piece, ServerBytesResult* all) {
    all->data.insert(all->data.end(), piece.data.begin(), piece.data.end());
    all->answers.insert(all->answers.end(), piece.answers.begin(), piece.answers.end());
    all->acks.insert(all->acks.end(), piece.acks.begin(), piece.acks.end());
    all->comPort = piece.comPort;
}

// Feeds the bytes in pieces of 1 to `maxPiece` bytes, their sizes drawn from `pattern`; all at
// once for a `maxPiece` of 0.
Outcome Run(const uint8_t* bytes, size_t count, uint8_t pattern, size_t maxPiece) {
    TelnetDecoder decoder;
    StartTelnetDecoder(&decoder);
    Outcome outcome;
    unsigned draw = pattern;
    for (size_t offset = 0; offset < count;) {
        draw = (draw * 37 + 11) & 0xFF;
        size_t piece = maxPiece == 0 ? count : 1 + draw % maxPiece;
        piece = std::min(piece, count - offset);
        Add(DecodeServerBytes(&decoder, bytes + offset, piece), &outcome.all);
        outcome.largestSubnegotiation =
            std::max(outcome.largestSubnegotiation, decoder.subBytes.size());
        offset += piece;
    }
    return outcome;
}

// Every answer is IAC with a verb and an option, and agrees only to what the client wants:
// WILL COM-PORT-OPTION or BINARY, DO BINARY.
void CheckAnswers(const std::vector<uint8_t>& answers, size_t count) {
    FUZZ_CHECK(answers.size() % 3 == 0);
    FUZZ_CHECK(answers.size() <= count);  // one answer at most for each 3-byte request
    for (size_t i = 0; i + 2 < answers.size(); i += 3) {
        uint8_t verb = answers[i + 1];
        uint8_t option = answers[i + 2];
        FUZZ_CHECK(answers[i] == TELNET_IAC);
        FUZZ_CHECK(verb >= TELNET_WILL && verb <= TELNET_DONT);
        if (verb == TELNET_WILL) {
            FUZZ_CHECK(option == TELNET_OPTION_COM_PORT || option == TELNET_OPTION_BINARY);
        }
        if (verb == TELNET_DO) {
            FUZZ_CHECK(option == TELNET_OPTION_BINARY);
        }
    }
}

// Acks are answers to commands, never notifications; each one's description, against the open
// step it would answer, is empty exactly when it matches.
void CheckAcks(const std::vector<ComPortMessage>& acks) {
    const std::vector<ComPortMessage> steps = OpenSettingsSteps(115200);
    for (size_t i = 0; i < acks.size(); ++i) {
        const ComPortMessage& ack = acks[i];
        const ComPortMessage& step = steps[i % steps.size()];
        FUZZ_CHECK(ack.command >= COM_PORT_SET_BAUDRATE && ack.command <= COM_PORT_PURGE_DATA);
        FUZZ_CHECK(ack.command + COM_PORT_SERVER_OFFSET < COM_PORT_NOTIFY_LINESTATE ||
                   ack.command + COM_PORT_SERVER_OFFSET > COM_PORT_FLOWCONTROL_RESUME);
        FUZZ_CHECK(ack.value.size() < MAX_SUBNEGOTIATION_BYTES);
        FUZZ_CHECK(DescribeAckMismatch(step, ack).empty() == AckMatches(step, ack));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) {
        return 0;
    }
    const uint8_t* bytes = data + 2;
    size_t count = size - 2;

    Outcome whole = Run(bytes, count, 0, 0);
    Outcome pieces = Run(bytes, count, data[1], 1 + data[0] % 16);

    FUZZ_CHECK(whole.all.data.size() <= count);
    FUZZ_CHECK(pieces.all.data == whole.all.data);
    FUZZ_CHECK(pieces.all.answers == whole.all.answers);
    FUZZ_CHECK(pieces.all.acks == whole.all.acks);
    FUZZ_CHECK(pieces.all.comPort == whole.all.comPort);
    FUZZ_CHECK(whole.largestSubnegotiation <= MAX_SUBNEGOTIATION_BYTES);
    FUZZ_CHECK(pieces.largestSubnegotiation <= MAX_SUBNEGOTIATION_BYTES);
    CheckAnswers(whole.all.answers, count);
    CheckAcks(whole.all.acks);
    return 0;
}
