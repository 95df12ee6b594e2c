#include <gtest/gtest.h>

#include <chrono>

#include "line_pacer.h"
#include "module_on_pty.h"

using namespace tarnix;

namespace {

TEST(LinePacer, KeepsByteTimeFromArrivalOrThePreviousByte) {
    ModuleConfig config;
    config.baud = 9600;
    config.replyLatencyMs = 2;
    LinePacer pacer;
    StartLinePacer(&pacer, config);
    const int64_t byte = 11 * 1000000000LL / 9600;
    EXPECT_EQ(pacer.byteNs, byte);
    EXPECT_EQ(pacer.latencyNs, 2000000);
    // A burst of three bytes seen at once arrives one after the other.
    for (int64_t i = 1; i <= 3; ++i) {
        EXPECT_EQ(PaceInboundByte(&pacer, 1000), 1000 + i * byte);
    }
    // A byte seen after the line went quiet starts when it is seen.
    EXPECT_EQ(PaceInboundByte(&pacer, 1000 + 10 * byte), 1000 + 11 * byte);
    // A reply of two bytes: the second waits for the first; peeking does not move on.
    EXPECT_EQ(NextOutboundByteEnd(pacer, 500), 500 + byte);
    EXPECT_EQ(PaceOutboundByte(&pacer, 500), 500 + byte);
    EXPECT_EQ(PaceOutboundByte(&pacer, 500), 500 + 2 * byte);

    StartLinePacer(&pacer, ModuleConfig{});
    EXPECT_EQ(PaceInboundByte(&pacer, 42), 42);  // unpaced: at once
    EXPECT_EQ(PaceOutboundByte(&pacer, 43), 43);
}

// The parameter is the spin time: staying awake for the end of the wait must not send the
// reply any sooner.
class PacedModule : public ModuleOnPty, public testing::WithParamInterface<unsigned> {};

// The controller information query: 3 bytes out, 2 + 20 + 2 bytes back, at 9600 baud with 5 ms
// latency. The answer cannot come sooner than a real line would carry it.
TEST_P(PacedModule, AnswersNoSoonerThanTheWireTime) {
    ModuleConfig config;
    config.baud = 9600;
    config.replyLatencyMs = 5;
    config.spinUs = GetParam();
    config.velox.text = "VELOX paced 20 bytes";
    StartModule(config);
    auto begin = std::chrono::steady_clock::now();
    Send({MODULE_STX, MODULE_CMD_VELOX_INFO, MODULE_ETX});
    EXPECT_EQ(Receive(24).size(), 24u);
    auto elapsed = std::chrono::steady_clock::now() - begin;
    const auto wire = std::chrono::nanoseconds((3 + 24) * 11 * 1000000000LL / 9600) +
                      std::chrono::milliseconds(5);
    EXPECT_GE(elapsed, wire);
}

INSTANTIATE_TEST_SUITE_P(AsleepOrAwake, PacedModule, testing::Values(0u, 3000u));

}  // namespace
