#include "fleet_status.h"
#include "fleet_report.h"
#include "outcome_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fleet_cli.h"

using namespace tarnix;

namespace {

TEST(FleetStatus, LogNamesAreSafeFileNames) {
    EXPECT_EQ(PortLogName("/dev/ttyUSB0"), "dev_ttyUSB0.log");
    EXPECT_EQ(PortLogName("/dev/serial/by-id/usb-FTDI:1"), "dev_serial_by-id_usb-FTDI_1.log");
    EXPECT_EQ(PortLogName("3"), "COM3_.log");  // COM3.log would be the port on Windows
    EXPECT_EQ(PortLogName("/dev/nul"), "dev_nul.log");
    EXPECT_EQ(PortLogName("aux.x"), "aux_.x.log");
}

// A long device path still gets a log whose name a file system takes (255 bytes), readable at
// both ends, and two long paths that differ only in the middle get two logs.
TEST(FleetStatus, LongPortNamesGetBoundedLogNames) {
    const std::string middle(200, 'm');
    const std::string a = "/tmp/links/" + middle + "a" + middle + "/usb-FTDI_A1B2C3-if00-port0";
    const std::string b = "/tmp/links/" + middle + "b" + middle + "/usb-FTDI_A1B2C3-if00-port0";
    for (const std::string& port : {a, b, "/dev/" + std::string(244, 'x')}) {
        std::string name = PortLogName(port);
        EXPECT_LE(name.size(), 100u + std::string("-99.log").size()) << name;
        EXPECT_EQ(name.rfind("tmp_links_mmm", 0) == 0 || name.rfind("dev_xxx", 0) == 0, true)
            << name;
    }
    EXPECT_NE(PortLogName(a), PortLogName(b));
    EXPECT_NE(PortLogName(a).find("usb-FTDI_A1B2C3-if00-port0-"), std::string::npos)
        << PortLogName(a);
    const std::string exactlyBound = "/" + std::string(96, 'y');
    EXPECT_EQ(PortLogName(exactlyBound), std::string(96, 'y') + ".log");
    EXPECT_EQ(PortLogNames({a, a}).back().size(), PortLogName(a).size() + 2);
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
    LogProgress windows;  // tarnix.exe ends its lines with CR LF
    ScanLogProgress("tarnix: progress 7 %\r\n", &windows);
    EXPECT_EQ(windows.percent, 7);
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
    EXPECT_FALSE(parses({"--json", "a", "--json", "b", "f.upd", "1"}));
    EXPECT_TRUE(parses({"--json", "-", "--events", "e", "f.upd", "1"}));
    EXPECT_FALSE(parses({"--json", "-", "--events", "-", "f.upd", "1"}));
}

struct LeftCase {
    double elapsed;
    long percent;
    double estimate;
    double left;
};

TEST(EstimatedSecondsLeft, ScalesTheElapsedTimeOnceThereIsProgress) {
    const LeftCase cases[] = {
        {0.0, -1, 12.5, 12.5},  // no progress line yet: the file's estimate
        {3.0, 0, 12.5, 12.5},  {2.0, 25, 12.5, 6.0}, {5.0, 50, 99.0, 5.0}, {9.0, 100, 12.5, 0.0},
    };
    for (const LeftCase& c : cases) {
        EXPECT_DOUBLE_EQ(EstimatedSecondsLeft(c.elapsed, c.percent, c.estimate), c.left)
            << c.elapsed << " s at " << c.percent << " %";
    }
}

struct FiguresCase {
    const char* log;
    bool found;
    unsigned long commands;
    unsigned long dataBytes;
    bool hasMeanReply;
    double meanReplyMs;
};

TEST(LastOutcomeFigures, ReadsTheFiguresOfTheLastOutcomeLine) {
    const FiguresCase cases[] = {
        {"tarnix: completed: module 0x89 on /dev/pts/3; 2725 commands, 112672 data bytes, 0.6 "
         "s, mean reply 0.1 ms\n",
         true, 2725, 112672, true, 0.1},
        {"tarnix: not done: the port could not be opened: module 0x89 on COM3; 0 commands, 0 "
         "data bytes, 0.0 s\n",
         true, 0, 0, false, 0},
        // A port with "; " in its name, and slow replies after the figures.
        {"tarnix: failed: x: module 0x89 on /tmp/a; b; 7 commands, 70 data bytes, 1.0 s, mean "
         "reply 16.0 ms; replies are slow\n",
         true, 7, 70, true, 16.0},
        {"tarnix: progress 5 %\n", false, 0, 0, false, 0},
        {"tarnix: completed: module 0x89 on COM1; 1 commands, 2 data bytes, 0.1 s\n"
         "tarnix: failed: y: module 0x89 on COM1; 3 commands, 4 data bytes, 0.2 s\n",
         true, 3, 4, false, 0},
        {"", false, 0, 0, false, 0},
    };
    for (const FiguresCase& c : cases) {
        OutcomeFigures figures = LastOutcomeFigures(c.log);
        EXPECT_EQ(figures.found, c.found) << c.log;
        EXPECT_EQ(figures.commands, c.commands) << c.log;
        EXPECT_EQ(figures.dataBytes, c.dataBytes) << c.log;
        EXPECT_EQ(figures.hasMeanReply, c.hasMeanReply) << c.log;
        EXPECT_DOUBLE_EQ(figures.meanReplyMs, c.meanReplyMs) << c.log;
    }
}

TEST(FleetReport, GivesNullForWhatIsAbsentAndUtcTimes) {
    EXPECT_EQ(IsoUtcTime(1796825318), "2026-12-09T14:08:38Z");
    FleetPortRecord failed;
    failed.port = "COM3";
    failed.outcome = PortOutcome::NotOpened;
    failed.startTime = failed.endTime = 0;
    FleetPortRecord done = failed;
    done.reason = "why";
    done.figures = {.found = true, .commands = 5, .dataBytes = 6};
    std::string json = FleetReportJson({}, {failed, done});
    EXPECT_NE(json.find("\"reason\": null, \"start\": \"1970-01-01T00:00:00Z\""), std::string::npos)
        << json;
    EXPECT_NE(json.find("\"commands\": null, \"data_bytes\": null, \"mean_reply_ms\": null"),
              std::string::npos)
        << json;
    EXPECT_NE(json.find("\"reason\": \"why\""), std::string::npos) << json;
    EXPECT_NE(json.find("\"commands\": 5, \"data_bytes\": 6, \"mean_reply_ms\": null"),
              std::string::npos)
        << json;
    EXPECT_NE(json.find("\"file_sha256\": null, \"file_header_crc\": null, \"format\": 2"),
              std::string::npos)
        << json;
}

}  // namespace
