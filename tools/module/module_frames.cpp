#include "module_frames.h"

#include <string>
#include <utility>

#include "module_protocol.h"

namespace tarnix {

namespace {

// Bounds on fields that end only at a marker byte, so a lost marker cannot grow the log forever.
constexpr size_t MAX_DATA_TEXT = 65536;
constexpr size_t MAX_TIMESTAMP_FIELD = 4096;
constexpr size_t DOWNLOAD_BLOCK_SIZE = 256;
constexpr size_t DOWNLOAD_HEADER_SIZE = 8;
constexpr size_t PARAM_BYTES = 4;

FrameStep Event(FrameEvent event) {
    FrameStep step;
    step.event = event;
    return step;
}

// Ends the frame unfinished because of a fault; taken says whether the byte was the frame's.
FrameStep Abandon(FrameParser* parser, ModuleErrorKind kind, std::string text, bool taken) {
    FrameStep step;
    step.taken = taken;
    step.findings.push_back(Finding{kind, std::move(text)});
    step.ended = TakeFrame(parser, false);
    return step;
}

void TakeStrayBytes(FrameParser* parser, Findings* findings) {
    const std::vector<uint8_t>& stray = parser->stray;
    if (stray.empty()) {
        return;
    }
    std::string text = std::to_string(stray.size()) + " byte(s) outside a frame:";
    for (size_t i = 0; i < stray.size() && i < 16; ++i) {
        text += ' ';
        text += ModuleHexByte(stray[i]);
    }
    if (stray.size() > 16) {
        text += " ...";
    }
    findings->push_back(Finding{ModuleErrorKind::StrayBytes, std::move(text)});
    parser->stray.clear();
}

FrameStep OpenFrameBody(FrameParser* parser, ParseState next) {
    parser->state = next;
    return Event(FrameEvent::CommandArrived);
}

// Outside a frame: STX opens one, anything else is a stray byte.
FrameStep ParseIdleByte(FrameParser* parser, uint8_t byte) {
    FrameStep step;
    if (byte != MODULE_STX) {
        parser->stray.push_back(byte);
        return step;
    }
    TakeStrayBytes(parser, &step.findings);
    parser->frame.raw.push_back(byte);
    parser->state = ParseState::Command;
    return step;
}

// The command byte after STX; a second STX abandons the first and is parsed again.
FrameStep ParseCommandByte(FrameParser* parser, uint8_t byte) {
    if (byte == MODULE_STX) {
        return Abandon(parser, ModuleErrorKind::BadFrame, "STX without a command", false);
    }
    parser->frame.raw.push_back(byte);
    parser->frame.command = byte;
    switch (byte) {
        case MODULE_CMD_START:
        case MODULE_CMD_DATA:
        case MODULE_CMD_PROGRAM:
        case MODULE_CMD_END:
        case MODULE_CMD_FINISH:
            return OpenFrameBody(parser, ParseState::ModNr);
        case MODULE_CMD_VELOX_INFO:
        case MODULE_CMD_FLASH_INFO:
            return OpenFrameBody(parser, ParseState::FrameEtx);
        case MODULE_CMD_PARAM:
            return OpenFrameBody(parser, ParseState::ParamBytes);
        case MODULE_CMD_DOWNLOAD:
            parser->header.clear();
            return OpenFrameBody(parser, ParseState::DownloadHeader);
        case MODULE_CMD_TIMESTAMP:
            return OpenFrameBody(parser, ParseState::TimestampName);
        case MODULE_CMD_STATUS:
            return Event(FrameEvent::FrameComplete);
        default:
            return Abandon(parser, ModuleErrorKind::BadFrame,
                           "unknown command " + ModuleHexByte(byte) + " after STX", true);
    }
}

// ModNr of an update command: any byte, ETX too.
FrameStep ParseModNrByte(FrameParser* parser, uint8_t byte) {
    ModuleFrame& frame = parser->frame;
    frame.raw.push_back(byte);
    frame.hasModNr = true;
    frame.modNr = byte;
    parser->state = frame.command == MODULE_CMD_DATA ? ParseState::DataText : ParseState::FrameEtx;
    return FrameStep{};
}

// The line text of a Data command, up to its ETX.
FrameStep ParseDataTextByte(FrameParser* parser, uint8_t byte) {
    ModuleFrame& frame = parser->frame;
    frame.raw.push_back(byte);
    if (byte == MODULE_ETX) {
        return Event(FrameEvent::FrameComplete);
    }
    frame.payload.push_back(byte);
    if (frame.payload.size() > MAX_DATA_TEXT) {
        return Abandon(
            parser, ModuleErrorKind::BadFrame,
            "Data line runs past " + std::to_string(MAX_DATA_TEXT) + " bytes without ETX", true);
    }
    return FrameStep{};
}

// The four bytes of the parameter command between '$' and ETX, any values.
FrameStep ParseParamByte(FrameParser* parser, uint8_t byte) {
    ModuleFrame& frame = parser->frame;
    frame.raw.push_back(byte);
    frame.payload.push_back(byte);
    if (frame.payload.size() == PARAM_BYTES) {
        parser->state = ParseState::FrameEtx;
    }
    return FrameStep{};
}

// Header, block bytes and block checksums of a download, which carry any byte values.
FrameStep ParseDownloadByte(FrameParser* parser, uint8_t byte) {
    parser->frame.raw.push_back(byte);
    if (parser->state == ParseState::DownloadHeader) {
        parser->header.push_back(byte);
        return parser->header.size() == DOWNLOAD_HEADER_SIZE
                   ? Event(FrameEvent::DownloadHeaderComplete)
                   : FrameStep{};
    }
    if (parser->state == ParseState::DownloadBlock) {
        parser->block.push_back(byte);
        parser->frame.payload.push_back(byte);
        --parser->downloadRemaining;
        if (parser->block.size() == DOWNLOAD_BLOCK_SIZE || parser->downloadRemaining == 0) {
            parser->state = ParseState::DownloadBlockSum;
        }
        return FrameStep{};
    }
    return Event(FrameEvent::DownloadBlockComplete);
}

// Name, LF, time text, zero and checksum of a timestamp.
FrameStep ParseTimestampByte(FrameParser* parser, uint8_t byte) {
    ModuleFrame& frame = parser->frame;
    frame.raw.push_back(byte);
    frame.payload.push_back(byte);
    if (parser->state == ParseState::TimestampName && byte == MODULE_LF) {
        parser->timestampNameEnd = frame.payload.size() - 1;
        parser->state = ParseState::TimestampTime;
    } else if (parser->state == ParseState::TimestampTime && byte == 0x00) {
        parser->state = ParseState::TimestampSum;
    } else if (parser->state == ParseState::TimestampSum) {
        parser->state = ParseState::TimestampEtx;
        return Event(FrameEvent::TimestampChecksum);
    } else if (frame.payload.size() > MAX_TIMESTAMP_FIELD) {
        return Abandon(parser, ModuleErrorKind::BadFrame,
                       "timestamp name or time text runs past " +
                           std::to_string(MAX_TIMESTAMP_FIELD) + " bytes",
                       true);
    }
    return FrameStep{};
}

// The byte that should close a frame; anything else leaves the frame unclosed and is parsed
// again from the idle state (it may be the STX of the next frame).
FrameStep ParseClosingByte(FrameParser* parser, uint8_t byte) {
    if (byte != MODULE_ETX) {
        return Abandon(parser, ModuleErrorKind::BadFrame,
                       ModuleCommandName(parser->frame.command) + " frame not closed by ETX (got " +
                           ModuleHexByte(byte) + ")",
                       false);
    }
    parser->frame.raw.push_back(byte);
    return Event(FrameEvent::FrameComplete);
}

}  // namespace

FrameStep ParseFrameByte(FrameParser* parser, uint8_t byte) {
    switch (parser->state) {
        case ParseState::Idle:
            return ParseIdleByte(parser, byte);
        case ParseState::Command:
            return ParseCommandByte(parser, byte);
        case ParseState::ModNr:
            return ParseModNrByte(parser, byte);
        case ParseState::DataText:
            return ParseDataTextByte(parser, byte);
        case ParseState::ParamBytes:
            return ParseParamByte(parser, byte);
        case ParseState::DownloadHeader:
        case ParseState::DownloadBlock:
        case ParseState::DownloadBlockSum:
            return ParseDownloadByte(parser, byte);
        case ParseState::TimestampName:
        case ParseState::TimestampTime:
        case ParseState::TimestampSum:
            return ParseTimestampByte(parser, byte);
        case ParseState::FrameEtx:
        case ParseState::DownloadEtx:
        case ParseState::TimestampEtx:
            return ParseClosingByte(parser, byte);
    }
    return FrameStep{};
}

FrameStep FinishFrames(FrameParser* parser) {
    FrameStep step;
    TakeStrayBytes(parser, &step.findings);
    if (parser->state != ParseState::Idle) {
        step.findings.push_back(Finding{ModuleErrorKind::CutOff,
                                        ModuleCommandName(parser->frame.command) +
                                            " frame cut off after " +
                                            std::to_string(parser->frame.raw.size()) + " byte(s)"});
        step.ended = TakeFrame(parser, false);
    }
    return step;
}

ModuleFrame TakeFrame(FrameParser* parser, bool closed) {
    ModuleFrame frame = std::move(parser->frame);
    frame.closed = closed;
    parser->frame = ModuleFrame{};
    parser->state = ParseState::Idle;
    return frame;
}

void ExpectDownloadData(FrameParser* parser) {
    parser->downloadRemaining = DeclaredDownloadSize(parser->header);
    parser->block.clear();
    ExpectNextDownloadBlock(parser);
}

std::vector<uint8_t> TakeDownloadBlock(FrameParser* parser) {
    std::vector<uint8_t> block = std::move(parser->block);
    parser->block.clear();
    return block;
}

void ExpectNextDownloadBlock(FrameParser* parser) {
    parser->state =
        parser->downloadRemaining > 0 ? ParseState::DownloadBlock : ParseState::DownloadEtx;
}

uint32_t DeclaredDownloadSize(const std::vector<uint8_t>& header) {
    return static_cast<uint32_t>(header[3]) | static_cast<uint32_t>(header[4]) << 8 |
           static_cast<uint32_t>(header[5]) << 16 | static_cast<uint32_t>(header[6]) << 24;
}

TimestampRecord TimestampFields(const FrameParser& parser) {
    const std::vector<uint8_t>& p = parser.frame.payload;
    auto nameEnd = static_cast<std::ptrdiff_t>(parser.timestampNameEnd);
    TimestampRecord stamp;
    stamp.fileName.assign(p.begin(), p.begin() + nameEnd);
    // The time text runs from after the LF to its terminating zero, which precedes the checksum.
    stamp.timeText.assign(p.begin() + nameEnd + 1, p.end() - 2);
    return stamp;
}

}  // namespace tarnix
