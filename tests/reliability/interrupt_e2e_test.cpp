// Interrupts end a run at its next safe point and release the module as after a failure there;
// a second interrupt ends it at once; a broken standard output and a stop never end it.

#include <gtest/gtest.h>

#include <csignal>
#include <ostream>
#include <string>
#include <vector>

#include "run_against_module.h"
#include "update_file_builder.h"

namespace {

const std::string KEY_PROMPT = "\n Press any key to exit.\n";
const std::string PROGRESS = "Writing User configuration...";
const std::string DOWNLOAD_PROGRESS = "Writing primary configuration...";
// The whole record file below: a Program command after 16 records and at the end record.
const std::string COMPLETE_RUN = "B" + std::string(16, 'C') + "D" + std::string(4, 'C') + "DEF";

// Long enough for the program to have sent the frame that the module leaves unanswered. On a
// machine so loaded that it has not, the interrupt meets the safe point before that frame
// instead; the checks accept both.
constexpr int SETTLE_MS = 300;

std::string CommandSequence(const ModuleLog& log) {
    std::string sequence;
    for (const ModuleFrame& frame : log.frames) {
        sequence.push_back(static_cast<char>(frame.command));
    }
    return sequence;
}

bool EveryFrameClosed(const ModuleLog& log) {
    for (const ModuleFrame& frame : log.frames) {
        if (!frame.closed) {
            return false;
        }
    }
    return true;
}

class Interrupts : public testing::Test {
protected:
    void SetUp() override { dir_ = MakeTempDir(); }
    void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }

    // 20 records of 16 bytes; with BlockSize 256 no Program command among the first 16.
    std::string RecordFile() {
        std::vector<std::string> lines = MakeRecordLines(0x1000, PatternBytes(20 * 16, 5));
        lines.push_back(MakeEndRecord());
        return Write("records.upd", BuildUpdateFile(256, lines));
    }

    std::string LineFile() {
        std::string text;
        for (int i = 1; i <= 20; ++i) {
            text += "parameter line " + std::to_string(i) + "\r\n";
        }
        return Write("lines.txt", text);
    }

    std::string Write(const std::string& name, const std::string& content) {
        std::string path = dir_ + "/" + name;
        EXPECT_TRUE(WriteFileBytes(path, content));
        return path;
    }

    static ProgramLaunch Tarnix(const std::string& file, const std::string& progMode) {
        ProgramLaunch launch;
        launch.program = BinaryPath("tarnix");
        launch.args = {"0x89", file, progMode, "{port}"};
        launch.stdinText = "\n";
        launch.timeLimitSeconds = 30;
        return launch;
    }

    std::string dir_;
};

struct InterruptCase {
    int signal;
    const char* name;
    bool lineMode;
};

void PrintTo(const InterruptCase& c, std::ostream* os) {
    *os << c.name << (c.lineMode ? ", line mode" : ", record mode");
}

class FirstInterrupt : public Interrupts, public testing::WithParamInterface<InterruptCase> {};

// The module leaves the fourth Data command unanswered; the interrupt comes during that wait.
TEST_P(FirstInterrupt, EndsTheWaitCompletesTheFrameAndReleasesTheModule) {
    const InterruptCase& c = GetParam();
    ProgramLaunch launch = c.lineMode ? Tarnix(LineFile(), "1") : Tarnix(RecordFile(), "0");
    // Record mode prints a 0 % line before the first record.
    launch.signals = {{c.signal, PROGRESS, c.lineMode ? 3u : 4u, SETTLE_MS}};
    ModuleConfig config;
    config.checkRecords = !c.lineMode;
    config.faults = {SilentAt(FaultPoint::Data, 4)};
    ProgramRun run = RunAgainstModule(launch, config);

    EXPECT_EQ(run.termSignal, 0) << DescribeRun(run);
    EXPECT_EQ(run.exitCode, 128 + c.signal) << DescribeRun(run);
    // Record mode leaves through End, line mode without it; Finish in both.
    std::string way = c.lineMode ? "F" : "EF";
    std::string sequence = CommandSequence(run.module);
    EXPECT_TRUE(sequence == "BCCCC" + way || sequence == "BCCC" + way) << sequence;
    EXPECT_TRUE(EveryFrameClosed(run.module));
    EXPECT_EQ(run.stdoutText.find("TIMEOUT !!!"), std::string::npos) << "the wait ran out";
    EXPECT_EQ(run.stdoutText.find(KEY_PROMPT), std::string::npos) << "no key wait";
    EXPECT_NE(run.stderrText.find(std::string("tarnix: interrupted by ") + c.name +
                                  "; module released\n"),
              std::string::npos)
        << run.stderrText;
}

INSTANTIATE_TEST_SUITE_P(Signals, FirstInterrupt,
                         testing::Values(InterruptCase{SIGINT, "SIGINT", false},
                                         InterruptCase{SIGTERM, "SIGTERM", true},
                                         InterruptCase{SIGHUP, "SIGHUP", false}),
                         [](const auto& testInfo) { return std::string(testInfo.param.name); });

