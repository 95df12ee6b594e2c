// The update program end to end: the real tarnix binary against the emulated module, with the
// exact bytes on the line and the exact console output.

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <regex>
#include <string>
#include <vector>

#include "e2e_expectations.h"
#include "run_against_module.h"
#include "temp_dir_test.h"
#include "update_file_builder.h"
#include "wine_launch.h"

using namespace tarnix;

namespace {

const std::string DONE = "\rWriting User configuration... done.  \n";
const size_t MAX_TEXT = 299;  // characters of a line that one read takes

class UpdateProgram : public TempDirTest {
protected:
    ProgramRun Run(const std::vector<std::string>& args, const ModuleConfig& config = {},
                   const std::string& stdinText = "\n") {
        ProgramLaunch launch;
        launch.program = BinaryPath("tarnix");
        launch.args = args;
        launch.stdinText = stdinText;
        ProgramRun run = RunAgainstModule(launch, config);
        EXPECT_EQ(run.failure, "");
        EXPECT_FALSE(run.timedOut) << DescribeRun(run);
        return run;
    }

    // Line mode (ProgMode 1) with `content` as lines.txt, against a module that takes any text.
    ProgramRun RunLines(const std::string& content, ModuleConfig config = {},
                        const std::string& modNr = "0x89") {
        config.checkRecords = false;
        return Run({modNr, Write("lines.txt", content), "1", "{port}"}, config);
    }

    // Standard output after the banner, whose shape is checked on the way.
    static std::string AfterBanner(const ProgramRun& run) {
        static const std::regex banner(
            "\nTarnix Version 1\\.1 {29}[A-Z][a-z]{2} [ 1-3][0-9] [0-9]{4}\n[^\n]+\n\n");
        std::smatch match;
        if (!std::regex_search(run.stdoutText, match, banner,
                               std::regex_constants::match_continuous)) {
            ADD_FAILURE() << "no banner in:\n" << run.stdoutText;
            return run.stdoutText;
        }
        return match.suffix();
    }

