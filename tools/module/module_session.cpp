#include <cstdio>
#include <string_view>
#include <utility>

#include "module_emulator.h"

namespace {

// Bounds on fields that end only at a marker byte, so a lost marker cannot grow the log forever.
constexpr size_t MAX_DATA_TEXT = 65536;
constexpr size_t MAX_TIMESTAMP_FIELD = 4096;
constexpr size_t DOWNLOAD_BLOCK_SIZE = 256;
constexpr size_t DOWNLOAD_HEADER_SIZE = 8;
constexpr size_t INFO_TEXT_MAX = 256;

struct ReplyChoice {
    bool silent = false;
    uint8_t byte = MODULE_ACK;
};

std::string HexByte(uint8_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", value);
    return text;
}

std::string CommandName(uint8_t command) {
    switch (command) {
        case MODULE_CMD_START:
            return "Start";
        case MODULE_CMD_DATA:
            return "Data";
        case MODULE_CMD_PROGRAM:
            return "Program";
        case MODULE_CMD_END:
            return "End";
        case MODULE_CMD_FINISH:
            return "Finish";
        case MODULE_CMD_DOWNLOAD:
            return "download";
        case MODULE_CMD_VELOX_INFO:
            return "controller information query";
        case MODULE_CMD_TIMESTAMP:
            return "timestamp";
        case MODULE_CMD_FLASH_INFO:
            return "flash information query";
        case MODULE_CMD_PARAM:
            return "parameter command";
        case MODULE_CMD_STATUS:
            return "status query";
        default:
            return "command " + HexByte(command);
    }
}

std::string PrintableText(const std::vector<uint8_t>& bytes, size_t limit) {
    std::string text;
    for (size_t i = 0; i < bytes.size() && i < limit; ++i) {
        uint8_t c = bytes[i];
        if (c >= 0x20 && c < 0x7F) {
            text += static_cast<char>(c);
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
            text += escaped;
        }
    }
    if (bytes.size() > limit) {
        text += "...";
    }
    return text;
}

void RecordError(ModuleSession* session, ModuleErrorKind kind, std::string text) {
    session->log->errors.push_back(ModuleError{kind, session->log->frames.size(), std::move(text)});
}

void FlushStrayBytes(ModuleSession* session) {
    if (session->stray.empty()) {
        return;
    }
    std::string text = std::to_string(session->stray.size()) + " byte(s) outside a frame:";
    for (size_t i = 0; i < session->stray.size() && i < 16; ++i) {
        text += ' ';
        text += HexByte(session->stray[i]);
    }
    if (session->stray.size() > 16) {
        text += " ...";
    }
    RecordError(session, ModuleErrorKind::StrayBytes, std::move(text));
    session->stray.clear();
}

void EndFrame(ModuleSession* session, bool closed) {
    session->frame.closed = closed;
    session->log->frames.push_back(std::move(session->frame));
    session->frame = ModuleFrame{};
    session->state = ParseState::Idle;
}

void AbandonFrame(ModuleSession* session, ModuleErrorKind kind, std::string text) {
    RecordError(session, kind, std::move(text));
    EndFrame(session, false);
}

ReplyChoice ChooseReply(ModuleSession* session, FaultPoint point) {
    unsigned count = ++session->occurrences[static_cast<size_t>(point)];
    session->replyPoint = point;
    session->replyOccurrence = count;
    for (const ReplyFault& fault : session->config->faults) {
        if (fault.point == point && fault.occurrence == count) {
            return ReplyChoice{fault.silent, fault.reply};
        }
    }
    return ReplyChoice{};
}

// The reply to the frame being answered, with any extra bytes configured after it; sent at once
// or, for a late reply, handed to RunModule through session->delayed.
void Answer(ModuleSession* session, std::vector<uint8_t> bytes, std::vector<uint8_t>* out) {
    const ModuleConfig& config = *session->config;
    auto matches = [session](const auto& entry) {
        return entry.point == session->replyPoint && entry.occurrence == session->replyOccurrence;
    };
    for (const ExtraReply& extra : config.extraReplies) {
        if (matches(extra)) {
            bytes.insert(bytes.end(), extra.bytes.begin(), extra.bytes.end());
        }
    }
    session->frame.reply.insert(session->frame.reply.end(), bytes.begin(), bytes.end());
    session->log->sent.insert(session->log->sent.end(), bytes.begin(), bytes.end());
    for (const LateReply& late : config.lateReplies) {
        if (matches(late)) {
            session->delayed.push_back(DelayedReply{late.delayMs, std::move(bytes)});
            return;
        }
    }
    out->insert(out->end(), bytes.begin(), bytes.end());
}

// Sends ACK unless a fault says otherwise; true when the program was told ACK.
bool AnswerAck(ModuleSession* session, FaultPoint point, std::vector<uint8_t>* out) {
    ReplyChoice choice = ChooseReply(session, point);
    if (choice.silent) {
        return false;
    }
    Answer(session, {choice.byte}, out);
    return choice.byte == MODULE_ACK;
}

void CheckNotAfterFinish(ModuleSession* session, uint8_t command) {
    if (session->finished) {
        RecordError(session, ModuleErrorKind::Order, CommandName(command) + " after Finish");
    }
}

// Data and Program belong inside an accepted update that has seen no rejection.
void CheckInsideUpdate(ModuleSession* session) {
    const ModuleFrame& frame = session->frame;
    std::string name = CommandName(frame.command);
    if (session->finished) {
        RecordError(session, ModuleErrorKind::Order, name + " after Finish");
    } else if (!session->updateOpen) {
        RecordError(session, ModuleErrorKind::Order, name + " without an accepted Start");
    } else if (session->updateRejected) {
        RecordError(session, ModuleErrorKind::Order, name + " after a rejected command");
    }
    if (session->updateOpen && frame.modNr != session->updateModNr) {
        RecordError(session, ModuleErrorKind::BadFrame,
                    name + " with ModNr " + HexByte(frame.modNr) + ", Start had " +
                        HexByte(session->updateModNr));
    }
}

void CheckDataRecord(ModuleSession* session, bool accepted) {
    const std::vector<uint8_t>& text = session->frame.payload;
    std::string_view line(reinterpret_cast<const char*>(text.data()), text.size());
    HexRecord record;
    std::string problem;
    bool badChecksum = false;
    if (!ParseHexRecord(line, &record, &problem, &badChecksum)) {
        if (session->config->checkRecords) {
            std::string where =
                "Data line " +
                std::to_string(session->occurrences[static_cast<size_t>(FaultPoint::Data)]);
            RecordError(
                session,
                badChecksum ? ModuleErrorKind::RecordChecksum : ModuleErrorKind::RecordFormat,
                where + ": record " + problem + ": " + PrintableText(text, 80));
        }
        return;
    }
    if (accepted) {
        session->log->overwrittenBytes +=
            ApplyHexRecord(&session->log->image, &session->hexBase, record);
    }
}

void CompleteStart(ModuleSession* session, std::vector<uint8_t>* out) {
    if (session->updateOpen) {
        RecordError(session, ModuleErrorKind::Order, "Start while an update is open");
    }
    bool accepted = AnswerAck(session, FaultPoint::Start, out);
    session->updateOpen = accepted;
    session->updateRejected = false;
    if (accepted) {
        session->finished = false;
        session->updateModNr = session->frame.modNr;
        session->hexBase = HexAddressBase{};
    }
}

void CompleteData(ModuleSession* session, std::vector<uint8_t>* out) {
    CheckInsideUpdate(session);
    bool accepted = AnswerAck(session, FaultPoint::Data, out);
    CheckDataRecord(session, accepted);
    session->updateRejected = session->updateRejected || !accepted;
}

void CompleteProgram(ModuleSession* session, std::vector<uint8_t>* out) {
    CheckInsideUpdate(session);
    bool accepted = AnswerAck(session, FaultPoint::Program, out);
    session->updateRejected = session->updateRejected || !accepted;
}

void CompleteEnd(ModuleSession* session, std::vector<uint8_t>* out) {
    if (session->finished) {
        RecordError(session, ModuleErrorKind::Order, "End after Finish");
    } else if (!session->updateOpen) {
        RecordError(session, ModuleErrorKind::Order, "End without an accepted Start");
    }
    AnswerAck(session, FaultPoint::End, out);
    session->updateOpen = false;
}

void CompleteFinish(ModuleSession* session) {
    if (session->finished) {
        RecordError(session, ModuleErrorKind::Order, "Finish after Finish");
    } else if (session->updateOpen && !session->updateRejected) {
        RecordError(session, ModuleErrorKind::Order, "Finish while the update is open (no End)");
    }
    session->finished = true;
    session->updateOpen = false;
}

void AnswerInfoQuery(ModuleSession* session, std::vector<uint8_t>* out) {
    uint8_t command = session->frame.command;
    bool isVelox = command == MODULE_CMD_VELOX_INFO;
    const InfoReplyConfig& info = isVelox ? session->config->velox : session->config->flash;
    ReplyChoice choice =
        ChooseReply(session, isVelox ? FaultPoint::VeloxInfo : FaultPoint::FlashInfo);
    if (choice.silent) {
        return;
    }
    if (choice.byte != MODULE_ACK) {
        Answer(session, {choice.byte}, out);
        return;
    }
    std::vector<uint8_t> reply;
    reply.push_back(info.overrideFirstByte ? info.firstByte : MODULE_STX);
    reply.push_back(info.overrideEcho ? info.echo : command);
    reply.insert(reply.end(), info.text.begin(), info.text.end());
    if (info.text.size() < INFO_TEXT_MAX && info.marker != InfoMarker::None) {
        reply.push_back(info.marker == InfoMarker::Zero ? 0x00 : 0xFF);
    }
    const auto* text = reinterpret_cast<const uint8_t*>(info.text.data());
    reply.push_back(info.overrideChecksum ? info.checksum
                                          : ModuleSumChecksum(text, info.text.size()));
    Answer(session, reply, out);
}

void AnswerStatusQuery(ModuleSession* session, std::vector<uint8_t>* out) {
    CheckNotAfterFinish(session, MODULE_CMD_STATUS);
    ReplyChoice choice = ChooseReply(session, FaultPoint::Status);
    if (choice.silent) {
        return;
    }
    if (choice.byte != MODULE_ACK) {
        Answer(session, {choice.byte}, out);
        return;
    }
    uint32_t value = session->config->statusValue;
    Answer(session,
           {MODULE_STATUS_REPLY, static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
            static_cast<uint8_t>(value >> 16)},
           out);
}

void CompleteParam(ModuleSession* session, std::vector<uint8_t>* out) {
    const std::vector<uint8_t>& p = session->frame.payload;
    if (p[0] != 0 || p[1] != 0 || p[2] != p[3]) {
        RecordError(session, ModuleErrorKind::BadFrame,
                    "parameter command bytes " + PrintableText(p, 8) + " are not 00 00 p p");
    }
    session->log->parameters.push_back(p[2]);
    AnswerAck(session, FaultPoint::Param, out);
}

// A frame of fixed shape whose last byte, ETX, has arrived.
void CompleteClosedFrame(ModuleSession* session, std::vector<uint8_t>* out) {
    switch (session->frame.command) {
        case MODULE_CMD_START:
            CompleteStart(session, out);
            break;
        case MODULE_CMD_DATA:
            CompleteData(session, out);
            break;
        case MODULE_CMD_PROGRAM:
            CompleteProgram(session, out);
            break;
        case MODULE_CMD_END:
            CompleteEnd(session, out);
            break;
        case MODULE_CMD_FINISH:
            CompleteFinish(session);
            break;
        case MODULE_CMD_VELOX_INFO:
        case MODULE_CMD_FLASH_INFO:
            CheckNotAfterFinish(session, session->frame.command);
            AnswerInfoQuery(session, out);
            break;
        case MODULE_CMD_PARAM:
            CheckNotAfterFinish(session, MODULE_CMD_PARAM);
            CompleteParam(session, out);
            break;
        default:
            break;
    }
    EndFrame(session, true);
}

void StartCommand(ModuleSession* session, uint8_t command, std::vector<uint8_t>* out) {
    session->frame.command = command;
    switch (command) {
        case MODULE_CMD_START:
        case MODULE_CMD_DATA:
        case MODULE_CMD_PROGRAM:
        case MODULE_CMD_END:
        case MODULE_CMD_FINISH:
            session->state = ParseState::ModNr;
            break;
        case MODULE_CMD_VELOX_INFO:
        case MODULE_CMD_FLASH_INFO:
            session->state = ParseState::FrameEtx;
            break;
        case MODULE_CMD_PARAM:
            session->state = ParseState::ParamBytes;
            break;
        case MODULE_CMD_DOWNLOAD:
            CheckNotAfterFinish(session, MODULE_CMD_DOWNLOAD);
            session->header.clear();
            session->state = ParseState::DownloadHeader;
            break;
        case MODULE_CMD_TIMESTAMP:
            CheckNotAfterFinish(session, MODULE_CMD_TIMESTAMP);
            session->state = ParseState::TimestampName;
            break;
        case MODULE_CMD_STATUS:
            AnswerStatusQuery(session, out);
            EndFrame(session, true);
            break;
        default:
            AbandonFrame(session, ModuleErrorKind::BadFrame,
                         "unknown command " + HexByte(command) + " after STX");
            break;
    }
}

void CompleteDownloadHeader(ModuleSession* session, std::vector<uint8_t>* out) {
    const std::vector<uint8_t>& h = session->header;
    if (h[0] != 0x00 || h[1] != 0x00 || h[2] != 0x10) {
        RecordError(session, ModuleErrorKind::DownloadHeader,
                    "download header starts " + HexByte(h[0]) + " " + HexByte(h[1]) + " " +
                        HexByte(h[2]) + ", not 0x00 0x00 0x10");
    }
    uint8_t sum = ModuleSumChecksum(h.data(), 7);
    if (sum != h[7]) {
        RecordError(session, ModuleErrorKind::DownloadHeader,
                    "download header checksum " + HexByte(h[7]) + " should be " + HexByte(sum));
    }
    DownloadRecord download;
    download.declaredSize = static_cast<uint32_t>(h[3]) | static_cast<uint32_t>(h[4]) << 8 |
                            static_cast<uint32_t>(h[5]) << 16 | static_cast<uint32_t>(h[6]) << 24;
    session->log->downloads.push_back(download);
    if (!AnswerAck(session, FaultPoint::DownloadHeader, out)) {
        EndFrame(session, false);
        return;
    }
    session->downloadRemaining = download.declaredSize;
    session->block.clear();
    session->state =
        session->downloadRemaining > 0 ? ParseState::DownloadBlock : ParseState::DownloadEtx;
}

void CompleteDownloadBlock(ModuleSession* session, uint8_t checksum, std::vector<uint8_t>* out) {
    DownloadRecord& download = session->log->downloads.back();
    ++download.blocks;
    uint8_t sum = ModuleSumChecksum(session->block.data(), session->block.size());
    if (sum != checksum) {
        RecordError(session, ModuleErrorKind::DownloadChecksum,
                    "download block " + std::to_string(download.blocks) + " checksum " +
                        HexByte(checksum) + " should be " + HexByte(sum));
    }
    download.data.insert(download.data.end(), session->block.begin(), session->block.end());
    session->block.clear();
    if (!AnswerAck(session, FaultPoint::DownloadBlock, out)) {
        EndFrame(session, false);
        return;
    }
    session->state =
        session->downloadRemaining > 0 ? ParseState::DownloadBlock : ParseState::DownloadEtx;
}

void CheckTimestampChecksum(ModuleSession* session) {
    const std::vector<uint8_t>& p = session->frame.payload;
    uint8_t sum = ModuleSumChecksum(p.data(), p.size() - 1);
    if (sum != p.back()) {
        RecordError(session, ModuleErrorKind::TimestampChecksum,
                    "timestamp checksum " + HexByte(p.back()) + " should be " + HexByte(sum));
    }
}

void CompleteTimestamp(ModuleSession* session, std::vector<uint8_t>* out) {
    const std::vector<uint8_t>& p = session->frame.payload;
    size_t nameEnd = session->timestampNameEnd;
    TimestampRecord stamp;
    stamp.fileName.assign(p.begin(), p.begin() + static_cast<std::ptrdiff_t>(nameEnd));
    // The time text runs from after the LF to its terminating zero, which precedes the checksum.
    stamp.timeText.assign(p.begin() + static_cast<std::ptrdiff_t>(nameEnd + 1), p.end() - 2);
    session->log->timestamps.push_back(std::move(stamp));
    AnswerAck(session, FaultPoint::Timestamp, out);
    EndFrame(session, true);
}

// The byte that should close a frame; anything else leaves the frame unclosed and is parsed
// again from the idle state (it may be the STX of the next frame).
bool ConsumeClosingEtx(ModuleSession* session, uint8_t byte) {
    if (byte == MODULE_ETX) {
        session->frame.raw.push_back(byte);
        return true;
    }
    AbandonFrame(session, ModuleErrorKind::BadFrame,
                 CommandName(session->frame.command) + " frame not closed by ETX (got " +
                     HexByte(byte) + ")");
    return false;
}

void ConsumeDownloadByte(ModuleSession* session, uint8_t byte, std::vector<uint8_t>* out) {
    ModuleFrame& frame = session->frame;
    frame.raw.push_back(byte);
    if (session->state == ParseState::DownloadHeader) {
        session->header.push_back(byte);
        if (session->header.size() == DOWNLOAD_HEADER_SIZE) {
            CompleteDownloadHeader(session, out);
        }
    } else if (session->state == ParseState::DownloadBlock) {
        session->block.push_back(byte);
        frame.payload.push_back(byte);
        --session->downloadRemaining;
        if (session->block.size() == DOWNLOAD_BLOCK_SIZE || session->downloadRemaining == 0) {
            session->state = ParseState::DownloadBlockSum;
        }
    } else {
        CompleteDownloadBlock(session, byte, out);
    }
}

void ConsumeTimestampByte(ModuleSession* session, uint8_t byte) {
    ModuleFrame& frame = session->frame;
    frame.raw.push_back(byte);
    frame.payload.push_back(byte);
    if (session->state == ParseState::TimestampName && byte == MODULE_LF) {
        session->timestampNameEnd = frame.payload.size() - 1;
        session->state = ParseState::TimestampTime;
    } else if (session->state == ParseState::TimestampTime && byte == 0x00) {
        session->state = ParseState::TimestampSum;
    } else if (session->state == ParseState::TimestampSum) {
        CheckTimestampChecksum(session);
        session->state = ParseState::TimestampEtx;
    } else if (frame.payload.size() > MAX_TIMESTAMP_FIELD) {
        AbandonFrame(session, ModuleErrorKind::BadFrame,
                     "timestamp name or time text runs past " +
                         std::to_string(MAX_TIMESTAMP_FIELD) + " bytes");
    }
}

// Outside a frame: STX opens one, anything else is a stray byte.
bool ConsumeIdleByte(ModuleSession* session, uint8_t byte) {
    if (byte != MODULE_STX) {
        session->stray.push_back(byte);
        return true;
    }
    FlushStrayBytes(session);
    session->frame.raw.push_back(byte);
    session->state = ParseState::Command;
    return true;
}

// The command byte after STX; a second STX abandons the first and is parsed again.
bool ConsumeCommandByte(ModuleSession* session, uint8_t byte, std::vector<uint8_t>* out) {
    if (byte == MODULE_STX) {
        AbandonFrame(session, ModuleErrorKind::BadFrame, "STX without a command");
        return false;
    }
    session->frame.raw.push_back(byte);
    StartCommand(session, byte, out);
    return true;
}

// ModNr of an update command: any byte, ETX too.
bool ConsumeModNrByte(ModuleSession* session, uint8_t byte) {
    ModuleFrame& frame = session->frame;
    frame.raw.push_back(byte);
    frame.hasModNr = true;
    frame.modNr = byte;
    session->state = frame.command == MODULE_CMD_DATA ? ParseState::DataText : ParseState::FrameEtx;
    return true;
}

// The line text of a Data command, up to its ETX.
bool ConsumeDataTextByte(ModuleSession* session, uint8_t byte, std::vector<uint8_t>* out) {
    ModuleFrame& frame = session->frame;
    frame.raw.push_back(byte);
    if (byte == MODULE_ETX) {
        CompleteClosedFrame(session, out);
        return true;
    }
    frame.payload.push_back(byte);
    if (frame.payload.size() > MAX_DATA_TEXT) {
        AbandonFrame(session, ModuleErrorKind::BadFrame,
                     "Data line runs past " + std::to_string(MAX_DATA_TEXT) + " bytes without ETX");
    }
    return true;
}

// The four bytes of the parameter command between '$' and ETX, any values.
bool ConsumeParamByte(ModuleSession* session, uint8_t byte) {
    ModuleFrame& frame = session->frame;
    frame.raw.push_back(byte);
    frame.payload.push_back(byte);
    if (frame.payload.size() == 4) {
        session->state = ParseState::FrameEtx;
    }
    return true;
}

// The closing ETX of a frame of fixed shape, of a download or of a timestamp.
bool ConsumeEtxByte(ModuleSession* session, uint8_t byte, std::vector<uint8_t>* out) {
    ParseState state = session->state;
    if (!ConsumeClosingEtx(session, byte)) {
        return false;
    }
    if (state == ParseState::FrameEtx) {
        CompleteClosedFrame(session, out);
    } else if (state == ParseState::DownloadEtx) {
        session->log->downloads.back().closed = true;
        EndFrame(session, true);
    } else {
        CompleteTimestamp(session, out);
    }
    return true;
}

// Returns false when the byte did not belong to the current frame and must be parsed again.
bool ConsumeByte(ModuleSession* session, uint8_t byte, std::vector<uint8_t>* out) {
    switch (session->state) {
        case ParseState::Idle:
            return ConsumeIdleByte(session, byte);
        case ParseState::Command:
            return ConsumeCommandByte(session, byte, out);
        case ParseState::ModNr:
            return ConsumeModNrByte(session, byte);
        case ParseState::DataText:
            return ConsumeDataTextByte(session, byte, out);
        case ParseState::ParamBytes:
            return ConsumeParamByte(session, byte);
        case ParseState::DownloadHeader:
        case ParseState::DownloadBlock:
        case ParseState::DownloadBlockSum:
            ConsumeDownloadByte(session, byte, out);
            return true;
        case ParseState::TimestampName:
        case ParseState::TimestampTime:
        case ParseState::TimestampSum:
            ConsumeTimestampByte(session, byte);
            return true;
        case ParseState::FrameEtx:
        case ParseState::DownloadEtx:
        case ParseState::TimestampEtx:
            return ConsumeEtxByte(session, byte, out);
    }
    return true;
}

}  // namespace

