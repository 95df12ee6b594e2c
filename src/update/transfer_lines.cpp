// Line mode: every line of the file becomes one Data command, unparsed.

#include "framing.h"
#include "transfer_common.h"

namespace {

// Forwards the lines until the end of the file. False when a line was rejected or could not
// be read (the file ending before the size taken at its opening, or changing, included); End
// is then not sent. A last line without a line end sets the end-of-file indicator as it is
// read, so the loop ends after it without the done line: the done line belongs to the read
// that finds nothing more.
bool ForwardAllLines(TransferRun* run) {
    const UpdateSource& source = run->source;
    UpdateLine& line = run->line;
    while (!feof(source.stream)) {
        if (TransferMustStop(run)) {
            return false;
        }
        LineRead read = ReadUpdateLine(source.stream, &line);
        if (read == LineRead::ReadError) {
            PrintReadError(run);
            return false;
        }
        if (read == LineRead::EndOfFile) {
            PrintDone(run);
            break;
        }
        ExchangeResult exchange = SendDataLineForReply(run);
        run->total += exchange.written;
        PrintProgress(run);
        if (!Acknowledged(exchange)) {
            ReportLine(line, "\nReturn Value Daten: 0x%02X\t line number %i\n", exchange.reply,
                       line.number);
            return false;
        }
    }
    return true;
}

}  // namespace

UpdateResult TransferLines(Port& port, const UpdateSource& source, uint8_t modNr) {
    TransferRun run{.port = port, .source = source, .modNr = modNr, .line = {}, .result = {}};
    PrintLoading(source);
    if (StartModuleUpdate(&run)) {
        ExpectFileSize(&run.line, source.size, 0);
        WatchFileContent(&run.line, source.stream, {});
        if (ForwardAllLines(&run)) {
            EndModuleUpdate(&run);
        }
    }
    return run.result;
}
