#include "module_replies.h"

#include <utility>

namespace tarnix {

namespace {

// A text of this length leaves no room for the marker: the checksum follows it at once.
constexpr size_t INFO_TEXT_MAX = 256;

template <typename Entry>
bool IsFor(const Entry& entry, const ReplyChoice& choice) {
    return entry.point == choice.point && entry.occurrence == choice.occurrence;
}

}  // namespace

ReplyChoice ChooseReply(ReplyState* replies, const ModuleConfig& config, FaultPoint point) {
    ReplyChoice choice;
    choice.point = point;
    choice.occurrence = ++replies->occurrences[static_cast<size_t>(point)];
    for (const ReplyFault& fault : config.faults) {
        if (IsFor(fault, choice)) {
            choice.silent = fault.silent;
            choice.byte = fault.reply;
            break;
        }
    }
    return choice;
}

bool Acknowledged(const ReplyChoice& choice) {
    return !choice.silent && choice.byte == MODULE_ACK;
}

std::optional<std::vector<uint8_t>> ChosenReplyBytes(const ReplyChoice& choice,
                                                     std::vector<uint8_t> normal) {
    if (choice.silent) {
        return std::nullopt;
    }
    if (choice.byte != MODULE_ACK) {
        return std::vector<uint8_t>{choice.byte};
    }
    return normal;
}

std::vector<uint8_t> InfoReplyBytes(const InfoReplyConfig& info, uint8_t command) {
    std::vector<uint8_t> reply;
    // STX, echo, text, marker, checksum. Reserved at once, which also keeps GCC 12 from a false
    // -Warray-bounds on the text insert in optimised builds.
    reply.reserve(info.text.size() + 4);
    reply.push_back(info.overrideFirstByte ? info.firstByte : MODULE_STX);
    reply.push_back(info.overrideEcho ? info.echo : command);
    reply.insert(reply.end(), info.text.begin(), info.text.end());
    if (info.text.size() < INFO_TEXT_MAX && info.marker != InfoMarker::None) {
        reply.push_back(info.marker == InfoMarker::Zero ? 0x00 : 0xFF);
    }
    const auto* text = reinterpret_cast<const uint8_t*>(info.text.data());
    reply.push_back(info.overrideChecksum ? info.checksum
                                          : ModuleSumChecksum(text, info.text.size()));
    return reply;
}

std::vector<uint8_t> StatusReplyBytes(uint32_t value) {
    return {MODULE_STATUS_REPLY, static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
            static_cast<uint8_t>(value >> 16)};
}

std::vector<uint8_t> WithExtraBytes(const ModuleConfig& config, const ReplyChoice& choice,
                                    std::vector<uint8_t> bytes) {
    for (const ExtraReply& extra : config.extraReplies) {
        if (IsFor(extra, choice)) {
            bytes.insert(bytes.end(), extra.bytes.begin(), extra.bytes.end());
        }
    }
    return bytes;
}

std::optional<unsigned> LateReplyDelay(const ModuleConfig& config, const ReplyChoice& choice) {
    for (const LateReply& late : config.lateReplies) {
        if (IsFor(late, choice)) {
            return late.delayMs;
        }
    }
    return std::nullopt;
}

}  // namespace tarnix