ReplyFault RejectAt(FaultPoint point, unsigned occurrence, uint8_t reply) {
    return ReplyFault{point, occurrence, false, reply};
}

ReplyFault SilentAt(FaultPoint point, unsigned occurrence) {
    return ReplyFault{point, occurrence, true, 0};
}

uint8_t ModuleSumChecksum(const uint8_t* bytes, size_t count) {
    uint8_t sum = 0;
    for (size_t i = 0; i < count; ++i) {
        sum = static_cast<uint8_t>(sum + bytes[i]);
    }
    return sum;
}

void StartModuleSession(ModuleSession* session, const ModuleConfig* config, ModuleLog* log) {
    *session = ModuleSession{};
    session->config = config;
    session->log = log;
}

void FeedModuleBytes(ModuleSession* session, const uint8_t* bytes, size_t count,
                     std::vector<uint8_t>* reply) {
    ModuleLog* log = session->log;
    log->received.insert(log->received.end(), bytes, bytes + count);
    for (size_t i = 0; i < count; ++i) {
        if (!ConsumeByte(session, bytes[i], reply)) {
            ConsumeByte(session, bytes[i], reply);
        }
    }
}

void FinishModuleSession(ModuleSession* session) {
    FlushStrayBytes(session);
    if (session->state != ParseState::Idle) {
        AbandonFrame(session, ModuleErrorKind::CutOff,
                     CommandName(session->frame.command) + " frame cut off after " +
                         std::to_string(session->frame.raw.size()) + " byte(s)");
    }
}
