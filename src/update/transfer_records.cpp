// Record mode: the Intel HEX records after the header go to the module as Data commands, and
// Program commands close the blocks where the record plan says (record_plan.h).

#include "framing.h"
#include "record_plan.h"
#include "transfer_common.h"
#include "update_file.h"
#include "update_outcome.h"

namespace tarnix {

namespace {

struct RecordTransfer {
    TransferRun run;
    BlockState block;
};

using Step = LineStep;

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

Step ProgramBlock(TransferRun* run, RecordKind kind) {
    ExchangeResult exchange = SendCommandForReply(run, CMD_PROGRAM);
    if (kind == RecordKind::Data) {
        WaitMilliseconds(run->port.line.blockPauseMs);  // the module's moment after a full block
    }
    if (!Acknowledged(exchange)) {
        const UpdateLine& line = run->line;
        ReportLine(line, ProgramRejection(kind), exchange.reply, line.number);
        return Step::Stop;
    }
    return Step::Continue;
}

// A data record's progress line is printed whether or not the module accepted it, after the
// rejection message.
Step SendRecord(TransferRun* run, RecordKind kind) {
    const UpdateLine& line = run->line;
    ExchangeResult exchange = SendDataLineForReply(run);
    bool accepted = Acknowledged(exchange);
    if (!accepted) {
        ReportLine(line,
                   kind == RecordKind::Data ? "Return Value Daten: 0x%02X\t line number %i\n"
                                            : "Return Value Adr.: 0x%02X\t line number %i\n",
                   exchange.reply, line.number);
    }
    if (kind == RecordKind::Data) {
        run->total += exchange.written;
        PrintProgress(run);
    }
    return accepted ? Step::Continue : Step::Stop;
}

Step HandleRecordLine(RecordTransfer* transfer) {
    TransferRun* run = &transfer->run;
    const UpdateLine& line = run->line;
    RecordPlan plan = PlanRecord(line, &transfer->block);
    if (plan.kind == RecordKind::Refused) {
        NoteFailure(&run->result, UpdateOutcome::RecordTooLong, line.number);
        ReportLine(line, "Record too long for the line buffer\t line number %i\n", line.number);
        return Step::Stop;
    }
    if (plan.programBefore && ProgramBlock(run, plan.kind) == Step::Stop) {
        return Step::Stop;
    }
    if (plan.sendData && SendRecord(run, plan.kind) == Step::Stop) {
        return Step::Stop;
    }
    if (plan.programAfter) {
        return ProgramBlock(run, RecordKind::Data);
    }
    return Step::Continue;
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

// After the header: Start, the records, and End, which goes out even after a rejection so
// that the module leaves its update state; after a hang-up nothing reaches the module any
// more, and only the Finish attempt follows.
void ForwardRecordsBetweenStartAndEnd(RecordTransfer* transfer, const UpdateHeaderCheck& header) {
    TransferRun* run = &transfer->run;
    PrintLoading(run->source);
    if (!StartModuleUpdate(run)) {
        return;
    }
    ExpectFileSize(&run->line, run->source.size, static_cast<uint32_t>(UPDATE_HEADER_SIZE));
    WatchFileContent(&run->line, run->source.stream, header.bytes);
    PrintFirstProgress(run);
    ForwardEachLine(run, [transfer] { return HandleRecordLine(transfer); });
    if (run->port.hungUp) {
        NoteFailure(&run->result, UpdateOutcome::HungUp, run->line.number);
        return;
    }
    EndModuleUpdate(run);
}

}  // namespace

UpdateResult TransferRecords(Port& port, const UpdateSource& source, uint8_t modNr) {
    RecordTransfer transfer{
        .run = {.port = port, .source = source, .modNr = modNr, .line = {}, .result = {}},
        .block = {}};
    UpdateHeaderCheck header = CheckUpdateHeader(source.stream);
    if (!header.valid) {
        NoteFailure(&transfer.run.result, UpdateOutcome::HeaderCheck, 0);
        printf("File Header CRC incorrect - aborting !!!\n");
        PrintHeaderHint(source, header);
        return transfer.run.result;
    }
    printf("Block Size is : %d\n", static_cast<int>(header.blockSize));
    transfer.block.blockSize = header.blockSize;
    ForwardRecordsBetweenStartAndEnd(&transfer, header);
    return transfer.run.result;
}

}  // namespace tarnix