// The first interrupt leads to End, which the module leaves unanswered; the second one comes
// during that wait and ends the program there, without Finish.
TEST_F(Interrupts, SecondInterruptEndsTheProgramAtOnce) {
    ProgramLaunch launch = Tarnix(RecordFile(), "0");
    launch.signals = {{SIGINT, PROGRESS, 4, SETTLE_MS}, {SIGINT, "", 1, 2 * SETTLE_MS}};
    ModuleConfig config;
    config.faults = {SilentAt(FaultPoint::Data, 4), SilentAt(FaultPoint::End, 1)};
    ProgramRun run = RunAgainstModule(launch, config);

    EXPECT_EQ(run.termSignal, 0) << DescribeRun(run);
    EXPECT_EQ(run.exitCode, 130) << DescribeRun(run);
    std::string sequence = CommandSequence(run.module);
    EXPECT_EQ(sequence.rfind("BCCC", 0), 0u) << sequence;
    EXPECT_EQ(sequence.find('F'), std::string::npos) << "no Finish after the second: " << sequence;
    EXPECT_EQ(run.stdoutText.find("TIMEOUT !!!"), std::string::npos) << DescribeRun(run);
    EXPECT_NE(run.stderrText.find("tarnix: interrupted again by SIGINT; ended at once\n"),
              std::string::npos)
        << run.stderrText;
}

// A reader that has gone raises SIGPIPE at the first flush; the update does not notice.
TEST_F(Interrupts, StandardOutputWithoutReaderNeitherEndsNorSpoilsTheUpdate) {
    ProgramLaunch launch = Tarnix(RecordFile(), "0");
    launch.stdoutMode = StdoutMode::BrokenPipe;
    ProgramRun run = RunAgainstModule(launch, {});

    EXPECT_EQ(run.termSignal, 0) << DescribeRun(run);
    EXPECT_EQ(run.exitCode, 0) << DescribeRun(run);
    EXPECT_EQ(CommandSequence(run.module), COMPLETE_RUN);
    EXPECT_TRUE(ModuleRunPassed(run.module, nullptr)) << DescribeRun(run);
}

// A stop (Ctrl-Z) and a continue in the middle: the waits resume and the update completes.
TEST_F(Interrupts, StoppedRunResumesAndCompletes) {
    ProgramLaunch launch = Tarnix(RecordFile(), "0");
    launch.signals = {{SIGTSTP, PROGRESS, 4, 0}, {SIGCONT, "", 1, SETTLE_MS}};
    ProgramRun run = RunAgainstModule(launch, {});

    EXPECT_EQ(run.exitCode, 0) << DescribeRun(run);
    EXPECT_EQ(CommandSequence(run.module), COMPLETE_RUN);
    EXPECT_TRUE(ModuleRunPassed(run.module, nullptr)) << DescribeRun(run);
    EXPECT_NE(run.stdoutText.find(KEY_PROMPT), std::string::npos);
}

// The module leaves the third block unanswered; the interrupt ends that wait, the file is
// closed and nothing more goes out: no further block, no ETX, no timestamp.
TEST_F(Interrupts, DownloadEndsAfterTheBlockUnderWay) {
    std::string path = Write("acex.ttf", std::string(10 * 256, 'a'));
    ProgramLaunch launch;
    launch.program = BinaryPath("tarnix-service");
    launch.args = {"{port}", "download", path, "status"};
    launch.timeLimitSeconds = 30;
    // The 0 % line, then one line per block before its checksum.
    launch.signals = {{SIGTERM, DOWNLOAD_PROGRESS, 3, SETTLE_MS}};
    ModuleConfig config;
    config.faults = {SilentAt(FaultPoint::DownloadBlock, 3)};
    ProgramRun run = RunAgainstModule(launch, config);

    EXPECT_EQ(run.termSignal, 0) << DescribeRun(run);
    EXPECT_EQ(run.exitCode, 128 + SIGTERM) << DescribeRun(run);
    ASSERT_EQ(run.module.downloads.size(), 1u) << DescribeRun(run);
    size_t sent = run.module.downloads[0].data.size();
    EXPECT_TRUE(sent == 3 * 256 || sent == 2 * 256) << sent << " bytes: whole blocks only";
    EXPECT_FALSE(run.module.downloads[0].closed);
    EXPECT_TRUE(run.module.timestamps.empty());
    EXPECT_EQ(CountFrames(run.module, 'S'), 0u) << "the status query is not run";
    EXPECT_EQ(run.stdoutText.find("TIMEOUT !!!"), std::string::npos) << DescribeRun(run);
    EXPECT_NE(run.stderrText.find("tarnix-service: interrupted by SIGTERM; port released\n"),
              std::string::npos)
        << run.stderrText;
}

}  // namespace
