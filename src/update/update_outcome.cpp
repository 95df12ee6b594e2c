#include "update_outcome.h"

#include <chrono>
#include <cstdarg>
#include <cstdio>

#include "framing.h"

namespace {

using Clock = std::chrono::steady_clock;

// One run, one tally: like the port handle, it lives for the whole run.
UpdateTally Tally;
Clock::time_point RunStart = Clock::now();
int LineInHand = 0;

bool FailureNoted() {
    return Tally.outcome != UpdateOutcome::Completed;
}

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

std::string CommandAtLine(const UpdateTally& tally) {
    std::string text = std::string("the ") + CommandName(tally.failedCommand) + " command";
    if (CarriesLine(tally.failedCommand) && tally.lineNumber > 0) {
        text += Format(" for line %d", tally.lineNumber);
    }
    return text;
}

std::string Reason(const UpdateTally& tally, const char* interruptName) {
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

std::string Figures(const UpdateTally& tally, double elapsedSeconds) {
    std::string text = Format("; %lu commands, %lu data bytes, %.1f s", tally.commands,
                              tally.dataBytes, elapsedSeconds);
    if (tally.replies == 0) {
        return text;
    }
    double mean = tally.replySeconds / static_cast<double>(tally.replies);
    text += Format(", mean reply %.1f ms", mean * 1000);
    if (mean > SLOW_REPLY_SECONDS) {
        text +=
            "; replies are slow: a USB adapter's latency timer may be holding them (see the "
            "README, \"Reply latency\")";
    }
    return text;
}

}  // namespace

void StartUpdateTally() {
    Tally = UpdateTally{};
    LineInHand = 0;
    RunStart = Clock::now();
}

void NoteCommandSent() {
    Tally.commands++;
}

void NoteDataBytes(uint32_t count) {
    Tally.dataBytes += count;
}

void NoteReply(uint8_t cmd, ReplyArrival arrival, uint8_t reply, double waitedSeconds) {
    if (arrival == ReplyArrival::Arrived) {
        Tally.replies++;
        Tally.replySeconds += waitedSeconds;
    }
    if (FailureNoted() || arrival == ReplyArrival::Interrupted ||
        (arrival == ReplyArrival::Arrived && reply == ACK)) {
        return;
    }
    Tally.outcome =
        arrival == ReplyArrival::Arrived ? UpdateOutcome::Rejected : UpdateOutcome::NoReply;
    Tally.failedCommand = cmd;
    Tally.reply = reply;
    Tally.lineNumber = LineInHand;
}

void NoteLineInHand(int lineNumber) {
    LineInHand = lineNumber;
}

void NoteUpdateFailure(UpdateOutcome outcome) {
    if (!FailureNoted()) {
        Tally.outcome = outcome;
        Tally.lineNumber = LineInHand;
    }
}

const UpdateTally& CurrentUpdateTally() {
    return Tally;
}

double UpdateElapsedSeconds() {
    return std::chrono::duration<double>(Clock::now() - RunStart).count();
}

std::string DescribeUpdateOutcome(const UpdateTally& tally, uint8_t modNr,
                                  const std::string& portName, double elapsedSeconds,
                                  const char* interruptName) {
    std::string text = Reason(tally, interruptName);
    text += Format(": module 0x%02X on ", modNr) + portName;
    if (tally.outcome == UpdateOutcome::PortNotOpened) {
        return text;
    }
    return text + Figures(tally, elapsedSeconds);
}
