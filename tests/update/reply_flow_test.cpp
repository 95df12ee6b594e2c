// Every command of both transfer modes answered every way a module can answer, on a scripted
// port in process: what is sent next, the result and the exit status are checked together.
// Any reply but ACK stops the transfer at the same place, whatever its value.

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "exchange.h"
#include "fake_port.h"
#include "run_update.h"
#include "transfer.h"
#include "update_file_builder.h"

using namespace tarnix;

namespace {

struct Answer {
    const char* name;
    FakeReply reply;
    UpdateOutcome outcome;  // of the run, once a hang-up has explained its stop
};

const Answer ANSWERS[] = {
    {"NAK", ReplyWith(0x15), UpdateOutcome::Rejected},
    {"zero", ReplyWith(0x00), UpdateOutcome::Rejected},
    {"letter", ReplyWith('A'), UpdateOutcome::Rejected},
    {"ACK+1", ReplyWith(0x07), UpdateOutcome::Rejected},
    {"silence", {FakeReplyKind::Silence, {}}, UpdateOutcome::NoReply},
    {"late ACK", {FakeReplyKind::Late, {0x06}}, UpdateOutcome::NoReply},
    {"hang-up", {FakeReplyKind::HangUp, {}}, UpdateOutcome::HungUp},
};

struct FlowRun {
    UpdateResult result;
    std::string commands;
    int exitStatus = -1;
    std::string printed;
};

// Runs a transfer with every reply ACK except the one numbered `answerAt` (-1: none).
FlowRun Transfer(bool lineMode, const std::string& file, int answerAt, const FakeReply& answer) {
    FakeLine line;
    line.script = [&](const AwaitedReply& awaited) {
        return static_cast<int>(awaited.index) == answerAt ? answer : ReplyWith(0x06);
    };
    std::unique_ptr<Port> port = OpenFakePort(&line);
    std::string bytes = file;
    FILE* stream = fmemopen(bytes.data(), bytes.size(), "rb");
    UpdateSource source{stream, static_cast<uint32_t>(bytes.size()), "f.upd"};
    testing::internal::CaptureStdout();
    UpdateResult result =
        lineMode ? TransferLines(*port, source, 0x89) : TransferRecords(*port, source, 0x89);
    FlowRun run;
    run.printed = testing::internal::GetCapturedStdout();
    fclose(stream);
    run.result = ExplainStop(result, false, port->hungUp);
    run.commands = SentCommands(line.sent);
    run.exitStatus = UpdateExitStatus(run.result, 0);
    return run;
}

// Two full blocks of 32 bytes, an address record, one more record and the end record: Start,
// Data, Data, Program, Data (the address), Data, Program (at the end record), End.
std::string RecordFile() {
    return BuildUpdateFile(
        32,
        {MakeDataRecord(0, PatternBytes(16, 1)), MakeDataRecord(16, PatternBytes(16, 2)),
         MakeExtendedAddressRecord(1), MakeDataRecord(0, PatternBytes(16, 3)), MakeEndRecord()});
}

TEST(ReplyFlow, EveryCommandAcknowledgedCompletes) {
    FlowRun records = Transfer(false, RecordFile(), -1, {});
    EXPECT_EQ(records.commands, "BCCDCCDE");
    EXPECT_EQ(records.result.outcome, UpdateOutcome::Completed);
    EXPECT_EQ(records.exitStatus, 0);
    FlowRun lines = Transfer(true, "a\r\nb\r\nc\r\n", -1, {});
    EXPECT_EQ(lines.commands, "BCCCE");
    EXPECT_EQ(lines.exitStatus, 0);
}

// Record mode: End still goes out after a rejection inside the loop, never after a rejected
// Start or a hang-up.
TEST(ReplyFlow, RecordModeStopsAtTheFirstReplyThatIsNotAck) {
    const std::string all = "BCCDCCDE";
    for (const Answer& answer : ANSWERS) {
        for (size_t at = 0; at < all.size(); ++at) {
            SCOPED_TRACE(std::string(answer.name) + " to command " + std::to_string(at) + " '" +
                         all[at] + "'");
            FlowRun run = Transfer(false, RecordFile(), static_cast<int>(at), answer.reply);
            bool endFollows =
                at != 0 && at != all.size() - 1 && answer.reply.kind != FakeReplyKind::HangUp;
            EXPECT_EQ(run.commands, all.substr(0, at + 1) + (endFollows ? "E" : ""));
            EXPECT_EQ(run.result.outcome, answer.outcome);
            EXPECT_EQ(run.result.failedCommand, static_cast<uint8_t>(all[at]));
            EXPECT_EQ(run.exitStatus, 1);
            // A late reply waits before the next command and is discarded, not taken for its
            // reply.
            bool lateBeforeEnd = answer.reply.kind == FakeReplyKind::Late && endFollows;
            EXPECT_EQ(run.result.discarded, lateBeforeEnd ? 1u : 0u);
        }
    }
}

// Line mode: a rejected line ends the transfer without End.
TEST(ReplyFlow, LineModeStopsAtTheFirstReplyThatIsNotAck) {
    const std::string all = "BCCCE";
    for (const Answer& answer : ANSWERS) {
        for (size_t at = 0; at < all.size(); ++at) {
            SCOPED_TRACE(std::string(answer.name) + " to command " + std::to_string(at));
            FlowRun run = Transfer(true, "a\r\nb\r\nc\r\n", static_cast<int>(at), answer.reply);
            EXPECT_EQ(run.commands, all.substr(0, at + 1));
            EXPECT_EQ(run.result.outcome, answer.outcome);
            EXPECT_EQ(run.exitStatus, 1);
        }
    }
}

// The rejection message shows the byte that came, the 0 of a missing reply included.
TEST(ReplyFlow, RejectionMessagesShowTheReplyByte) {
    FlowRun zero = Transfer(false, RecordFile(), 1, ReplyWith(0x00));
    EXPECT_NE(zero.printed.find("Return Value Daten: 0x00\t line number 1\n"), std::string::npos)
        << zero.printed;
    FlowRun silent = Transfer(false, RecordFile(), 3, {FakeReplyKind::Silence, {}});
    EXPECT_NE(silent.printed.find("TIMEOUT !!!\nReturn Value Progr.: 0x00\t line number 2\n"),
              std::string::npos)
        << silent.printed;
}

}  // namespace
