#pragma once
// A port played in process by a script: no terminal, no timing. Every byte the program sends is
// recorded; whenever the program waits for a reply after sending, the script says how the
// module answers: with bytes, with silence (the wait times out at once), late (after the
// time-out, so the byte waits before the next command), or by hanging up.

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

#include "port.h"

namespace tarnix {

enum class FakeReplyKind { Bytes, Silence, Late, HangUp };

struct FakeReply {
    FakeReplyKind kind = FakeReplyKind::Bytes;
    std::vector<uint8_t> bytes;  // Bytes and Late: what arrives
};

// What the program sent since the module last answered: the command is the byte after its
// first STX (0 when there is none).
struct AwaitedReply {
    size_t index = 0;  // 0 for the first reply awaited
    uint8_t command = 0;
    std::vector<uint8_t> sentSince;
};

struct FakeLine {
    std::function<FakeReply(const AwaitedReply&)> script;
    std::vector<uint8_t> sent;    // every byte the program sent, in order
    std::deque<uint8_t> waiting;  // bytes the program reads next
    size_t answeredUpTo = 0;      // sent bytes already answered
    size_t awaited = 0;
    bool hungUp = false;
    bool open = true;
};

// A port on `line`, which must outlive it.
std::unique_ptr<Port> OpenFakePort(FakeLine* line);

inline FakeReply ReplyWith(uint8_t byte) {
    return {FakeReplyKind::Bytes, {byte}};
}

// The command bytes of the frames in `bytes` that begin with STX and a command letter, in
// order ("BCCDE"); data inside frames is skipped up to their ETX.
std::string SentCommands(const std::vector<uint8_t>& bytes);

}  // namespace tarnix
