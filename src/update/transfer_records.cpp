// Record mode: the Intel HEX records after the header go to the module as Data commands, and
// Program commands close the blocks where the record plan says (record_plan.h).

#include "com_port.h"
#include "framing.h"
#include "record_plan.h"
#include "transfer_common.h"
#include "update_file.h"
#include "update_outcome.h"

namespace {

struct RecordTransfer {
    const UpdateSource& source;
    uint8_t modNr;
    BlockState block;
    uint32_t total = 0;  // payload bytes written, for the progress line
    UpdateLine line;
};

enum class Step { Continue, Stop };

// The message of a rejected Program command names the record that made it go out.
const char* ProgramRejection(RecordKind kind) {
    switch (kind) {
        case RecordKind::Address:
            return "Return Value Progr.(4): 0x%02X\t line number %i\n";
        case RecordKind::End:
            return "Return Value EOF : 0x%02X\t line number %i\n";
        default:
            return "Return Value Progr.: 0x%02X\t line number %i\n";
    }
}

Step ProgramBlock(RecordTransfer* transfer, RecordKind kind) {
    uint8_t reply = SendCommandForReply(CMD_PROGRAM, transfer->modNr);
    if (kind == RecordKind::Data) {
        WaitMilliseconds(1);  // the module needs a moment after programming a full block
    }
    if (reply != ACK) {
        const UpdateLine& line = transfer->line;
        ReportLine(line, ProgramRejection(kind), reply, line.number);
        return Step::Stop;
    }
    return Step::Continue;
}

// A data record's progress line is printed whether or not the module accepted it, after the
// rejection message.
Step SendRecord(RecordTransfer* transfer, RecordKind kind) {
    const UpdateLine& line = transfer->line;
    uint32_t written = 0;
    uint8_t reply = SendDataLineForReply(transfer->modNr, &transfer->line, &written);
    if (reply != ACK) {
        ReportLine(line,
                   kind == RecordKind::Data ? "Return Value Daten: 0x%02X\t line number %i\n"
                                            : "Return Value Adr.: 0x%02X\t line number %i\n",
                   reply, line.number);
    }
    if (kind == RecordKind::Data) {
        transfer->total += written;
        PrintProgress(transfer->total, transfer->source.size);
    }
    return reply == ACK ? Step::Continue : Step::Stop;
}

Step HandleRecordLine(RecordTransfer* transfer) {
    const UpdateLine& line = transfer->line;
    RecordPlan plan = PlanRecord(line, &transfer->block);
    if (plan.kind == RecordKind::Refused) {
        NoteUpdateFailure(UpdateOutcome::RecordTooLong);
        ReportLine(line, "Record too long for the line buffer\t line number %i\n", line.number);
        return Step::Stop;
    }
    if (plan.programBefore && ProgramBlock(transfer, plan.kind) == Step::Stop) {
        return Step::Stop;
    }
    if (plan.sendData && SendRecord(transfer, plan.kind) == Step::Stop) {
        return Step::Stop;
    }
    if (plan.programAfter) {
        return ProgramBlock(transfer, RecordKind::Data);
    }
    return Step::Continue;
}

// Forwards the records until the end of the file. False when anything was rejected, a record
// did not fit the line buffer, or a line could not be read (the file ending before the size
// taken at its opening, or changing, included). A last line without a line end sets the
// end-of-file indicator as it is read, so the loop ends after it without the done line: the
// done line belongs to the read that finds nothing more.
bool ForwardAllRecords(RecordTransfer* transfer) {
    FILE* stream = transfer->source.stream;
    while (!feof(stream)) {
        if (TransferMustStop()) {
            return false;
        }
        LineRead read = ReadUpdateLine(stream, &transfer->line);
        if (read == LineRead::ReadError) {
            PrintReadError(transfer->source, transfer->line);
            return false;
        }
        if (read == LineRead::EndOfFile) {
            PrintDone();
            break;
        }
        if (HandleRecordLine(transfer) == Step::Stop) {
            return false;
        }
    }
    return true;
}

// The header check says only that the CRC is wrong; the commonest cause gets a name.
void PrintHeaderHint(const UpdateSource& source, const UpdateHeaderCheck& header) {
    if (!LooksLikeHexWithoutHeader(header)) {
        return;
    }
    fflush(stdout);
    fprintf(stderr, "tarnix: '%s' looks like an Intel HEX file without the 32-byte update header\n",
            source.fileName);
}

}  // namespace

bool TransferRecords(const UpdateSource& source, uint8_t modNr) {
    UpdateHeaderCheck header = CheckUpdateHeader(source.stream);
    if (!header.valid) {
        NoteUpdateFailure(UpdateOutcome::HeaderCheck);
        printf("File Header CRC incorrect - aborting !!!\n");
        PrintHeaderHint(source, header);
        return false;
    }
    printf("Block Size is : %d\n", static_cast<int>(header.blockSize));
    PrintLoading(source);
    if (!StartModuleUpdate(modNr)) {
        return false;
    }
    RecordTransfer transfer{
        .source = source, .modNr = modNr, .block = {.blockSize = header.blockSize}, .line = {}};
    ExpectFileSize(&transfer.line, source.size, static_cast<uint32_t>(UPDATE_HEADER_SIZE));
    WatchFileContent(&transfer.line, source.stream, header.bytes);
    printf("\nWriting User configuration... %4ld %%", 0L);
    fflush(stdout);
    bool allAccepted = ForwardAllRecords(&transfer);
    if (ComPortHungUp()) {
        return false;  // nothing reaches the module any more; only the Finish attempt follows
    }
    // End goes out even after a rejection, so that the module leaves its update state.
    return EndModuleUpdate(modNr) && allAccepted;
}
