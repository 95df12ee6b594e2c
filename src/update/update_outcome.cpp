#include "update_outcome.h"

#include <cstdarg>
#include <cstdio>

#include "framing.h"
#include "network_address.h"
#include "outcome_line.h"
#include "run_update.h"

namespace tarnix {

namespace {

const char* CommandName(uint8_t cmd) {
    switch (cmd) {
        case CMD_START:
            return "Start";
        case CMD_DATA:
            return "Data";
        case CMD_PROGRAM:
            return "Program";
        case CMD_END:
            return "End";
        default:
            return "update";
    }
}

bool CarriesLine(uint8_t cmd) {
    return cmd == CMD_DATA || cmd == CMD_PROGRAM;
}

__attribute__((format(printf, 1, 2))) std::string Format(const char* format, ...) {
    char text[160];
    va_list values;
    va_start(values, format);
    vsnprintf(text, sizeof text, format, values);
    va_end(values);
    return text;
}

std::string CommandAtLine(const UpdateResult& tally) {
    std::string text = std::string("the ") + CommandName(tally.failedCommand) + " command";
    if (CarriesLine(tally.failedCommand) && tally.lineNumber > 0) {
        text += Format(" for line %d", tally.lineNumber);
    }
    return text;
}

std::string Reason(const UpdateResult& tally, const char* interruptName) {
    switch (tally.outcome) {
        case UpdateOutcome::Completed:
            return "completed";
        case UpdateOutcome::Rejected:
            return "failed: " + CommandAtLine(tally) +
                   Format(" was rejected with 0x%02X", tally.reply);
        case UpdateOutcome::NoReply:
            return "failed: no reply to " + CommandAtLine(tally) + " (time-out or read failure)";
        case UpdateOutcome::HeaderCheck:
            return "failed: the header check of the update file failed (damaged, or not an "
                   "update file); nothing was sent";
        case UpdateOutcome::ReadError:
            return Format("failed: the update file could not be read whole (line %d)",
                          tally.lineNumber);
        case UpdateOutcome::RecordTooLong:
            return Format("failed: the record at line %d is too long for the line buffer",
                          tally.lineNumber);
        case UpdateOutcome::FileRefused:
            return "not done: the update file was not opened";
        case UpdateOutcome::NoFile:
            return "not done: no update file was chosen";
        case UpdateOutcome::PortNotOpened:
            return "not done: the port could not be opened";
        case UpdateOutcome::HungUp:
            return "failed: the port's device was disconnected or hung up";
        case UpdateOutcome::Interrupted:
            return std::string("interrupted by ") + interruptName;
    }
    return "failed";
}

// Why replies may be slow. Over the network each reply also crosses the network and the
// device server, and a latency timer that holds them is the device server's, not this
// machine's.
const char* SlowReplyHint(const std::string& portName) {
    NetworkAddress network;
    if (ParseNetworkAddress(portName, &network)) {
        return "; replies are slow: each crosses the network and the device server, where a "
               "USB adapter's latency timer may also hold them (see the README, \"Reply "
               "latency\")";
    }
    return "; replies are slow: a USB adapter's latency timer may be holding them (see the "
           "README, \"Reply latency\")";
}

std::string Figures(const UpdateResult& tally, const std::string& portName, double elapsedSeconds) {
    std::string text = Format("; %lu commands, %lu data bytes, %.1f s", tally.commands,
                              tally.dataBytes, elapsedSeconds);
    if (tally.replies == 0) {
        return text;
    }
    double mean = tally.replySeconds / static_cast<double>(tally.replies);
    text += Format(", mean reply %.1f ms", mean * 1000);
    if (mean > SLOW_REPLY_SECONDS) {
        text += SlowReplyHint(portName);
    }
    return text;
}

}  // namespace

void NoteFailure(UpdateResult* result, UpdateOutcome outcome, int lineNumber) {
    if (UpdateCompleted(*result)) {
        result->outcome = outcome;
        result->lineNumber = lineNumber;
    }
}

void CountExchange(UpdateResult* result, uint8_t cmd, const ExchangeResult& exchange,
                   int lineNumber) {
    result->commands++;
    result->dataBytes += exchange.written;
    result->discarded += exchange.discarded;
    if (exchange.ended == ReceiveResult::Byte) {
        result->replies++;
        result->replySeconds += exchange.waitedSeconds;
    }
    Verdict verdict = VerdictOf(exchange);
    if (!UpdateCompleted(*result) || verdict == Verdict::Interrupted ||
        verdict == Verdict::Acknowledged) {
        return;
    }
    result->outcome =
        verdict == Verdict::Rejected ? UpdateOutcome::Rejected : UpdateOutcome::NoReply;
    result->failedCommand = cmd;
    result->reply = exchange.reply;
    result->lineNumber = lineNumber;
}

int UpdateExitStatus(const UpdateResult& result, int interruptSignal) {
    switch (result.outcome) {
        case UpdateOutcome::Completed:
            return EXIT_UPDATE_COMPLETED;
        case UpdateOutcome::PortNotOpened:
            return EXIT_PORT_NOT_OPENED;
        case UpdateOutcome::Interrupted:
            return ExitStatusForSignal(interruptSignal);
        default:
            return EXIT_UPDATE_NOT_DONE;
    }
}

UpdateResult ExplainStop(UpdateResult result, bool interrupted, bool hungUp) {
    if (interrupted) {
        result.outcome = UpdateOutcome::Interrupted;
    } else if (hungUp && result.outcome != UpdateOutcome::PortNotOpened) {
        result.outcome = UpdateOutcome::HungUp;
    }
    return result;
}

std::string DescribeUpdateOutcome(const UpdateResult& tally, uint8_t modNr,
                                  const std::string& portName, double elapsedSeconds,
                                  const char* interruptName) {
    std::string text = Reason(tally, interruptName);
    text += OUTCOME_MODULE_SEPARATOR + Format("0x%02X on ", modNr) + portName;
    if (tally.outcome == UpdateOutcome::PortNotOpened) {
        return text;
    }
    return text + Figures(tally, portName, elapsedSeconds);
}

}  // namespace tarnix