    static std::string Opened(const ProgramRun& run) {
        return "Opened " + run.portPath + " with 115200 Baud succesfully !\n";
    }
};

// 16-byte data, 16-byte data, address record, data, end record, with BlockSize 256.
std::vector<std::string> ShortRecordFile() {
    return {MakeDataRecord(0x0000, PatternBytes(16, 1)),
            MakeDataRecord(0x0010, PatternBytes(16, 2)), MakeExtendedAddressRecord(0x0001),
            MakeDataRecord(0x0000, PatternBytes(16, 3)), MakeEndRecord()};
}

// The same run against a plain module, against one whose replies are slow (a USB adapter's
// default latency timer: the bytes on the line are the same), and against one with a NAK waiting in
// the port's input before the program opens it: purged with the opening, not read as the reply to
// Start nor met as a stray.
TEST_F(UpdateProgram, RecordModePutsExactlyTheseBytesOnTheLineAndPrintsProgress) {
    std::vector<std::string> lines = ShortRecordFile();
    std::string content = BuildUpdateFile(256, lines);
    std::string path = Write("short.upd", content);
    const Bytes expected = Concat({Command('B'), DataCommand(lines[0]), DataCommand(lines[1]),
                                   Command('D'), DataCommand(lines[2]), DataCommand(lines[3]),
                                   Command('D'), Command('E'), Command('F')});
    // Each data record's payload is its 43 characters and ETX; a hundredth of the size divides.
    const uint32_t divisor = static_cast<uint32_t>(content.size()) / 100;
    ModuleConfig plain, slow, byteWaiting;
    slow.replyLatencyMs = 16;
    byteWaiting.bytesBeforeStart = {0x15};
    for (const ModuleConfig* config : {&plain, &slow, &byteWaiting}) {
        ProgramRun run = Run({"0x89", path, "0", "{port}"}, *config);
        EXPECT_EQ(run.exitCode, 0) << DescribeRun(run);
        EXPECT_EQ(run.module.received, expected);
        EXPECT_TRUE(UpdateShortfalls(run.module).empty()) << DescribeRun(run);
        std::string expectedOut = Opened(run) + "Block Size is : 256\n" +
                                  "\nLoading : " + std::to_string(content.size()) + " Byte from " +
                                  path + "\n" + "\nWriting User configuration...    0 %" +
                                  Progress(44 / divisor) + Progress(88 / divisor) +
                                  Progress(132 / divisor) + DONE + KEY_PROMPT;
        EXPECT_EQ(AfterBanner(run), expectedOut);
        // Nine commands with Finish; the payloads of three data records and the address record.
        std::string outcome = "tarnix: completed: module 0x89 on " + run.portPath +
                              "; 9 commands, " + std::to_string(3 * 44 + lines[2].size() + 1) +
                              " data bytes, ";
        EXPECT_EQ(run.stderrText.rfind(outcome, 0), 0u) << run.stderrText;
        // Whether the latency hint follows depends on the measured replies, and so on how busy
        // the machine is: DescribeUpdateOutcome's own test gives it numbers. Here, only that
        // the replies were counted.
        EXPECT_NE(run.stderrText.find(", mean reply "), std::string::npos) << run.stderrText;
        EXPECT_EQ(run.stderrText.find("unexpected byte"), std::string::npos) << run.stderrText;
        EXPECT_EQ(!run.module.sent.empty() && run.module.sent[0] == 0x15, config == &byteWaiting);
    }
}

TEST_F(UpdateProgram, FortyKilobytesOverTwoSegmentsArriveWhole) {
    std::vector<std::string> lines = MakeRecordLines(0x0001C000, PatternBytes(40 * 1024, 7));
    lines.push_back(":0400000500011C00DA");  // start address: not forwarded
    lines.push_back(MakeEndRecord());
    std::string path = Write("big.upd", BuildUpdateFile(256, lines));
    ProgramRun run = Run({"0x89", path, "0", "{port}"});

    EXPECT_EQ(run.exitCode, 0) << DescribeRun(run);
    MemoryImage expected;
    std::string error;
    ASSERT_TRUE(LoadUpdateImage(path, &expected, &error)) << error;
    EXPECT_TRUE(ModuleRunPassed(run.module, &expected))
        << DescribeModuleVerdict(run.module, &expected);
    EXPECT_EQ(ImageByteCount(run.module.image), 40u * 1024);
    EXPECT_EQ(run.module.image.segments.size(), 1u);  // contiguous across 0x00020000
    EXPECT_EQ(CountFrames(run.module, 'D'), 160u);    // one per 256 bytes
    EXPECT_EQ(CountFrames(run.module, 'C'), 2560u + 2);
    EXPECT_EQ(AfterBanner(run).find("File Header"), std::string::npos);
}

// For a program that runs tarnix: the figure on standard error, each change once, and
// standard output exactly as without.
TEST_F(UpdateProgram, ProgressLinesOnStandardErrorLeaveStandardOutputAsItIs) {
    std::vector<std::string> lines = MakeRecordLines(0, PatternBytes(4000, 8));
    lines.push_back(MakeEndRecord());
    std::string path = Write("progress.upd", BuildUpdateFile(256, lines));
    for (const char* mode : {"0", "1"}) {
        SCOPED_TRACE(mode);
        ProgramRun plain = Run({"0x89", path, mode, "{port}"});
        setenv("TARNIX_PROGRESS", "stderr", 1);
        ProgramRun told = Run({"0x89", path, mode, "{port}"});
        unsetenv("TARNIX_PROGRESS");
        // Each run has a pseudo-terminal of its own: the lines after the one that names it.
        auto afterOpen = [](const ProgramRun& run) {
            std::string text = AfterBanner(run);
            return text.substr(text.find('\n') + 1);
        };
        EXPECT_EQ(afterOpen(told), afterOpen(plain));
        EXPECT_EQ(plain.stderrText.find("progress"), std::string::npos) << plain.stderrText;
        std::vector<long> figures;
        for (size_t at = told.stderrText.find("tarnix: progress "); at != std::string::npos;
             at = told.stderrText.find("tarnix: progress ", at + 1)) {
            figures.push_back(std::strtol(told.stderrText.c_str() + at + 17, nullptr, 10));
        }
        ASSERT_FALSE(figures.empty()) << told.stderrText;
        EXPECT_EQ(figures.back(), 100);
        EXPECT_TRUE(std::adjacent_find(figures.begin(), figures.end(), std::greater_equal<>()) ==
                    figures.end())
            << "each figure once, rising: " << told.stderrText;
    }
}

TEST_F(UpdateProgram, BlockSizeDecidesWhenBlocksAreProgrammed) {
    std::vector<std::string> records = MakeRecordLines(0, PatternBytes(64, 3));  // 4 records
    struct Case {
        uint32_t blockSize;
        std::string sequence;
    };
    for (const Case& c : {Case{32, "BCCDCCDEF"}, Case{0, "BCDCDCDCDEF"},
                          Case{0xFFFFFFFF, "BCCCCEF"}, Case{48, "BCCCDCEF"}}) {
        std::string path = Write("blocks.upd", BuildUpdateFile(c.blockSize, records));
        ProgramRun run = Run({"0x89", path, "0", "{port}"});
        EXPECT_EQ(CommandSequence(run.module), c.sequence) << "BlockSize " << c.blockSize;
        EXPECT_EQ(run.exitCode, 0) << DescribeRun(run);
        if (c.blockSize == 0xFFFFFFFF) {
            EXPECT_NE(run.stdoutText.find("Block Size is : -1\n"), std::string::npos);
        }
    }
}

TEST_F(UpdateProgram, RecordsAfterTheEndRecordAndShortLinesAreHandled) {
    // End record with no open block sends nothing; lines after it go on; blank and short lines
    // are skipped; a file without a final end record leaves its last block unprogrammed.
    std::vector<std::string> lines = {MakeEndRecord(),
                                      "",
                                      MakeDataRecord(0, PatternBytes(16, 1)),
                                      ":10",
                                      MakeEndRecord(),
                                      MakeDataRecord(16, PatternBytes(4, 2))};
    std::string path = Write("odd.upd", BuildUpdateFile(256, lines));
    ProgramRun run = Run({"0x89", path, "0", "{port}"});
    EXPECT_EQ(CommandSequence(run.module), "BCDCEF");
    EXPECT_EQ(run.exitCode, 0) << DescribeRun(run);
    EXPECT_EQ(DataLines(run.module), (std::vector<std::string>{lines[2], lines[5]}));
}

// A file that begins with ':' is an Intel HEX file given without its header: that is said on
// standard error. Other files fail the check without a guess.
TEST_F(UpdateProgram, DamagedOrShortHeaderSendsOnlyFinish) {
    std::string content = BuildUpdateFile(256, ShortRecordFile());
    content[5] ^= 0x20;
    std::string hexOnly;
    for (const std::string& line : ShortRecordFile()) {
        hexOnly += line + "\r\n";
    }
    const std::pair<std::string, bool> cases[] = {
        {content, false}, {"short file", false}, {hexOnly, true}, {MakeEndRecord(), true}};
    for (const auto& [bytes, hinted] : cases) {
        std::string path = Write("damaged.upd", bytes);
        ProgramRun run = Run({"0x89", path, "0", "{port}"});
        EXPECT_EQ(run.module.received, Command('F'));
        EXPECT_EQ(AfterBanner(run),
                  Opened(run) + "File Header CRC incorrect - aborting !!!\n" + KEY_PROMPT);
        EXPECT_EQ(run.exitCode, 1);
        std::string hint = "tarnix: '" + path +
                           "' looks like an Intel HEX file without the 32-byte update header\n";
        EXPECT_EQ(run.stderrText.find(hinted ? hint : "Intel HEX") != std::string::npos, hinted)
            << bytes << run.stderrText;
    }
}

struct Rejection {
    const char* name;
    FaultPoint point;
    unsigned occurrence;
    std::string message;   // as printed, with its line number
    size_t printedLine;    // index of the line printed after the message, or npos
    bool lineAsSent;       // printed with ETX instead of its line end
    std::string sequence;  // commands on the line
};

class RecordRejection : public UpdateProgram, public testing::WithParamInterface<Rejection> {};

// Lines: data, data, data (block of 48 full), address, data, end record.
std::vector<std::string> RejectionFile() {
    return {MakeDataRecord(0, PatternBytes(16, 1)),  MakeDataRecord(16, PatternBytes(16, 2)),
            MakeDataRecord(32, PatternBytes(16, 3)), MakeExtendedAddressRecord(1),
            MakeDataRecord(0, PatternBytes(16, 4)),  MakeEndRecord()};
}

TEST_P(RecordRejection, ReportsReplyLineNumberAndLineThenSendsEnd) {
    const Rejection& r = GetParam();
    std::vector<std::string> lines = RejectionFile();
    std::string path = Write("reject.upd", BuildUpdateFile(32, lines));
    ModuleConfig config;
    config.faults.push_back(RejectAt(r.point, r.occurrence, 0x15));
    ProgramRun run = Run({"0x89", path, "0", "{port}"}, config);

    EXPECT_EQ(CommandSequence(run.module), r.sequence);
    EXPECT_EQ(run.exitCode, 1);
    std::string out = AfterBanner(run);
    std::string expected = r.message;
    if (r.printedLine != std::string::npos) {
        expected +=
            r.lineAsSent ? lines[r.printedLine] + "\x03\n" : lines[r.printedLine] + "\r\n\n";
    }
    EXPECT_NE(out.find(expected), std::string::npos) << out;
    // Only a rejected End comes after the whole file was read.
    EXPECT_EQ(out.find(DONE) != std::string::npos, r.point == FaultPoint::End) << out;
}

void PrintTo(const Rejection& rejection, std::ostream* os) {
    *os << rejection.name;
}

const size_t NO_LINE = std::string::npos;

INSTANTIATE_TEST_SUITE_P(
    EveryCommand, RecordRejection,
    testing::Values(Rejection{"Start", FaultPoint::Start, 1, "Return Value start : 0x15\n", NO_LINE,
                              false, "BF"},
                    Rejection{"Data", FaultPoint::Data, 2,
                              "Return Value Daten: 0x15\t line number 2\n", 1, true, "BCCEF"},
                    Rejection{"FullBlock", FaultPoint::Program, 1,
                              "Return Value Progr.: 0x15\t line number 2\n", 1, true, "BCCDEF"},
                    Rejection{"BlockBeforeAddress", FaultPoint::Program, 2,
                              "Return Value Progr.(4): 0x15\t line number 4\n", 3, false,
                              "BCCDCDEF"},
                    Rejection{"Address", FaultPoint::Data, 4,
                              "Return Value Adr.: 0x15\t line number 4\n", 3, true, "BCCDCDCEF"},
                    Rejection{"EndRecord", FaultPoint::Program, 3,
                              "Return Value EOF : 0x15\t line number 6\n", 5, false, "BCCDCDCCDEF"},
                    Rejection{"End", FaultPoint::End, 1, "Return Value Ende : 0x15\n", NO_LINE,
                              false, "BCCDCDCCDEF"}),
    [](const testing::TestParamInfo<Rejection>& param) { return std::string(param.param.name); });

TEST_F(UpdateProgram, RejectedDataRecordShowsProgressAfterTheMessage) {
    // Line 7 of the file: the start-address record on line 3 is skipped but counted.
    std::vector<std::string> lines = MakeRecordLines(0, PatternBytes(96, 5));
    lines.insert(lines.begin() + 2, ":0400000500000000F7");
    std::string content = BuildUpdateFile(1024, lines);
    std::string path = Write("seven.upd", content);
    ModuleConfig config;
    config.faults.push_back(RejectAt(FaultPoint::Data, 6, 0x15));
    ProgramRun run = Run({"0x89", path, "0", "{port}"}, config);
    uint32_t divisor = static_cast<uint32_t>(content.size()) / 100;
    std::string expectedTail = "Return Value Daten: 0x15\t line number 7\n" + lines[6] + "\x03\n" +
                               Progress(6 * 44 / divisor);
    std::string out = AfterBanner(run);
    EXPECT_NE(out.find(Progress(5 * 44 / divisor) + expectedTail + KEY_PROMPT), std::string::npos)
        << out;
    EXPECT_EQ(CommandSequence(run.module), "BCCCCCCEF");
    EXPECT_NE(run.stderrText.find("tarnix: failed: the Data command for line 7 was rejected with "
                                  "0x15: module 0x89 on " +
                                  run.portPath),
              std::string::npos)
        << run.stderrText;
}

TEST_F(UpdateProgram, LineModeForwardsEveryLineAsItStands) {
    ProgramRun run = RunLines("first line\r\n\r\n# comment\n", {}, "0x42");
    std::string path = dir_ + "/lines.txt";

    EXPECT_EQ(run.exitCode, 0) << DescribeRun(run);
    EXPECT_EQ(run.module.received,
              Concat({Command('B', 0x42), DataCommand("first line", 0x42), DataCommand("", 0x42),
                      DataCommand("# comment", 0x42), Command('E', 0x42), Command('F', 0x42)}));
    // Under 100 bytes: the true percentage of the payload (written counts 11, 1 and 10).
    EXPECT_EQ(AfterBanner(run), Opened(run) + "\nLoading : 24 Byte from " + path + "\n" +
                                    Progress(11 * 100 / 24) + Progress(12 * 100 / 24) +
                                    Progress(22 * 100 / 24) + DONE + KEY_PROMPT);
}

TEST_F(UpdateProgram, LineModeRejectionsEndWithoutEnd) {
    const std::string content = "one\r\ntwo\r\nthree\r\n";
    ModuleConfig config;
    config.faults.push_back(RejectAt(FaultPoint::Data, 2, 0x21));
    ProgramRun run = RunLines(content, config);
    EXPECT_EQ(CommandSequence(run.module), "BCCF");
    std::string out = AfterBanner(run);
    EXPECT_NE(out.find("\nReturn Value Daten: 0x21\t line number 2\ntwo\x03\n" + KEY_PROMPT),
              std::string::npos)
        << out;
    EXPECT_EQ(run.exitCode, 1);

    config.faults = {RejectAt(FaultPoint::Start, 1, 0x00)};
    run = RunLines(content, config);
    EXPECT_EQ(CommandSequence(run.module), "BF");
    EXPECT_NE(run.stdoutText.find("Return Value start : 0x00\n" + KEY_PROMPT), std::string::npos);

    config.faults = {RejectAt(FaultPoint::End, 1, 0xFF)};
    run = RunLines(content, config);
    EXPECT_EQ(CommandSequence(run.module), "BCCCEF");
    EXPECT_NE(run.stdoutText.find(DONE + "Return Value Ende : 0xFF\n" + KEY_PROMPT),
              std::string::npos);
    EXPECT_EQ(run.exitCode, 1);
}

// A line end goes with its line and a line longer than one read in pieces: no CR in a payload and
// no empty Data command for a line end alone. A last line without a line end is sent whole, and
// End follows it without the closing progress text.
TEST_F(UpdateProgram, LineModeSendsEachLineWithoutItsLineEnd) {
    const std::string a(MAX_TEXT - 1, 'a'), b(MAX_TEXT, 'b'), c(MAX_TEXT, 'c'), d(400, 'd');
    struct Case {
        std::string content;
        std::vector<std::string> texts;
        bool doneShown;
    };
    for (const Case& k : {Case{a + "\r\n" + b + "\r\n" + c + "\n" + d + "\r\nend\r\n",
                               {a, b, c, d.substr(0, MAX_TEXT), d.substr(MAX_TEXT), "end"},
                               true},
                          Case{"abc\r\nxyz", {"abc", "xyz"}, false}}) {
        ProgramRun run = RunLines(k.content);
        Bytes expected = Command('B');
        for (const std::string& text : k.texts) {
            expected = Concat({expected, DataCommand(text)});
        }
        EXPECT_EQ(run.module.received, Concat({expected, Command('E'), Command('F')}));
        std::string out = AfterBanner(run);
        EXPECT_EQ(out.find(k.doneShown ? DONE + KEY_PROMPT : DONE) != std::string::npos,
                  k.doneShown)
            << out;
        EXPECT_EQ(run.exitCode, 0) << DescribeRun(run);
    }
}

// ---- bad files ------------------------------------------------------------------------------

TEST_F(UpdateProgram, RecordTooLongForTheLineBufferIsReportedAndNotSent) {
    // 144 data bytes make a record of exactly 299 characters: it fits, with its line end.
    std::vector<std::string> lines = {MakeDataRecord(0, PatternBytes(144, 1)),
                                      MakeDataRecord(144, PatternBytes(16, 2)),
                                      MakeDataRecord(160, PatternBytes(145, 3)),
                                      MakeDataRecord(305, PatternBytes(16, 4)), MakeEndRecord()};
    ASSERT_EQ(lines[0].size(), MAX_TEXT);
    std::string path = Write("long.upd", BuildUpdateFile(1024, lines));
    ProgramRun run = Run({"0x89", path, "0", "{port}"});
    EXPECT_EQ(CommandSequence(run.module), "BCCEF");
    EXPECT_EQ(DataLines(run.module), (std::vector<std::string>{lines[0], lines[1]}));
    std::string out = AfterBanner(run);
    EXPECT_NE(out.find("Record too long for the line buffer\t line number 3\n" +
                       lines[2].substr(0, MAX_TEXT) + "\n" + KEY_PROMPT),
              std::string::npos)
        << out;
    EXPECT_EQ(out.find(DONE), std::string::npos);
    EXPECT_EQ(run.exitCode, 1);
}

// The file is cut short or grows while the program waits for the module's 10th reply; the
// size taken at opening is what the run expects.
TEST_F(UpdateProgram, FileThatChangesSizeDuringTheTransferIsAReadError) {
    const std::string records = BuildUpdateFile(
        0xFFFFFFFF, MakeRecordLines(0, PatternBytes(400 * 16, 9)));  // 32 + 400 * 45 bytes
    std::string text;
    for (int i = 0; i < 400; ++i) {
        text += std::string(38, 'L') + "\r\n";
    }
    struct Case {
        const char* mode;
        const std::string& content;
        size_t newSize;  // cut to, or grown by zero bytes to
        std::string message;
        std::string sequence;  // commands after Start
    };
    const Case cases[] = {
        {"0", records, 32 + 200 * 45 + 20,
         "line 201: the file ended after 9052 of its 18032 bytes\n", std::string(200, 'C') + "EF"},
        {"1", text, 200 * 40 + 20, "line 201: the file ended after 8020 of its 16000 bytes\n",
         std::string(200, 'C') + "F"},
        {"0", records, records.size() + 13, "line 401: the file grew beyond its 18032 bytes\n",
         std::string(400, 'C') + "EF"}};
    for (const Case& c : cases) {
        std::string path = Write("changing.upd", c.content);
        ProgramLaunch launch;
        launch.program = BinaryPath("tarnix");
        launch.args = {"0x89", path, c.mode, "{port}"};
        launch.stdinText = "\n";
        launch.hookAfterReplies = 10;
        launch.hook = [&] { ASSERT_EQ(truncate(path.c_str(), static_cast<off_t>(c.newSize)), 0); };
        ModuleConfig config;
        config.checkRecords = c.mode[0] == '0';
        ProgramRun run = RunAgainstModule(launch, config);
        EXPECT_EQ(CommandSequence(run.module), "B" + c.sequence) << c.message;
        std::string out = AfterBanner(run);
        EXPECT_NE(out.find("\nRead error in file '" + path + "' at " + c.message + KEY_PROMPT),
                  std::string::npos)
            << out;
        EXPECT_EQ(out.find(DONE), std::string::npos);
        EXPECT_EQ(run.exitCode, 1) << DescribeRun(run);
    }
}

TEST_F(UpdateProgram, SilentModuleTimesOut) {
    ModuleConfig config;
    config.faults.push_back(SilentAt(FaultPoint::Data, 1));
    ProgramRun run = RunLines("only line\n", config);
    EXPECT_NE(run.stdoutText.find("TIMEOUT !!!\n" + Progress(10 * 100 / 10) +
                                  "\nReturn Value Daten: 0x00\t line number 1\nonly line\x03\n"),
              std::string::npos)
        << run.stdoutText;
    EXPECT_EQ(CommandSequence(run.module), "BCF");
    EXPECT_EQ(run.exitCode, 1);
}

// The module on the named port must not be updated under another number or in another mode
// than the user wrote.
TEST_F(UpdateProgram, ArgumentsNotUnderstoodAreRefusedBeforeThePortIsOpened) {
    std::string path = Write("short.upd", BuildUpdateFile(256, ShortRecordFile()));
    const std::string MODNR = "Undefined format for ModNr ! Please use f.e. 0x89\n";
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"89", path, "0", "{port}"}, MODNR},
        {{"0x1234", path, "0", "{port}"}, MODNR},
        {{"0x89", path, "2", "{port}"}, ""},
    };
    for (const auto& [args, printed] : cases) {
        ProgramRun run = Run(args);
        EXPECT_EQ(AfterBanner(run), printed + KEY_PROMPT) << args[0] << " " << args[2];
        EXPECT_TRUE(run.module.received.empty()) << args[0];
        EXPECT_EQ(run.exitCode, 64) << args[0];
    }
}

