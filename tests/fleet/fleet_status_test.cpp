#include "fleet_status.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fleet_cli.h"

namespace {

TEST(FleetStatus, LogNamesAreSafeFileNames) {
    EXPECT_EQ(PortLogName("/dev/ttyUSB0"), "dev_ttyUSB0.log");
    EXPECT_EQ(PortLogName("/dev/serial/by-id/usb-FTDI:1"), "dev_serial_by-id_usb-FTDI_1.log");
    EXPECT_EQ(PortLogName("3"), "COM3_.log");  // COM3.log would be the port on Windows
    EXPECT_EQ(PortLogName("/dev/nul"), "dev_nul.log");
    EXPECT_EQ(PortLogName("aux.x"), "aux_.x.log");
}

// Ports whose names PortLogName maps to one file still get one log each.
TEST(FleetStatus, EveryPortGetsALogOfItsOwn) {
    struct Case {
        std::vector<std::string> ports;
        std::vector<std::string> logs;
    };
    const Case cases[] = {
        {{"/dev/ttyUSB0", "/dev/ttyUSB1", "3"},
         {"dev_ttyUSB0.log", "dev_ttyUSB1.log", "COM3_.log"}},
        {{"/tmp/x_y", "/tmp/x/y"}, {"tmp_x_y.log", "tmp_x_y-2.log"}},
        {{"/dev/ttyUSB0", "//dev/ttyUSB0"}, {"dev_ttyUSB0.log", "dev_ttyUSB0-2.log"}},
        {{"/a/b", "/a_b", "/a:b"}, {"a_b.log", "a_b-2.log", "a_b-3.log"}},
        // A port's own name is never taken by another's numbered one, wherever it stands.
        {{"/a/b", "/a_b", "/a_b-2"}, {"a_b.log", "a_b-3.log", "a_b-2.log"}},
        {{"/a_b-2", "/a/b", "/a_b"}, {"a_b-2.log", "a_b.log", "a_b-3.log"}},
        // One file where the file system folds letter case.
        {{"/dev/ttyA", "/dev/ttya"}, {"dev_ttyA.log", "dev_ttya-2.log"}},
        {{"/aux.x", "//aux.x"}, {"aux_.x.log", "aux_.x-2.log"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(PortLogNames(c.ports), c.logs) << testing::PrintToString(c.ports);
    }
}

// Standard output and standard error share the log: a progress line may follow the console's
// progress text on its line, and a chunk may end inside one.
TEST(FleetStatus, ProgressFollowsTheLogAcrossChunks) {
    LogProgress progress;
    ScanLogProgress("Loading : 1000 Byte\n\nWriting User configuration...    0 %", &progress);
    EXPECT_EQ(progress.percent, -1);
    ScanLogProgress("tarnix: progress 0 %\n\rWriting User configuration...   42 %tarnix: pro",
                    &progress);
    EXPECT_EQ(progress.percent, 0);
    ScanLogProgress("gress 4", &progress);  // cut before " %"
    EXPECT_EQ(progress.percent, 0);
    ScanLogProgress("2 %\n", &progress);
    EXPECT_EQ(progress.percent, 42);
    ScanLogProgress("tarnix: progress 100 %\ntarnix: completed: module 0x89 on COM1; 9 comm",
                    &progress);
    EXPECT_EQ(progress.percent, 100);
}

TEST(FleetStatus, ReasonIsWhatTheOutcomeLineSays) {
    struct Case {
        std::string log;
        std::string reason;
    };
    const Case cases[] = {
        {"Return Value Daten: 0x15\t line number 5\n:10C030009FAF\x03\n"
         "tarnix: failed: the Data command for line 5 was rejected with 0x15: module 0x89 on "
         "COM1; 7 commands\n\n Press any key to exit.\n",
         "the Data command for line 5 was rejected with 0x15"},
        {"COM port not opened !\ntarnix: not done: the port could not be opened: module 0x89 on "
         "/dev/ttyUSB7\n",
         "the port could not be opened"},
        {"tarnix: progress 3 %\ntarnix: interrupted by SIGINT; module released\n"
         "tarnix: interrupted by SIGINT: module 0x12 on COM2; 3 commands\n",
         "interrupted by SIGINT"},
        {"tarnix: progress 3 %\n", "exit status 1"},
        {"tarnix: failed: cut before its line end: module 0x89 on COM1", "exit status 1"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FailureReason(c.log, 1), c.reason) << c.log;
    }
}

TEST(FleetStatus, OutcomeOfExitStatus) {
    EXPECT_EQ(OutcomeOfExit(0, true), PortOutcome::Completed);
    EXPECT_EQ(OutcomeOfExit(2, false), PortOutcome::NotOpened);
    EXPECT_EQ(OutcomeOfExit(1, false), PortOutcome::Failed);
    EXPECT_EQ(OutcomeOfExit(1, true), PortOutcome::Interrupted);
    EXPECT_EQ(OutcomeOfExit(143, false), PortOutcome::Interrupted);
}

TEST(FleetCommandLine, RefusesWhatTarnixWouldMisread) {
    auto parses = [](std::vector<const char*> args) {
        args.insert(args.begin(), "tarnix-fleet");
        FleetCommandLine line;
        std::string error;
        return ParseFleetCommandLine(static_cast<int>(args.size()), args.data(), &line, &error);
    };
    EXPECT_TRUE(parses({"--modnr", "0x12", "--mode=1", "f.upd", "/dev/ttyUSB0", "3"}));
    EXPECT_FALSE(parses({"--modnr", "0x123", "f.upd", "1"}));
    EXPECT_FALSE(parses({"--modnr", "89", "f.upd", "1"}));
    EXPECT_FALSE(parses({"--mode", "2", "f.upd", "1"}));
    EXPECT_TRUE(parses({"-h"}));
    EXPECT_TRUE(parses({"f.upd", "COM12", "ttyUSB3"}));
    EXPECT_FALSE(parses({"f.upd", "12"}));
    EXPECT_FALSE(parses({"f.upd", "03"}));
    EXPECT_FALSE(parses({"f.upd", "1", "1"}));
    EXPECT_FALSE(parses({"f.upd", "3", "COM3"}));
    EXPECT_FALSE(parses({"f.upd", "ttyUSB0", "/dev/ttyUSB0"}));
    EXPECT_FALSE(parses({"-v", "f.upd", "1"}));
    EXPECT_FALSE(parses({"f.upd"}));
    EXPECT_FALSE(parses({"--verbose", "f.upd", "1"}));
}

}  // namespace
