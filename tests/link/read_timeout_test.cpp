// The reply wait: a silent module costs exactly the 5-second time-out, no more and not less.

#include <chrono>

#include "com_port.h"
#include "pty_peer.h"

namespace {

using ReadTimeout = PtyPeer;

TEST_F(ReadTimeout, SilentLineTimesOutAfterFiveSeconds) {
    OpenPort();
    auto start = std::chrono::steady_clock::now();
    testing::internal::CaptureStdout();
    EXPECT_EQ(ReceiveByte(), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "TIMEOUT !!!\n");
    auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(4990));
    // Generous: a loaded machine may wake the reader late, but never seconds late.
    EXPECT_LT(waited, std::chrono::milliseconds(8000));
}

}  // namespace
