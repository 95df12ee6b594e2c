#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "module_config.h"

namespace tarnix {

// What the module answers, and where a configured fault changes that: a rejection byte instead
// of the reply, no reply at all, extra bytes after it, or the reply held back. Decisions only;
// the session sends what they come to.

// How often each reply point has been answered so far, so a fault can pick its occurrence.
struct ReplyState {
    std::array<unsigned, FAULT_POINT_COUNT> occurrences{};
};

// The reply decided for one occurrence of a reply point.
struct ReplyChoice {
    FaultPoint point = FaultPoint::Data;
    unsigned occurrence = 0;    // 1-based, this one included
    bool silent = false;        // no reply at all
    uint8_t byte = MODULE_ACK;  // ACK: the normal reply; anything else is sent alone instead
};

// A reply held back: RunModule sends it delayMs after the last byte of the frame it answers.
struct DelayedReply {
    unsigned delayMs = 0;
    std::vector<uint8_t> bytes;
};

// Counts one more occurrence of the point and picks the first fault configured for it, if any.
ReplyChoice ChooseReply(ReplyState* replies, const ModuleConfig& config, FaultPoint point);
// The program is told ACK.
bool Acknowledged(const ReplyChoice& choice);
// What goes out in place of the normal reply: nothing when silent, else the normal reply or
// the one byte of a rejection.
std::optional<std::vector<uint8_t>> ChosenReplyBytes(const ReplyChoice& choice,
                                                     std::vector<uint8_t> normal);

// The text reply to an information query ('!' or '#'), damaged as the configuration says.
std::vector<uint8_t> InfoReplyBytes(const InfoReplyConfig& info, uint8_t command);
// 'U' and the 24-bit value, least significant byte first.
std::vector<uint8_t> StatusReplyBytes(uint32_t value);

// The reply followed by every extra configured for its occurrence.
std::vector<uint8_t> WithExtraBytes(const ModuleConfig& config, const ReplyChoice& choice,
                                    std::vector<uint8_t> bytes);
// The delay of the first late reply configured for the occurrence; none when it goes at once.
std::optional<unsigned> LateReplyDelay(const ModuleConfig& config, const ReplyChoice& choice);

}  // namespace tarnix
