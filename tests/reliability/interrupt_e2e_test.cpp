// Interrupts end a run at its next safe point and release the module as after a failure there;
// a second interrupt ends it at once; a broken standard output and a stop never end it.

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "e2e_expectations.h"
#include "run_against_module.h"
#include "temp_dir_test.h"
#include "update_file_builder.h"

using namespace tarnix;

namespace {

const std::string PROGRESS = "Writing User configuration...";
const std::string DOWNLOAD_PROGRESS = "Writing primary configuration...";
// The whole record file below: a Program command after 16 records and at the end record.
const std::string COMPLETE_RUN = "B" + std::string(16, 'C') + "D" + std::string(4, 'C') + "DEF";

// Long enough for the program to have sent the frame that the module leaves unanswered. On a
// machine so loaded that it has not, the interrupt meets the safe point before that frame
// instead; the checks accept both.
constexpr int SETTLE_MS = 300;

// Ended by the interrupt, not killed by it nor by the time limit, and said so on stderr.
void ExpectInterrupted(const ProgramRun& run, int exitCode, const std::string& saying) {
    EXPECT_EQ(run.termSignal, 0) << DescribeRun(run);
    EXPECT_EQ(run.exitCode, exitCode) << DescribeRun(run);
    EXPECT_EQ(run.stdoutText.find("TIMEOUT !!!"), std::string::npos)
        << "the wait ran out" << DescribeRun(run);
    EXPECT_NE(run.stderrText.find(saying), std::string::npos) << run.stderrText;
}

std::string LastLine(std::string text) {
    if (!text.empty() && text.back() == '\n') {
        text.pop_back();
    }
    size_t newline = text.rfind('\n');
    return newline == std::string::npos ? text : text.substr(newline + 1);
}

class Interrupts : public TempDirTest {
protected:
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

    static ProgramLaunch Tarnix(const std::string& file, const std::string& progMode) {
        ProgramLaunch launch;
        launch.program = BinaryPath("tarnix");
        launch.args = {"0x89", file, progMode, "{port}"};
        launch.stdinText = "\n";
        launch.timeLimitSeconds = 30;
        return launch;
    }
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

    ExpectInterrupted(run, 128 + c.signal,
                      std::string("tarnix: interrupted by ") + c.name + "; module released\n");
    // Record mode leaves through End, line mode without it; Finish in both.
    std::string way = c.lineMode ? "F" : "EF";
    std::string sequence = CommandSequence(run.module);
    EXPECT_TRUE(sequence == "BCCCC" + way || sequence == "BCCC" + way) << sequence;
    EXPECT_TRUE(std::all_of(run.module.frames.begin(), run.module.frames.end(),
                            [](const ModuleFrame& frame) { return frame.closed; }));
    EXPECT_EQ(run.stdoutText.find(KEY_PROMPT), std::string::npos) << "no key wait";
    EXPECT_EQ(LastLine(run.stderrText)
                  .rfind(std::string("tarnix: interrupted by ") + c.name + ": module 0x89 on ", 0),
              0u)
        << "the outcome line comes last: " << run.stderrText;
}

INSTANTIATE_TEST_SUITE_P(Signals, FirstInterrupt,
                         testing::Values(InterruptCase{SIGINT, "SIGINT", false},
                                         InterruptCase{SIGTERM, "SIGTERM", true},
                                         InterruptCase{SIGHUP, "SIGHUP", false},
                                         InterruptCase{SIGQUIT, "SIGQUIT", true}),
                         [](const auto& testInfo) { return std::string(testInfo.param.name); });

// The first interrupt leads to End, which the module leaves unanswered; the second one comes
// during that wait and ends the program there, without Finish.
TEST_F(Interrupts, SecondInterruptEndsTheProgramAtOnce) {
    ProgramLaunch launch = Tarnix(RecordFile(), "0");
    launch.signals = {{SIGINT, PROGRESS, 4, SETTLE_MS}, {SIGINT, "", 1, 2 * SETTLE_MS}};
    ModuleConfig config;
    config.faults = {SilentAt(FaultPoint::Data, 4), SilentAt(FaultPoint::End, 1)};
    ProgramRun run = RunAgainstModule(launch, config);

    ExpectInterrupted(run, 130, "tarnix: interrupted again by SIGINT; ended at once\n");
    std::string sequence = CommandSequence(run.module);
    EXPECT_EQ(sequence.rfind("BCCC", 0), 0u) << sequence;
    EXPECT_EQ(sequence.find('F'), std::string::npos) << "no Finish after the second: " << sequence;
}

// Neither a reader of standard output that has gone (SIGPIPE at the first flush) nor a stop
// (Ctrl-Z) and a continue in the middle ends or spoils the update: the waits resume.
TEST_F(Interrupts, MissingReaderAndStopNeitherEndNorSpoilTheUpdate) {
    const std::string file = RecordFile();
    ProgramLaunch noReader = Tarnix(file, "0");
    noReader.stdoutMode = StdoutMode::BrokenPipe;
    ProgramLaunch stopped = Tarnix(file, "0");
    stopped.signals = {{SIGTSTP, PROGRESS, 4, 0}, {SIGCONT, "", 1, SETTLE_MS}};
    for (const ProgramLaunch* launch : {&noReader, &stopped}) {
        SCOPED_TRACE(launch == &stopped ? "stopped and continued" : "no reader");
        ProgramRun run = RunAgainstModule(*launch, {});
        EXPECT_EQ(run.termSignal, 0) << DescribeRun(run);
        EXPECT_EQ(run.exitCode, 0) << DescribeRun(run);
        EXPECT_EQ(CommandSequence(run.module), COMPLETE_RUN);
        EXPECT_TRUE(ModuleRunPassed(run.module, nullptr)) << DescribeRun(run);
        if (launch == &stopped) {  // the other one's output has no reader
            EXPECT_NE(run.stdoutText.find(KEY_PROMPT), std::string::npos);
        }
    }
}

// The module leaves the third block unanswered; the interrupt ends that wait, the file is
// closed and nothing more goes out: no further block, no ETX, no timestamp.
TEST_F(Interrupts, DownloadEndsAfterTheBlockUnderWay) {
    std::string path = Write("acex.ttf", std::string(10 * 256, 'a'));
    const std::pair<int, std::string> interrupts[] = {{SIGTERM, "SIGTERM"}, {SIGQUIT, "SIGQUIT"}};
    for (const auto& [signalNumber, name] : interrupts) {
        SCOPED_TRACE(name);
        ProgramLaunch launch;
        launch.program = BinaryPath("tarnix-service");
        launch.args = {"{port}", "download", path, "status"};
        launch.timeLimitSeconds = 30;
        // The 0 % line, then one line per block before its checksum.
        launch.signals = {{signalNumber, DOWNLOAD_PROGRESS, 3, SETTLE_MS}};
        ModuleConfig config;
        config.faults = {SilentAt(FaultPoint::DownloadBlock, 3)};
        ProgramRun run = RunAgainstModule(launch, config);

        ExpectInterrupted(run, 128 + signalNumber,
                          "tarnix-service: interrupted by " + name + "; port released\n");
        ASSERT_EQ(run.module.downloads.size(), 1u) << DescribeRun(run);
        size_t sent = run.module.downloads[0].data.size();
        EXPECT_TRUE(sent == 3 * 256 || sent == 2 * 256) << sent << " bytes: whole blocks only";
        EXPECT_FALSE(run.module.downloads[0].closed);
        EXPECT_TRUE(run.module.timestamps.empty());
        EXPECT_EQ(CountFrames(run.module, 'S'), 0u) << "the status query is not run";
    }
}

}  // namespace
