// The reply wait: a silent module costs exactly the 5-second time-out, no more and not less.

#include <chrono>

#include "pty_peer.h"

using namespace tarnix;

namespace {

using ReadTimeout = PtyPeer;

TEST_F(ReadTimeout, SilentLineTimesOutAfterFiveSeconds) {
    OpenSlave();
    auto start = std::chrono::steady_clock::now();
    PortNotes notes;
    Received received = ReceiveByte(*port_, &notes);
    EXPECT_EQ(received.ended, ReceiveResult::TimedOut);
    EXPECT_EQ(received.value, 0);
    testing::internal::CaptureStdout();
    PrintPortNotes(notes);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "TIMEOUT !!!\n");
    auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(4990));
    EXPECT_LT(waited, std::chrono::seconds(30));  // a hang, not a slow machine
}

}  // namespace
