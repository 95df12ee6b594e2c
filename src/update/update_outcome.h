#pragma once
// What one update run did, for the exit status and for the line that tells it in plain words
// on standard error at the end of the run (standard output keeps exactly the program's own
// texts).

#include <cstdint>
#include <string>

#include "exchange.h"

namespace tarnix {

enum class UpdateOutcome {
    Completed,      // Start, every command and End acknowledged
    Rejected,       // a command answered with another byte than ACK
    NoReply,        // a command's reply did not come (time-out or read failure)
    HeaderCheck,    // the update file's header failed its CRC check
    ReadError,      // the update file could not be read whole
    RecordTooLong,  // a record did not fit the line buffer
    FileRefused,    // the update file could not be opened or is no regular file
    NoFile,         // no update file was chosen
    PortNotOpened,
    HungUp,       // the port's device was disconnected
    Interrupted,  // a signal or console event ended the run
};

// What one update run did: the transfers return it, and the run flow makes both the exit
// status and the outcome line from it.
struct UpdateResult {
    UpdateOutcome outcome = UpdateOutcome::Completed;  // the first failure noted
    uint8_t failedCommand = 0;                         // Rejected, NoReply
    uint8_t reply = 0;                                 // Rejected
    int lineNumber = 0;                                // of the failure, where a line was in hand
    unsigned long commands = 0;                        // update commands sent, Finish included
    unsigned long dataBytes = 0;                       // Data payload bytes written
    unsigned long replies = 0;                         // replies that arrived
    double replySeconds = 0;                           // time spent waiting for them
    unsigned long discarded = 0;                       // stray bytes discarded before commands
};

inline bool UpdateCompleted(const UpdateResult& result) {
    return result.outcome == UpdateOutcome::Completed;
}

// A failure, with the line in hand when it happened (0: none); only the first one counts.
void NoteFailure(UpdateResult* result, UpdateOutcome outcome, int lineNumber);

// One command sent and how its reply came: the figures, and a rejection or a missing reply as
// the failure. A wait that an interrupt ended is explained by the interrupt (ExplainStop).
void CountExchange(UpdateResult* result, uint8_t cmd, const ExchangeResult& exchange,
                   int lineNumber);

// An interrupt or a hang-up explains the failure that the command under way then showed; a
// port that was never opened stays the reason.
UpdateResult ExplainStop(UpdateResult result, bool interrupted, bool hungUp);

// The exit status for a run's result: 0 completed, 2 port not opened, 128 + n interrupted by
// signal `interruptSignal`, 1 for every other failure.
int UpdateExitStatus(const UpdateResult& result, int interruptSignal);

// The outcome line without program name, e.g. "completed: module 0x89 on COM1; ...".
// `interruptName` names the interrupt for UpdateOutcome::Interrupted.
std::string DescribeUpdateOutcome(const UpdateResult& result, uint8_t modNr,
                                  const std::string& portName, double elapsedSeconds,
                                  const char* interruptName);

// Mean replies above this suggest an adapter that holds received bytes (a USB latency timer);
// on a network port, the network and the device server (whose adapter may hold them too).
inline constexpr double SLOW_REPLY_SECONDS = 0.008;

}  // namespace tarnix
