// Record mode: the Intel HEX records after the header go to the module as Data commands, and
// a Program command closes each block: when BlockSize data bytes have been sent, before an
// extended address record (so that no block spans two address segments), and at the end
// record.

#include "com_port.h"
#include "framing.h"
#include "transfer_common.h"
#include "update_file.h"
#include "update_outcome.h"

namespace {

struct RecordTransfer {
    const UpdateSource& source;
    uint8_t modNr;
    uint32_t blockSize = 0;
    uint32_t blockSum = 0;  // data bytes sent since the last Program command
    uint32_t total = 0;     // payload bytes written, for the progress line
    int byteCount = 0;      // LL of the last line that carried one
    UpdateLine line;
};

enum class Step { Continue, Stop };

// Tells the module to program the open block, if one is open. Returns its reply, or ACK when
// no block was open. The caller reports a rejection: each place has its own message.
uint8_t CloseOpenBlock(RecordTransfer* transfer) {
    if (transfer->blockSum == 0) {
        return ACK;
    }
    transfer->blockSum = 0;
    return SendCommandForReply(CMD_PROGRAM, transfer->modNr);
}

Step HandleDataRecord(RecordTransfer* transfer) {
    const UpdateLine& line = transfer->line;
    uint32_t written = 0;
    uint8_t reply = SendDataLineForReply(transfer->modNr, &transfer->line, &written);
    // The reply is tested twice on purpose: a rejection is reported before the progress line,
    // which is printed either way, and only then does the loop stop.
    if (reply != ACK) {
        ReportLine(line, "Return Value Daten: 0x%02X\t line number %i\n", reply, line.number);
    }
    transfer->total += written;
    PrintProgress(transfer->total, transfer->source.size);
    if (reply != ACK) {
        return Step::Stop;
    }
    transfer->blockSum += static_cast<uint32_t>(transfer->byteCount);
    if (transfer->blockSum < transfer->blockSize) {
        return Step::Continue;
    }
    transfer->blockSum = 0;
    reply = SendCommandForReply(CMD_PROGRAM, transfer->modNr);
    // The module needs a moment after programming a full block.
    WaitMilliseconds(1);
    if (reply != ACK) {
        ReportLine(line, "Return Value Progr.: 0x%02X\t line number %i\n", reply, line.number);
        return Step::Stop;
    }
    return Step::Continue;
}

Step HandleAddressRecord(RecordTransfer* transfer) {
    const UpdateLine& line = transfer->line;
    uint8_t reply = CloseOpenBlock(transfer);
    if (reply != ACK) {
        ReportLine(line, "Return Value Progr.(4): 0x%02X\t line number %i\n", reply, line.number);
        return Step::Stop;
    }
    uint32_t written = 0;
    reply = SendDataLineForReply(transfer->modNr, &transfer->line, &written);
    if (reply != ACK) {
        ReportLine(line, "Return Value Adr.: 0x%02X\t line number %i\n", reply, line.number);
        return Step::Stop;
    }
    return Step::Continue;
}

Step HandleEndRecord(RecordTransfer* transfer) {
    uint8_t reply = CloseOpenBlock(transfer);
    if (reply != ACK) {
        ReportLine(transfer->line, "Return Value EOF : 0x%02X\t line number %i\n", reply,
                   transfer->line.number);
        return Step::Stop;
    }
    return Step::Continue;
}

Step HandleRecordLine(RecordTransfer* transfer) {
    const UpdateLine& line = transfer->line;
    // A record is sent whole or not at all: in pieces the module would get a cut record, and
    // the rest of the line would be read as further records.
    if (line.cut) {
        NoteUpdateFailure(UpdateOutcome::RecordTooLong);
        ReportLine(line, "Record too long for the line buffer\t line number %i\n", line.number);
        return Step::Stop;
    }
    RecordLine record = ClassifyRecordLine(line.text, line.length, transfer->byteCount);
    transfer->byteCount = record.byteCount;
    switch (record.type) {
        case RECORD_DATA:
            return HandleDataRecord(transfer);
        case RECORD_EXTENDED_ADDRESS:
            return HandleAddressRecord(transfer);
        case RECORD_END_OF_FILE:
            return HandleEndRecord(transfer);
        default:
            return Step::Continue;  // start addresses and other records are not forwarded
    }
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
        .source = source, .modNr = modNr, .blockSize = header.blockSize, .line = {}};
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