// A subprocess, ssh or CI may hold standard input open without ever writing to it: the key
// prompt is still printed, but a finished update must not wait on it.
TEST_F(UpdateProgram, KeyWaitNeedsATerminal) {
    std::string path = Write("short.upd", BuildUpdateFile(256, ShortRecordFile()));
    ProgramLaunch launch;
    launch.program = BinaryPath("tarnix");
    launch.args = {"0x89", path, "0", "{port}"};
    launch.stdinKeptOpen = true;
    launch.timeLimitSeconds = 20;
    ProgramRun run = RunAgainstModule(launch, {});
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(run.exitCode, 0) << DescribeRun(run);
    EXPECT_EQ(run.stdoutText.substr(run.stdoutText.size() - KEY_PROMPT.size()), KEY_PROMPT);
}

TEST_F(UpdateProgram, MissingFileOrDirectoryStillReleasesTheModule) {
    for (const std::string& name : {dir_ + "/missing.upd", dir_}) {
        ProgramRun run = Run({"0x89", name, "1", "{port}"});
        EXPECT_EQ(AfterBanner(run),
                  Opened(run) + "The file '" + name + "' was not opened\n" + KEY_PROMPT);
        EXPECT_EQ(run.module.received, Command('F'));
        EXPECT_EQ(run.exitCode, 1);
    }
}

