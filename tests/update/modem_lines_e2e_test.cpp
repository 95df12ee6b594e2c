// DTR tells a module that a program holds the line: the program keeps it low while it works and
// lowers it again when it lets the port go. A pseudo-terminal has no modem lines, so the
// modem-line library of tests/wine is preloaded: it keeps the lines of the pseudo-terminal and
// logs every change the program makes to them.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "run_against_module.h"
#include "temp_dir_test.h"
#include "wine_launch.h"

using namespace tarnix;

namespace {

const std::string FIRST_REPLY = "-- the module's first reply --";

std::vector<std::string> ReadLines(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

class ModemLines : public TempDirTest {
protected:
    void SetUp() override {
        SKIP_UNDER_WINE("the Windows programs have their own test of the modem lines");
        TempDirTest::SetUp();
        const char* asan = std::getenv("ASAN_OPTIONS");
        savedAsan_ = asan != nullptr ? asan : "";
        // The library comes before a sanitizer's runtime in the preload order.
        setenv("ASAN_OPTIONS", (savedAsan_ + ":verify_asan_link_order=0").c_str(), 1);
        setenv("LD_PRELOAD", MODEM_LINES_LIBRARY, 1);
        setenv("TARNIX_WINE_MODEM_LOG", (dir_ + "/modem.log").c_str(), 1);
    }
    void TearDown() override {
        unsetenv("LD_PRELOAD");
        unsetenv("TARNIX_WINE_MODEM_LOG");
        setenv("ASAN_OPTIONS", savedAsan_.c_str(), 1);
        TempDirTest::TearDown();
    }
    std::string savedAsan_;
};

// The log gets a mark while the program waits for its first reply: what the lines do after
// the mark is what the program did after its open.
TEST_F(ModemLines, DtrIsLowAfterOpenAndLoweredAgainAtClose) {
    std::string file = Write("lines.txt", "first\r\nsecond\r\n");
    std::string log = dir_ + "/modem.log";
    ProgramLaunch launch;
    launch.program = BinaryPath("tarnix");
    launch.args = {"0x89", file, "1", "{port}"};
    launch.timeLimitSeconds = 30;
    launch.hookAfterReplies = 1;
    launch.hook = [&log] { std::ofstream(log, std::ios::app) << FIRST_REPLY << "\n"; };
    ProgramRun run = RunAgainstModule(launch, {});
    ASSERT_EQ(run.exitCode, 0) << DescribeRun(run);

    std::vector<std::string> entries = ReadLines(log);
    auto mark = std::find(entries.begin(), entries.end(), FIRST_REPLY);
    ASSERT_NE(mark, entries.end()) << "no reply was waited for";
    ASSERT_NE(mark, entries.begin()) << "the open left the lines as they were";
    EXPECT_EQ(*(mark - 1), "DTR=0 RTS=0") << "the open did not lower DTR and RTS";
    ASSERT_NE(mark + 1, entries.end()) << "the close did not lower DTR";
    EXPECT_EQ(entries.back(), "DTR=0 RTS=0");
}

}  // namespace
