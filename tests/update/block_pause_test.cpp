// The module needs a moment after it has programmed a full block: the next command follows the
// Program command's reply no sooner than 1 ms later.

#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "pty_peer.h"
#include "transfer.h"
#include "update_file_builder.h"

using namespace tarnix;

namespace {

using Clock = std::chrono::steady_clock;

struct ProgramGap {
    Clock::time_point programAcknowledged{};
    Clock::time_point nextCommandSeen{};
};

// Answers every frame with ACK until End; notes when the first Program command was answered and
// when the first byte after it arrived.
void PlayModule(int master, ProgramGap* gap) {
    const Clock::time_point never{};
    std::vector<uint8_t> frame;
    pollfd pfd{master, POLLIN, 0};
    uint8_t byte = 0;
    while (poll(&pfd, 1, 3000) == 1 && read(master, &byte, 1) == 1) {
        if (gap->programAcknowledged != never && gap->nextCommandSeen == never) {
            gap->nextCommandSeen = Clock::now();
        }
        frame.push_back(byte);
        if (byte != 0x03 || frame.size() < 4) {
            continue;
        }
        uint8_t command = frame[1];
        frame.clear();
        const uint8_t ack = 0x06;
        if (write(master, &ack, 1) != 1 || command == 'E') {
            return;
        }
        if (command == 'D' && gap->programAcknowledged == never) {
            gap->programAcknowledged = Clock::now();
        }
    }
}

using BlockPause = PtyPeer;

TEST_F(BlockPause, NextCommandWaitsAMillisecondAfterAFullBlock) {
    std::string file =
        BuildUpdateFile(16, {MakeDataRecord(0, PatternBytes(16, 1)),
                             MakeDataRecord(16, PatternBytes(16, 2)), MakeEndRecord()});
    FILE* stream = fmemopen(file.data(), file.size(), "rb");
    ASSERT_NE(stream, nullptr);
    OpenSlave();
    ProgramGap gap;
    std::thread module(PlayModule, master_, &gap);
    testing::internal::CaptureStdout();
    bool completed = UpdateCompleted(
        TransferRecords(*port_, {stream, static_cast<uint32_t>(file.size()), "f.upd"}, 0x89));
    std::string printed = testing::internal::GetCapturedStdout();
    module.join();
    fclose(stream);

    ASSERT_TRUE(completed) << printed;
    ASSERT_NE(gap.nextCommandSeen, Clock::time_point{}) << "no command followed the first Program";
    EXPECT_GE(gap.nextCommandSeen - gap.programAcknowledged, std::chrono::milliseconds(1));
}

}  // namespace
