#include "module_info.h"

#include <thread>

#include "framing.h"
#include "service_on_pty.h"

using namespace tarnix;

namespace {

uint8_t Checksum(const std::vector<uint8_t>& bytes) {
    return SumChecksum(bytes.data(), static_cast<uint32_t>(bytes.size()));
}

TEST(SumChecksum, AddsBytesModulo256WithoutInversion) {
    EXPECT_EQ(SumChecksum(nullptr, 0), 0x00);
    EXPECT_EQ(Checksum({'a', 'b', 'c'}), 0x26);
    EXPECT_EQ(Checksum(std::vector<uint8_t>(256, 0xFF)), 0x00);
    EXPECT_EQ(Checksum({0xFF, 0x02}), 0x01);
    // Only the first `length` bytes count.
    const uint8_t bytes[] = {0x10, 0x20, 0x40};
    EXPECT_EQ(SumChecksum(bytes, 2), 0x30);
}

using ParameterCommand = ServiceOnPty;

// A stale byte waiting in the input queue must not be taken for the module's answer.
TEST_F(ParameterCommand, DiscardsPendingInputAndSendsTheLowByteTwice) {
    WriteToLine({0x15});
    WaitUntilReadable();
    std::vector<uint8_t> sent;
    std::thread module([&] {
        sent = ReadFromLine(7);
        WriteToLine({ACK});
    });
    testing::internal::CaptureStdout();
    CommandReply reply = SendParameterCommand(*port_, 0x1234);
    std::string printed = testing::internal::GetCapturedStdout();
    module.join();

    EXPECT_TRUE(reply.acknowledged);
    EXPECT_EQ(reply.discarded, 0u);  // purged before, not discarded
    EXPECT_EQ(printed, "");
    EXPECT_EQ(sent, (std::vector<uint8_t>{0x02, 0x24, 0x00, 0x00, 0x34, 0x34, 0x03}));
}

TEST_F(ParameterCommand, StopsAtAFailedPurgeWithoutSending) {
    ClosePort(*port_);
    testing::internal::CaptureStdout();
    CommandReply reply = SendParameterCommand(*port_, 7);
    std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_FALSE(reply.acknowledged);
    EXPECT_EQ(printed, "COM port not opened !\n");
    EXPECT_TRUE(LineIsQuiet());
}

}  // namespace