// Under Wine COM1 leads to the module, so a help run that opened the port would show there.
TEST_F(UpdateProgram, VersionAndHelpAnswerWithoutTouchingThePort) {
    ProgramRun version = Run({"--version"});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.stdoutText.rfind("tarnix 1.1.0 (", 0), 0u) << version.stdoutText;
    EXPECT_TRUE(version.module.received.empty());

    const std::string usage = std::string("\nUsage : ") +
                              (ProgramsRunUnderWine() ? "tarnix.exe" : "tarnix") +
                              " [ModNr] [filename] [ProgMode] [ComNr]\n"
                              "Default values : ModNr=0x89 (Display-Modul)  ProgMode=0  "
                              "ComNr=1 (COM1)\n";
    for (const char* request : {"--help", "-h", "/?"}) {
        ProgramRun help = Run({request});
        EXPECT_EQ(help.exitCode, 0) << request;
        EXPECT_EQ(help.stdoutText.rfind(usage, 0), 0u) << help.stdoutText;
        EXPECT_NE(help.stdoutText.find("Exit status"), std::string::npos) << help.stdoutText;
        EXPECT_EQ(help.stdoutText.find("Press any key"), std::string::npos) << help.stdoutText;
        EXPECT_TRUE(help.module.received.empty()) << request;
    }
}

TEST_F(UpdateProgram, PortThatCannotBeOpenedSendsNothing) {
    SKIP_UNDER_WINE("device paths as the port are a Linux extension");
    ProgramLaunch launch;
    launch.program = BinaryPath("tarnix");
    launch.args = {"0x89", "x.upd", "0", dir_ + "/no-port"};
    launch.stdinText = "\n";
    ProgramRun run = RunProgram(launch);
    EXPECT_EQ(AfterBanner(run), "COM port not opened !\n" + KEY_PROMPT);
    EXPECT_EQ(
        run.stderrText.rfind("COM open failed: " + dir_ + "/no-port: No such file or directory", 0),
        0u)
        << run.stderrText;
    EXPECT_EQ(run.exitCode, 2);

    launch.args[3] = dir_;  // exists, but is no serial device
    run = RunProgram(launch);
    EXPECT_EQ(run.stderrText.rfind("COM open failed: ", 0), 0u) << run.stderrText;
    EXPECT_EQ(run.exitCode, 2);
}

}  // namespace
