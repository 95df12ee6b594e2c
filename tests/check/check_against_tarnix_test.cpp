// tarnix-check counts what tarnix will send; here tarnix sends it, to the emulated module, and
// the module's count of frames and bytes must be the check's.

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "run_against_module.h"
#include "temp_dir_test.h"
#include "update_check.h"
#include "update_file_builder.h"

using namespace tarnix;

namespace {

struct CompareCase {
    const char* name;
    std::string file;  // the update file's bytes; empty: the example
};

std::vector<CompareCase> CompareCases() {
    std::vector<std::string> segments = MakeRecordLines(0xFFC0, PatternBytes(200, 1));
    segments.push_back(MakeEndRecord());
    std::vector<std::string> small = MakeRecordLines(0x100, PatternBytes(100, 2), 10);
    small.insert(small.begin() + 3, MakeHexRecord(5, 0, {0, 0, 1, 0}));  // not forwarded
    small.push_back(MakeEndRecord());
    std::vector<std::string> tooLong = MakeRecordLines(0, PatternBytes(48, 3));
    tooLong.insert(tooLong.begin() + 1, ":" + std::string(300, '0'));
    tooLong.push_back(MakeEndRecord());
    std::vector<std::string> zeroBlocks = MakeRecordLines(0, PatternBytes(64, 4));
    zeroBlocks.push_back(MakeEndRecord());
    return {{"example", ""},
            {"blocks of 0 bytes", BuildUpdateFile(0, zeroBlocks)},
            {"small blocks, odd records", BuildUpdateFile(24, small)},
            {"across a segment", BuildUpdateFile(256, segments)},
            {"a record too long", BuildUpdateFile(256, tooLong)}};
}

class CheckAgainstTarnix : public TempDirTest {
protected:
    void Compare(const std::string& name, const std::string& path) {
        SCOPED_TRACE(name);
        FileCheck check = CheckUpdateFile(path, {});
        ProgramLaunch launch;
        launch.program = BinaryPath("tarnix");
        launch.args = {"0x89", path, "0", "{port}"};
        launch.timeLimitSeconds = 60;
        ProgramRun run = RunAgainstModule(launch, {});
        ASSERT_EQ(run.exitCode, check.Sound() ? 0 : 1) << DescribeRun(run);
        EXPECT_EQ(CountFrames(run.module, 'C'), check.estimate.dataCommands);
        EXPECT_EQ(CountFrames(run.module, 'D'), check.estimate.programCommands);
        EXPECT_EQ(run.module.received.size(), check.estimate.bytesSent);
        EXPECT_EQ(run.module.sent.size(), check.estimate.replyBytes);
    }
};

TEST_F(CheckAgainstTarnix, CountsWhatTarnixSends) {
    for (const CompareCase& c : CompareCases()) {
        std::string path = c.file.empty() ? TARNIX_SOURCE_DIR "/examples/display-config.upd"
                                          : Write("case.upd", c.file);
        Compare(c.name, path);
    }
}

TEST_F(CheckAgainstTarnix, CountsWhatTarnixSendsForAFileWrittenByObjcopy) {
    std::string records = IntelHexByObjcopy(dir_, PatternBytes(6000, 5));
    if (records.empty()) {
        GTEST_SKIP() << "GNU objcopy is not installed (package binutils)";
    }
    Compare("objcopy", Write("objcopy.upd", MakeUpdateHeader(128) + records));
}

}  // namespace
