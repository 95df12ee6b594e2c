// Line mode: every line of the file becomes one Data command, unparsed.

#include "framing.h"
#include "transfer_common.h"

namespace tarnix {

namespace {

// A rejected line ends the transfer; End is then not sent.
LineStep ForwardLine(TransferRun* run) {
    UpdateLine& line = run->line;
    ExchangeResult exchange = SendDataLineForReply(run);
    run->total += exchange.written;
    PrintProgress(run);
    if (!Acknowledged(exchange)) {
        ReportLine(line, "\nReturn Value Daten: 0x%02X\t line number %i\n", exchange.reply,
                   line.number);
        return LineStep::Stop;
    }
    return LineStep::Continue;
}

}  // namespace

UpdateResult TransferLines(Port& port, const UpdateSource& source, uint8_t modNr) {
    TransferRun run{.port = port, .source = source, .modNr = modNr, .line = {}, .result = {}};
    PrintLoading(source);
    if (StartModuleUpdate(&run)) {
        ExpectFileSize(&run.line, source.size, 0);
        WatchFileContent(&run.line, source.stream, {});
        if (ForwardEachLine(&run, [&run] { return ForwardLine(&run); })) {
            EndModuleUpdate(&run);
        }
    }
    return run.result;
}

}  // namespace tarnix
