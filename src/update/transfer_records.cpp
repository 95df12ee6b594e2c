// Record mode: the Intel HEX records after the header go to the module as Data commands, and
// a Program command closes each block: when BlockSize data bytes have been sent, before an
// extended address record (so that no block spans two address segments), and at the end
// record.

#include "com_port.h"
#include "framing.h"
#include "transfer_common.h"
#include "update_file.h"

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

void ReportRejection(const char* format, uint8_t reply, const UpdateLine& line) {
    printf(format, reply, line.number);
    PrintLine(line);
}

// Tells the module to program the open block, if one is open.
bool CloseOpenBlock(RecordTransfer* transfer, const char* rejectionFormat) {
    if (transfer->blockSum == 0) {
        return true;
    }
    transfer->blockSum = 0;
    uint8_t reply = SendCommandForReply(CMD_PROGRAM, transfer->modNr);
    if (reply != ACK) {
        ReportRejection(rejectionFormat, reply, transfer->line);
        return false;
    }
    return true;
}

Step HandleDataRecord(RecordTransfer* transfer) {
    uint32_t written = 0;
    uint8_t reply = SendDataLineForReply(transfer->modNr, &transfer->line, &written);
    if (reply != ACK) {
        ReportRejection("Return Value Daten: 0x%02X\t line number %i\n", reply, transfer->line);
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
        ReportRejection("Return Value Progr.: 0x%02X\t line number %i\n", reply, transfer->line);
        return Step::Stop;
    }
    return Step::Continue;
}

Step HandleAddressRecord(RecordTransfer* transfer) {
    if (!CloseOpenBlock(transfer, "Return Value Progr.(4): 0x%02X\t line number %i\n")) {
        return Step::Stop;
    }
    uint32_t written = 0;
    uint8_t reply = SendDataLineForReply(transfer->modNr, &transfer->line, &written);
    if (reply != ACK) {
        ReportRejection("Return Value Adr.: 0x%02X\t line number %i\n", reply, transfer->line);
        return Step::Stop;
    }
    return Step::Continue;
}

Step HandleEndRecord(RecordTransfer* transfer) {
    bool accepted = CloseOpenBlock(transfer, "Return Value EOF : 0x%02X\t line number %i\n");
    return accepted ? Step::Continue : Step::Stop;
}

Step HandleRecordLine(RecordTransfer* transfer) {
    const UpdateLine& line = transfer->line;
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

// Forwards the records until the end of the file. False when anything was rejected or a line
// could not be read.
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

}  // namespace

bool TransferRecords(const UpdateSource& source, uint8_t modNr) {
    UpdateHeaderCheck header = CheckUpdateHeader(source.stream);
    if (!header.valid) {
        printf("File Header CRC incorrect - aborting !!!\n");
        return false;
    }
    printf("Block Size is : %d\n", static_cast<int>(header.blockSize));
    PrintLoading(source);
    if (TransferMustStop()) {
        return false;
    }
    uint8_t reply = SendCommandForReply(CMD_START, modNr);
    if (reply != ACK) {
        printf("Return Value start : 0x%02X\n", reply);
        return false;
    }
    RecordTransfer transfer{
        .source = source, .modNr = modNr, .blockSize = header.blockSize, .line = {}};
    printf("\nWriting User configuration... %4ld %%", 0L);
    fflush(stdout);
    bool allAccepted = ForwardAllRecords(&transfer);
    if (ComPortHungUp()) {
        return false;  // nothing reaches the module any more; only the Finish attempt follows
    }
    // End goes out even after a rejection, so that the module leaves its update state.
    reply = SendCommandForReply(CMD_END, modNr);
    if (reply != ACK) {
        printf("Return Value Ende : 0x%02X\n", reply);
        return false;
    }
    return allAccepted;
}
