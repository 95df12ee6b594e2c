// A run of service operations on a port played in process: every reply the module gives
// answered every way it can be, checked together with what is sent next and the exit status.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "fake_port.h"
#include "service_run.h"

using namespace tarnix;

namespace {

constexpr uint8_t STATUS_COMMAND = 'S';

struct Answer {
    const char* name;
    FakeReply reply;
};

const Answer ANSWERS[] = {
    {"NAK", ReplyWith(0x15)},
    {"zero", ReplyWith(0x00)},
    {"letter", ReplyWith('A')},
    {"silence", {FakeReplyKind::Silence, {}}},
    {"late ACK", {FakeReplyKind::Late, {0x06}}},
    {"hang-up", {FakeReplyKind::HangUp, {}}},
};

// The parameter command, a download of 300 bytes (header, two blocks, timestamp) and the status
// query: six replies, the operations they belong to.
const size_t OPERATION_OF_REPLY[] = {0, 1, 1, 1, 1, 2};

struct ServiceFlow {
    int status = -1;
    ServiceRun run;
    size_t repliesAwaited = 0;
    bool sentAfterLastReply = false;
};

ServiceFlow RunWithAnswer(const std::string& file, int answerAt, const FakeReply& answer) {
    FakeLine line;
    line.script = [&](const AwaitedReply& awaited) {
        if (static_cast<int>(awaited.index) == answerAt) {
            return answer;
        }
        return awaited.command == STATUS_COMMAND ? FakeReply{FakeReplyKind::Bytes, {'U', 1, 2, 3}}
                                                 : ReplyWith(0x06);
    };
    std::unique_ptr<Port> port = OpenFakePort(&line);
    std::vector<ServiceOperation> operations = {{ServiceOperationKind::Param, 7, ""},
                                                {ServiceOperationKind::Download, 0, file},
                                                {ServiceOperationKind::Status, 0, ""}};
    ServiceFlow flow;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    flow.status = RunOperations(*port, operations, &flow.run);
    testing::internal::GetCapturedStdout();
    testing::internal::GetCapturedStderr();
    flow.repliesAwaited = line.awaited;
    flow.sentAfterLastReply = line.sent.size() > line.answeredUpTo;
    return flow;
}

class ServiceReplies : public testing::Test {
protected:
    void SetUp() override {
        char name[] = "/tmp/tarnix-flow-XXXXXX";
        int fd = mkstemp(name);
        ASSERT_GE(fd, 0);
        std::string bytes(300, 'c');
        ASSERT_EQ(write(fd, bytes.data(), bytes.size()), 300);
        close(fd);
        file_ = name;
    }
    void TearDown() override { unlink(file_.c_str()); }
    std::string file_;
};

TEST_F(ServiceReplies, EveryReplyAsExpectedCompletesEveryOperation) {
    ServiceFlow flow = RunWithAnswer(file_, -1, {});
    EXPECT_EQ(flow.status, EXIT_ALL_SUCCEEDED);
    EXPECT_EQ(flow.run.completed, 3u);
    EXPECT_EQ(flow.repliesAwaited, 6u);
}

// Whatever the wrong answer, the run stops at the operation it belongs to and sends nothing
// more: no further block, no closing ETX, no timestamp, no next operation.
TEST_F(ServiceReplies, AnyOtherAnswerStopsTheRunWhereItCame) {
    for (const Answer& answer : ANSWERS) {
        for (size_t at = 0; at < std::size(OPERATION_OF_REPLY); ++at) {
            SCOPED_TRACE(std::string(answer.name) + " as reply " + std::to_string(at));
            ServiceFlow flow = RunWithAnswer(file_, static_cast<int>(at), answer.reply);
            EXPECT_EQ(flow.status, EXIT_OPERATION_FAILED);
            EXPECT_EQ(flow.run.completed, OPERATION_OF_REPLY[at]);
            EXPECT_EQ(flow.run.stoppedAt, OPERATION_OF_REPLY[at]);
            EXPECT_EQ(flow.repliesAwaited, at + 1);
            EXPECT_FALSE(flow.sentAfterLastReply);
            EXPECT_EQ(flow.run.hungUp, answer.reply.kind == FakeReplyKind::HangUp);
        }
    }
}

}  // namespace
