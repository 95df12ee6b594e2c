#pragma once
// What one update run did, for the line that tells it in plain words on standard error at the
// end of the run (standard output keeps exactly the program's own texts). The exchanges and
// the transfers note into one tally as they go; the run flow notes what only it knows (the
// port, the file) and prints the line.

#include <cstdint>
#include <string>

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

struct UpdateTally {
    UpdateOutcome outcome = UpdateOutcome::Completed;  // the first failure noted
    uint8_t failedCommand = 0;                         // Rejected, NoReply
    uint8_t reply = 0;                                 // Rejected
    int lineNumber = 0;                                // of the failure, where a line was in hand
    unsigned long commands = 0;                        // update commands sent, Finish included
    unsigned long dataBytes = 0;                       // Data payload bytes written
    unsigned long replies = 0;                         // replies that arrived
    double replySeconds = 0;                           // time spent waiting for them
};

// Starts a new tally (the run's clock starts here).
void StartUpdateTally();

// The exchanges: one command sent, and its reply (or the reason it did not come).
enum class ReplyArrival { Arrived, Missing, Interrupted };
void NoteCommandSent();
void NoteDataBytes(uint32_t count);
void NoteReply(uint8_t cmd, ReplyArrival arrival, uint8_t reply, double waitedSeconds);

// The line of the update file in hand, for the failures noted while it is.
void NoteLineInHand(int lineNumber);

// A failure; only the first one noted counts.
void NoteUpdateFailure(UpdateOutcome outcome);

const UpdateTally& CurrentUpdateTally();

// The outcome line without program name, e.g. "completed: module 0x89 on COM1; ...".
// `interruptName` names the interrupt for UpdateOutcome::Interrupted.
std::string DescribeUpdateOutcome(const UpdateTally& tally, uint8_t modNr,
                                  const std::string& portName, double elapsedSeconds,
                                  const char* interruptName);

// Seconds since StartUpdateTally().
double UpdateElapsedSeconds();

// Mean replies above this suggest an adapter that holds received bytes (a USB latency timer).
inline constexpr double SLOW_REPLY_SECONDS = 0.008;
