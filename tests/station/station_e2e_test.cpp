// tarnix-station end to end: the real station, running the real tarnix beside it, watching a
// folder in which links to emulated modules appear and go as adapters would in
// /dev/serial/by-id.

#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "fleet_status.h"
#include "python_json.h"
#include "run_against_module.h"
#include "station_harness.h"

using namespace tarnix;

namespace {

// Every line one JSON object, by Python's own parser; true without Python.
bool EveryLineIsJson(const std::string& path) {
    if (!PythonAvailable()) {
        return true;
    }
    ProgramLaunch launch;
    launch.program = "/usr/bin/env";
    launch.args = {"python3", "-c",
                   "import json, sys\n"
                   "for line in open(sys.argv[1], encoding='utf-8'):\n"
                   "    assert isinstance(json.loads(line), dict)\n",
                   path};
    return RunProgram(launch).exitCode == 0;
}

std::string LogOf(const std::string& dir, long unit, const std::string& link) {
    return ReadFileBytes(dir + "/logs/unit-" + std::to_string(unit) + "-" + PortLogName(link));
}

// Two modules arrive, one rejects a record; the one left in is not updated again; pulled out
// and put back, it is a new unit. A file that is no device is never a unit. /status and /metrics
// say the same as the journal.
TEST_F(StationTest, UpdatesEachArrivalOnceAndRecordsTheFailure) {
    Write("slots/notes.txt", "a file that the pattern matches is no port\n");
    StartStation();
    std::future<std::string> events = FollowEvents(2);
    PluggedModule good = Plug("usb-A", {"--expect", EXAMPLE});
    PluggedModule bad = Plug("usb-B", {"--reject", "data:5:15"});
    ASSERT_TRUE(WaitForJournalLines(2)) << ReadFileBytes(dir_ + "/station.err");
    // Three more looks at the folder: the module left in is not taken for a new one.
    std::this_thread::sleep_for(std::chrono::milliseconds(1600));
    std::vector<std::string> lines = JournalLines();
    ASSERT_EQ(lines.size(), 2u);
    for (const std::string& line : lines) {
        bool isGood = MemberText(line, "port") == good.link;
        EXPECT_EQ(MemberText(line, "outcome"), isGood ? "completed" : "failed") << line;
        EXPECT_EQ(MemberText(line, "slot"), pattern_) << line;
        EXPECT_EQ(MemberText(line, "reason"),
                  isGood ? "null" : "the Data command for line 5 was rejected with 0x15")
            << line;
    }
    std::string status = Fetch("/status");
    EXPECT_NE(status.find("\"completed\": 1, \"failed\": 1"), std::string::npos) << status;
    std::string metrics = Fetch("/metrics");
    EXPECT_NE(metrics.find("tarnix_station_units_total{outcome=\"completed\"} 1\n"),
              std::string::npos)
        << metrics;
    EXPECT_NE(metrics.find("tarnix_station_update_seconds_count 2\n"), std::string::npos);
    EXPECT_EQ(Fetch("/journal"), ReadFileBytes(journal_));
    // Every unit's start, progress, end and record on the stream, each with its slot and unit.
    std::string stream = events.get();
    for (const char* event : {"start", "progress", "end"}) {
        for (const char* unit : {"1", "2"}) {
            std::string line = "data: {\"slot\": \"" + pattern_ + "\", \"unit\": " + unit +
                               ", \"event\": \"" + event + "\"";
            EXPECT_NE(stream.find(line), std::string::npos) << line << "\n" << stream;
        }
    }
    EXPECT_NE(stream.find("data: {\"event\": \"record\", \"record\": " + lines[0] + "}\n\n"),
              std::string::npos)
        << stream;
    Unplug(&good);
    EXPECT_NE(good.module.verdict.find("Start 1,"), std::string::npos) << good.module.verdict;
    EXPECT_NE(good.module.verdict.find("image arrived whole"), std::string::npos);
    ASSERT_TRUE(WaitFor([this] {
        return Fetch("/status").find("usb-A") == std::string::npos ||
               Fetch("/status").find("\"present\": false") != std::string::npos;
    }));
    PluggedModule again = Plug("usb-A", {"--expect", EXAMPLE});
    ASSERT_TRUE(WaitForJournalLines(3)) << ReadFileBytes(dir_ + "/station.err");
    EXPECT_EQ(MemberText(JournalLines()[2], "unit"), "3");
    EXPECT_EQ(MemberText(JournalLines()[2], "outcome"), "completed");
    EXPECT_EQ(StopStation(SIGTERM), 1) << stationOutput_;  // one unit failed
    EXPECT_NE(stationOutput_.find("unit 3  " + again.link + "  completed"), std::string::npos)
        << stationOutput_;
    Unplug(&bad);
    Unplug(&again);
    EXPECT_TRUE(EveryLineIsJson(journal_)) << ReadFileBytes(journal_);
}

// A stop mid-update: the station passes it on, tarnix releases the module with Finish, the
// record says interrupted.
TEST_F(StationTest, StopMidUpdateReleasesTheModuleAndRecordsInterrupted) {
    StartStation();
    // The 100th record goes unanswered: the update is still running when the stop comes.
    PluggedModule plugged = Plug("usb-A", {"--silent", "data:100"});
    ASSERT_TRUE(WaitFor([&] {
        return LogOf(dir_, 1, plugged.link).find("Writing User configuration...    1 %") !=
               std::string::npos;
    })) << ReadFileBytes(dir_ + "/station.err");
    EXPECT_EQ(StopStation(SIGINT), 1);
    std::vector<std::string> lines = JournalLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(MemberText(lines[0], "outcome"), "interrupted") << lines[0];
    EXPECT_EQ(MemberText(lines[0], "exit_status"), std::to_string(128 + SIGINT)) << lines[0];
    Unplug(&plugged);
    EXPECT_NE(plugged.module.verdict.find("Finish 1)"), std::string::npos)
        << plugged.module.verdict;
}

// Killed between units, the journal is whole; a partial line (as a power cut in a write
// leaves) is set aside at the restart, and the unit numbers go on.
TEST_F(StationTest, RestartAfterAKillGoesOnWithTheUnitNumbers) {
    StartStation();
    PluggedModule first = Plug("usb-A", {"--expect", EXAMPLE});
    ASSERT_TRUE(WaitForJournalLines(1));
    StopStation(SIGKILL);
    Unplug(&first);
    EXPECT_TRUE(EveryLineIsJson(journal_)) << ReadFileBytes(journal_);
    std::string whole = ReadFileBytes(journal_);
    const std::string partial = "{\"unit\": 7, \"slot\": \"cut sh";
    ASSERT_TRUE(WriteFileBytes(journal_, whole + partial));
    StartStation({"--units", "1"});
    PluggedModule second = Plug("usb-B", {"--expect", EXAMPLE});
    int status = tarnix::WaitFor(station_.pid, std::chrono::seconds(60));
    close(station_.stdoutPipe);
    station_ = Spawned();
    EXPECT_EQ(status, 0) << ReadFileBytes(dir_ + "/station.err");
    std::vector<std::string> lines = JournalLines();
    ASSERT_EQ(lines.size(), 2u) << ReadFileBytes(journal_);
    EXPECT_EQ(ReadFileBytes(journal_).rfind(whole, 0), 0u);
    EXPECT_EQ(MemberText(lines[1], "unit"), "2");
    EXPECT_EQ(MemberText(lines[1], "outcome"), "completed");
    EXPECT_TRUE(EveryLineIsJson(journal_)) << ReadFileBytes(journal_);
    std::string err = ReadFileBytes(dir_ + "/station.err");
    size_t at = err.find(journal_ + ".partial-");
    ASSERT_NE(at, std::string::npos) << err;
    std::string aside = err.substr(at, err.find(',', at) - at);
    aside = aside.substr(0, aside.find(" "));
    EXPECT_EQ(ReadFileBytes(aside), partial) << aside;
    Unplug(&second);
}

// A fixed slot: the module is there while it answers the status query. Left in after its
// update it is not updated again; once it has not answered for 2 s it is gone, and the next
// module that answers is a new unit.
TEST_F(StationTest, FixedSlotUpdatesEachModuleThatAnswersOnce) {
    const std::string fixture = slots_ + "/fixture";
    StartStation({}, {fixture});
    PluggedModule first = Plug("fixture", {"--expect", EXAMPLE, "--status", "0x123456"});
    ASSERT_TRUE(WaitForJournalLines(1)) << ReadFileBytes(dir_ + "/station.err");
    std::this_thread::sleep_for(std::chrono::milliseconds(1600));  // three more status queries
    ASSERT_EQ(JournalLines().size(), 1u);
    EXPECT_EQ(MemberText(JournalLines()[0], "outcome"), "completed") << JournalLines()[0];
    EXPECT_EQ(MemberText(JournalLines()[0], "status"), std::to_string(0x123456));
    Unplug(&first);
    EXPECT_NE(first.module.verdict.find("(Start 1,"), std::string::npos) << first.module.verdict;
    EXPECT_NE(first.module.verdict.find("image arrived whole"), std::string::npos);
    ASSERT_TRUE(WaitFor(
        [this] { return Fetch("/status").find("\"state\": \"waiting\"") != std::string::npos; }));
    PluggedModule second = Plug("fixture", {"--expect", EXAMPLE});
    ASSERT_TRUE(WaitForJournalLines(2)) << ReadFileBytes(dir_ + "/station.err");
    EXPECT_EQ(MemberText(JournalLines()[1], "unit"), "2");
    EXPECT_EQ(MemberText(JournalLines()[1], "outcome"), "completed");
    EXPECT_EQ(StopStation(SIGTERM), 0) << stationOutput_;
    Unplug(&second);
    EXPECT_NE(second.module.verdict.find("(Start 1,"), std::string::npos) << second.module.verdict;
}

struct Refusal {
    const char* name;
    std::vector<std::string> args;  // before FILE and the slot
    std::vector<std::string> slots;
    const char* message;
};

void PrintTo(const Refusal& c, std::ostream* os) {
    *os << c.name;
}

class StationRefusals : public TempDirTest, public testing::WithParamInterface<Refusal> {};

// Refused before anything is opened: no journal, no log folder.
TEST_P(StationRefusals, ExitsWithUsageAndOpensNothing) {
    const Refusal& c = GetParam();
    ProgramLaunch launch;
    launch.program = BinaryPath("tarnix-station");
    launch.args = {"--journal", dir_ + "/journal.jsonl", "--log-dir", dir_ + "/logs"};
    launch.args.insert(launch.args.end(), c.args.begin(), c.args.end());
    launch.args.push_back(EXAMPLE);
    launch.args.insert(launch.args.end(), c.slots.begin(), c.slots.end());
    ProgramRun run = RunProgram(launch);
    EXPECT_EQ(run.exitCode, 64) << DescribeRun(run);
    EXPECT_NE(run.stderrText.find(c.message), std::string::npos) << run.stderrText;
    EXPECT_EQ(access((dir_ + "/journal.jsonl").c_str(), F_OK), -1);
    EXPECT_EQ(access((dir_ + "/logs").c_str(), F_OK), -1);
}

INSTANTIATE_TEST_SUITE_P(
    CommandLines, StationRefusals,
    testing::Values(Refusal{"UnknownOption", {"--slots"}, {"/dev/x*"}, "unknown option '--slots'"},
                    Refusal{"BadUnits", {"--units", "0"}, {"/dev/x*"}, "bad value '0' for --units"},
                    Refusal{"BadServe", {"--serve", "127.0.0.1"}, {"/dev/x*"}, "for --serve"},
                    Refusal{"BadModNr", {"--modnr", "0x123"}, {"/dev/x*"}, "for --modnr"},
                    Refusal{"SlotNotUnderstood", {}, {"03"}, "'03' is no slot"},
                    Refusal{"SlotTwice", {}, {"/dev/x*", "/dev/x*"}, "given twice"},
                    Refusal{"FixedPortTwice", {}, {"COM3", "3"}, "given twice (COM3)"},
                    Refusal{"UsbPatternTwice", {}, {"usb:FT*", "usb:FT*"}, "given twice"}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST_F(StationTest, AnUnsoundFileIsRefusedBeforeAnySlotIsWatched) {
    std::string damaged = Write("damaged.upd", "no header here\n");
    ProgramLaunch launch;
    launch.program = BinaryPath("tarnix-station");
    launch.args = {"--journal", journal_, damaged, pattern_};
    ProgramRun run = RunProgram(launch);
    EXPECT_EQ(run.exitCode, 1) << DescribeRun(run);
    EXPECT_NE(run.stderrText.find("is not sound; no port was touched"), std::string::npos);
    EXPECT_EQ(access(journal_.c_str(), F_OK), -1);
}

}  // namespace
