// Line mode: every line of the file becomes one Data command, unparsed.

#include "com_port.h"
#include "framing.h"
#include "transfer_common.h"

namespace {

// Forwards the lines until the end of the file. False when a line was rejected or could not
// be read; End is then not sent.
bool ForwardAllLines(const UpdateSource& source, uint8_t modNr) {
    UpdateLine line;
    uint32_t total = 0;
    while (!feof(source.stream)) {
        if (TransferMustStop()) {
            return false;
        }
        LineRead read = ReadUpdateLine(source.stream, &line);
        if (read == LineRead::ReadError) {
            PrintReadError(source, line);
            return false;
        }
        if (read == LineRead::EndOfFile) {
            PrintDone();
            break;
        }
        uint32_t written = 0;
        uint8_t reply = SendDataLineForReply(modNr, &line, &written);
        total += written;
        PrintProgress(total, source.size);
        if (reply != ACK) {
            printf("\nReturn Value Daten: 0x%02X\t line number %i\n", reply, line.number);
            PrintLine(line);
            return false;
        }
    }
    return true;
}

}  // namespace

bool TransferLines(const UpdateSource& source, uint8_t modNr) {
    PrintLoading(source);
    if (TransferMustStop()) {
        return false;
    }
    uint8_t reply = SendCommandForReply(CMD_START, modNr);
    if (reply != ACK) {
        printf("Return Value start : 0x%02X\n", reply);
        return false;
    }
    if (!ForwardAllLines(source, modNr)) {
        return false;
    }
    reply = SendCommandForReply(CMD_END, modNr);
    if (reply != ACK) {
        printf("Return Value Ende : 0x%02X\n", reply);
        return false;
    }
    return true;
}
