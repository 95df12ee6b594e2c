#include "module_session.h"

#include <optional>
#include <utility>

namespace tarnix {

namespace {

// Findings concern the frame being parsed: the one the next frame index in the log names.
void FileFindings(ModuleSession* session, Findings findings) {
    ModuleLog* log = session->log;
    for (Finding& finding : findings) {
        log->errors.push_back(
            ModuleError{finding.kind, log->frames.size(), std::move(finding.text)});
    }
}

void FileFrameStep(ModuleSession* session, FrameStep* step) {
    FileFindings(session, std::move(step->findings));
    if (step->ended) {
        session->log->frames.push_back(std::move(*step->ended));
    }
}

void EndFrame(ModuleSession* session, bool closed) {
    session->log->frames.push_back(TakeFrame(&session->parser, closed));
}

// Sends what the choice makes of the normal reply, with any extra bytes configured after it:
// at once or, for a late reply, handed to RunModule through session->delayed.
void SendReply(ModuleSession* session, const ReplyChoice& choice, std::vector<uint8_t> normal,
               std::vector<uint8_t>* out) {
    std::optional<std::vector<uint8_t>> chosen = ChosenReplyBytes(choice, std::move(normal));
    if (!chosen) {
        return;
    }
    const ModuleConfig& config = *session->config;
    std::vector<uint8_t> bytes = WithExtraBytes(config, choice, std::move(*chosen));
    ModuleFrame& frame = session->parser.frame;
    frame.reply.insert(frame.reply.end(), bytes.begin(), bytes.end());
    session->log->sent.insert(session->log->sent.end(), bytes.begin(), bytes.end());
    if (std::optional<unsigned> delayMs = LateReplyDelay(config, choice)) {
        session->delayed.push_back(DelayedReply{*delayMs, std::move(bytes)});
        return;
    }
    out->insert(out->end(), bytes.begin(), bytes.end());
}

// Sends ACK unless a fault says otherwise; true when the program was told ACK.
bool AnswerAck(ModuleSession* session, FaultPoint point, std::vector<uint8_t>* out) {
    ReplyChoice choice = ChooseReply(&session->replies, *session->config, point);
    SendReply(session, choice, {MODULE_ACK}, out);
    return Acknowledged(choice);
}

void CompleteStart(ModuleSession* session, std::vector<uint8_t>* out) {
    FileFindings(session, CheckStartOrder(session->checks));
    bool accepted = AnswerAck(session, FaultPoint::Start, out);
    AdvanceOnStart(&session->checks, session->parser.frame.modNr, accepted);
}

// An accepted Data record goes into the image; a rejected one is missing there.
void CompleteData(ModuleSession* session, std::vector<uint8_t>* out) {
    const ModuleFrame& frame = session->parser.frame;
    FileFindings(session, CheckInsideUpdate(session->checks, frame));
    bool accepted = AnswerAck(session, FaultPoint::Data, out);
    unsigned lineNumber = session->replies.occurrences[static_cast<size_t>(FaultPoint::Data)];
    DataLineCheck line = CheckDataLine(frame.payload, session->config->checkRecords, lineNumber);
    FileFindings(session, std::move(line.findings));
    if (line.record && accepted) {
        ModuleLog* log = session->log;
        log->overwrittenBytes +=
            ApplyHexRecord(&log->image, &session->checks.hexBase, *line.record);
    }
    AdvanceInsideUpdate(&session->checks, accepted);
}

void CompleteProgram(ModuleSession* session, std::vector<uint8_t>* out) {
    FileFindings(session, CheckInsideUpdate(session->checks, session->parser.frame));
    bool accepted = AnswerAck(session, FaultPoint::Program, out);
    AdvanceInsideUpdate(&session->checks, accepted);
}

void CompleteEnd(ModuleSession* session, std::vector<uint8_t>* out) {
    FileFindings(session, CheckEndOrder(session->checks));
    AnswerAck(session, FaultPoint::End, out);
    AdvanceOnEnd(&session->checks);
}

// Finish is not answered.
void CompleteFinish(ModuleSession* session) {
    FileFindings(session, CheckFinishOrder(session->checks));
    AdvanceOnFinish(&session->checks);
}

void AnswerInfoQuery(ModuleSession* session, std::vector<uint8_t>* out) {
    uint8_t command = session->parser.frame.command;
    FileFindings(session, CheckNotAfterFinish(session->checks, command));
    bool isVelox = command == MODULE_CMD_VELOX_INFO;
    const InfoReplyConfig& info = isVelox ? session->config->velox : session->config->flash;
    ReplyChoice choice = ChooseReply(&session->replies, *session->config,
                                     isVelox ? FaultPoint::VeloxInfo : FaultPoint::FlashInfo);
    SendReply(session, choice, InfoReplyBytes(info, command), out);
}

void AnswerStatusQuery(ModuleSession* session, std::vector<uint8_t>* out) {
    FileFindings(session, CheckNotAfterFinish(session->checks, MODULE_CMD_STATUS));
    ReplyChoice choice = ChooseReply(&session->replies, *session->config, FaultPoint::Status);
    SendReply(session, choice, StatusReplyBytes(session->config->statusValue), out);
}

void CompleteParam(ModuleSession* session, std::vector<uint8_t>* out) {
    const std::vector<uint8_t>& bytes = session->parser.frame.payload;
    FileFindings(session, CheckNotAfterFinish(session->checks, MODULE_CMD_PARAM));
    FileFindings(session, CheckParamBytes(bytes));
    session->log->parameters.push_back(bytes[2]);
    AnswerAck(session, FaultPoint::Param, out);
}

void CompleteTimestamp(ModuleSession* session, std::vector<uint8_t>* out) {
    session->log->timestamps.push_back(TimestampFields(session->parser));
    AnswerAck(session, FaultPoint::Timestamp, out);
}

// The header is answered before the data follows; a download refused here ends unclosed.
void AnswerDownloadHeader(ModuleSession* session, std::vector<uint8_t>* out) {
    const std::vector<uint8_t>& header = session->parser.header;
    FileFindings(session, CheckDownloadHeader(header));
    DownloadRecord download;
    download.declaredSize = DeclaredDownloadSize(header);
    session->log->downloads.push_back(download);
    if (!AnswerAck(session, FaultPoint::DownloadHeader, out)) {
        EndFrame(session, false);
        return;
    }
    ExpectDownloadData(&session->parser);
}

// Every block is answered on its own; a download refused at a block ends there, unclosed.
void AnswerDownloadBlock(ModuleSession* session, uint8_t checksum, std::vector<uint8_t>* out) {
    DownloadRecord& download = session->log->downloads.back();
    ++download.blocks;
    std::vector<uint8_t> block = TakeDownloadBlock(&session->parser);
    FileFindings(session, CheckDownloadBlock(block, checksum, download.blocks));
    download.data.insert(download.data.end(), block.begin(), block.end());
    if (!AnswerAck(session, FaultPoint::DownloadBlock, out)) {
        EndFrame(session, false);
        return;
    }
    ExpectNextDownloadBlock(&session->parser);
}

void CompleteUpdateFrame(ModuleSession* session, std::vector<uint8_t>* out) {
    switch (session->parser.frame.command) {
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
        default:
            break;
    }
}

void CompleteServiceFrame(ModuleSession* session, std::vector<uint8_t>* out) {
    switch (session->parser.frame.command) {
        case MODULE_CMD_VELOX_INFO:
        case MODULE_CMD_FLASH_INFO:
            AnswerInfoQuery(session, out);
            break;
        case MODULE_CMD_PARAM:
            CompleteParam(session, out);
            break;
        case MODULE_CMD_STATUS:
            AnswerStatusQuery(session, out);
            break;
        case MODULE_CMD_DOWNLOAD:
            session->log->downloads.back().closed = true;
            break;
        case MODULE_CMD_TIMESTAMP:
            CompleteTimestamp(session, out);
            break;
        default:
            break;
    }
}

// A frame whose last byte has arrived: checked, answered, then logged as closed.
void CompleteFrame(ModuleSession* session, std::vector<uint8_t>* out) {
    uint8_t command = session->parser.frame.command;
    if (command >= MODULE_CMD_START && command <= MODULE_CMD_FINISH) {
        CompleteUpdateFrame(session, out);
    } else {
        CompleteServiceFrame(session, out);
    }
    EndFrame(session, true);
}

void ActOnFrameEvent(ModuleSession* session, FrameEvent event, uint8_t byte,
                     std::vector<uint8_t>* out) {
    const ModuleFrame& frame = session->parser.frame;
    switch (event) {
        case FrameEvent::None:
            break;
        case FrameEvent::CommandArrived:
            FileFindings(session, CheckCommandArrival(session->checks, frame.command));
            break;
        case FrameEvent::DownloadHeaderComplete:
            AnswerDownloadHeader(session, out);
            break;
        case FrameEvent::DownloadBlockComplete:
            AnswerDownloadBlock(session, byte, out);
            break;
        case FrameEvent::TimestampChecksum:
            FileFindings(session, CheckTimestampChecksum(frame.payload));
            break;
        case FrameEvent::FrameComplete:
            CompleteFrame(session, out);
            break;
    }
}

// Returns false when the byte did not belong to the current frame and must be parsed again.
bool ConsumeByte(ModuleSession* session, uint8_t byte, std::vector<uint8_t>* out) {
    FrameStep step = ParseFrameByte(&session->parser, byte);
    FileFrameStep(session, &step);
    ActOnFrameEvent(session, step.event, byte, out);
    return step.taken;
}

}  // namespace

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
    FrameStep step = FinishFrames(&session->parser);
    FileFrameStep(session, &step);
}

}  // namespace tarnix
