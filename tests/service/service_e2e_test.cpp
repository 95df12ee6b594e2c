// tarnix-service end to end: the real binary against the emulated module, with the exact bytes
// on the line and the exact console output.

#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <ctime>
#include <ostream>
#include <string>
#include <vector>

#include "e2e_expectations.h"
#include "run_against_module.h"
#include "temp_dir_test.h"
#include "update_file_builder.h"
#include "wine_launch.h"

using namespace tarnix;

namespace {

const std::string WRONG_REPLY =
    "Falscher R\xC3\xBC"
    "ckgabewert : 0x";

uint8_t Sum(const Bytes& bytes) {
    uint8_t sum = 0;
    for (uint8_t b : bytes) {
        sum = static_cast<uint8_t>(sum + b);
    }
    return sum;
}

class ServiceTool : public TempDirTest {
protected:
    static ProgramRun Run(const std::vector<std::string>& operations,
                          const ModuleConfig& config = {}, const std::string& stdinText = "") {
        ProgramLaunch launch;
        launch.program = BinaryPath("tarnix-service");
        launch.args = {"{port}"};
        launch.args.insert(launch.args.end(), operations.begin(), operations.end());
        launch.stdinText = stdinText;
        launch.timeLimitSeconds = 30;
        ProgramRun run = RunAgainstModule(launch, config);
        EXPECT_EQ(run.failure, "");
        EXPECT_FALSE(run.timedOut) << DescribeRun(run);
        return run;
    }

    // Standard output after the port's success message, which is checked on the way.
    static std::string AfterOpen(const ProgramRun& run) {
        std::string opened = "Opened " + run.portPath + " with 115200 Baud succesfully !\n";
        if (run.stdoutText.rfind(opened, 0) != 0) {
            ADD_FAILURE() << "no open message in:\n" << run.stdoutText;
            return run.stdoutText;
        }
        return run.stdoutText.substr(opened.size());
    }

    // Standard error without the outcome line that ends every run on an opened port.
    static std::string BeforeOutcomeLine(const ProgramRun& run) {
        const std::string& text = run.stderrText;
        size_t start = text.rfind('\n', text.size() >= 2 ? text.size() - 2 : 0);
        start = (start == std::string::npos) ? 0 : start + 1;
        if (text.compare(start, 16, "tarnix-service: ") != 0 || text.back() != '\n') {
            ADD_FAILURE() << "no outcome line at the end of:\n" << text;
            return text;
        }
        return text.substr(0, start);
    }

    // A file of `size` pattern bytes, last written on 5 March 2009 at 14:05 local time.
    std::string WriteConfig(const std::string& name, size_t size) {
        Bytes content = PatternBytes(size, 11);
        std::string path = Write(name, std::string(content.begin(), content.end()));
        tm local{};
        local.tm_year = 2009 - 1900;
        local.tm_mon = 2;
        local.tm_mday = 5;
        local.tm_hour = 14;
        local.tm_min = 5;
        local.tm_isdst = -1;
        time_t when = mktime(&local);
        timeval times[2] = {{when, 0}, {when, 0}};
        EXPECT_EQ(utimes(path.c_str(), times), 0);
        return path;
    }
};

// ---- information queries -------------------------------------------------------------------

struct InfoQueryCase {
    const char* operation;
    uint8_t command;
    const char* heading;  // printed before a text
    const char* emptyText;
    InfoReplyConfig ModuleConfig::*reply;
};

void PrintTo(const InfoQueryCase& query, std::ostream* out) {
    *out << query.operation;
}

const InfoQueryCase INFO_QUERIES[] = {
    {"info", '!', "VELOX-Version :\n", "No VELOX-Info available !\n", &ModuleConfig::velox},
    {"flash", '#', "", "No Flash-Info available !\n", &ModuleConfig::flash},
};

class InfoQuery : public ServiceTool, public testing::WithParamInterface<InfoQueryCase> {
protected:
    ProgramRun RunQuery(const InfoReplyConfig& reply) {
        ModuleConfig config;
        config.*(GetParam().reply) = reply;
        ProgramRun run = Run({GetParam().operation}, config);
        EXPECT_EQ(run.module.received, (Bytes{0x02, GetParam().command, 0x03}));
        return run;
    }
    std::string Shown(const std::string& text) { return GetParam().heading + text + "\n"; }
};

TEST_P(InfoQuery, ShowsTheTextBeforeAZeroMarker) {
    ProgramRun run = RunQuery({"ABC"});
    EXPECT_EQ(run.module.sent, (Bytes{0x02, GetParam().command, 'A', 'B', 'C', 0x00, 0xC6}));
    EXPECT_EQ(AfterOpen(run), Shown("ABC"));
    EXPECT_EQ(run.exitCode, 0) << DescribeRun(run);
    EXPECT_EQ(BeforeOutcomeLine(run), "");
}

TEST_P(InfoQuery, NeverShowsAnFfMarker) {
    InfoReplyConfig reply{"AB"};
    reply.marker = InfoMarker::Ff;
    ProgramRun run = RunQuery(reply);
    EXPECT_EQ(run.module.sent, (Bytes{0x02, GetParam().command, 'A', 'B', 0xFF, 0x83}));
    EXPECT_EQ(AfterOpen(run), Shown("AB"));
    EXPECT_EQ(run.exitCode, 0) << DescribeRun(run);
}

TEST_P(InfoQuery, ReportsAnEmptyText) {
    InfoReplyConfig reply{""};
    reply.marker = InfoMarker::Ff;
    ProgramRun run = RunQuery(reply);
    EXPECT_EQ(AfterOpen(run), GetParam().emptyText);
    EXPECT_EQ(run.exitCode, 0) << DescribeRun(run);
}

TEST_P(InfoQuery, ShowsTheTextDespiteAChecksumMismatchButFails) {
    InfoReplyConfig reply{"ABC"};
    reply.overrideChecksum = true;
    reply.checksum = 0xC7;
    ProgramRun run = RunQuery(reply);
    EXPECT_EQ(AfterOpen(run), "Checksum failure !!!\n" + Shown("ABC"));
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(BeforeOutcomeLine(run),
              std::string("tarnix-service: ") + GetParam().operation + " failed\n");

    reply = InfoReplyConfig{""};
    reply.overrideChecksum = true;
    reply.checksum = 0x05;
    run = RunQuery(reply);
    EXPECT_EQ(AfterOpen(run), "Checksum failure !!!\n" + std::string(GetParam().emptyText));
    EXPECT_EQ(run.exitCode, 1);
}

TEST_P(InfoQuery, StopsAtAWrongFirstOrSecondByte) {
    InfoReplyConfig reply{"ABC"};
    reply.overrideFirstByte = true;
    reply.firstByte = 0x15;
    ProgramRun run = RunQuery(reply);
    EXPECT_EQ(AfterOpen(run), WRONG_REPLY + "15\n");
    EXPECT_EQ(run.exitCode, 1);

    reply = InfoReplyConfig{"ABC"};
    reply.overrideEcho = true;
    reply.echo = '?';
    run = RunQuery(reply);
    EXPECT_EQ(AfterOpen(run), WRONG_REPLY + "3F\n");
    EXPECT_EQ(run.exitCode, 1);
}

// Without a marker the byte after 256 text bytes is the checksum.
TEST_P(InfoQuery, ShowsAll256BytesOfATextWithoutMarker) {
    std::string text;
    for (int i = 0; i < 256; ++i) {
        text += static_cast<char>('!' + i % 90);
    }
    ProgramRun run = RunQuery({text});
    EXPECT_EQ(run.module.sent.size(), 2u + 256u + 1u);
    EXPECT_EQ(AfterOpen(run), Shown(text));
    EXPECT_EQ(run.exitCode, 0) << DescribeRun(run);
}

INSTANTIATE_TEST_SUITE_P(BothQueries, InfoQuery, testing::ValuesIn(INFO_QUERIES),
                         [](const auto& query) { return std::string(query.param.operation); });

// ---- status and parameter -------------------------------------------------------------------

TEST_F(ServiceTool, StatusQueryPrintsTheValueSentLeastSignificantByteFirst) {
    ModuleConfig config;
    config.statusValue = 0x030201;
    ProgramRun run = Run({"status"}, config);
    EXPECT_EQ(run.module.received, (Bytes{0x02, 'S'}));
    EXPECT_EQ(run.module.sent, (Bytes{'U', 0x01, 0x02, 0x03}));
    EXPECT_EQ(AfterOpen(run), "Status value : 197121 (0x030201)\n");
    EXPECT_EQ(run.exitCode, 0) << DescribeRun(run);
}

TEST_F(ServiceTool, StatusQueryAnsweredWithoutUFails) {
    ModuleConfig config;
    config.faults = {RejectAt(FaultPoint::Status, 1, 0x15)};
    ProgramRun run = Run({"status"}, config);
    EXPECT_EQ(AfterOpen(run), "");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(BeforeOutcomeLine(run), "tarnix-service: status failed\n");
}

TEST_F(ServiceTool, ParameterCommandSendsTheByteTwice) {
    ProgramRun run = Run({"param", "0xA5", "param", "7"});
    EXPECT_EQ(run.module.received,
              (Bytes{0x02, '$', 0, 0, 0xA5, 0xA5, 0x03, 0x02, '$', 0, 0, 7, 7, 0x03}));
    EXPECT_EQ(run.module.parameters, (Bytes{0xA5, 7}));
    EXPECT_EQ(AfterOpen(run), "");
    EXPECT_EQ(run.exitCode, 0) << DescribeRun(run);
}

TEST_F(ServiceTool, RejectedParameterEndsTheRun) {
    ModuleConfig config;
    config.faults = {RejectAt(FaultPoint::Param, 1, 0x15)};
    ProgramRun run = Run({"param", "1", "info", "status"}, config);
    EXPECT_EQ(AfterOpen(run), "\nAcknowledge not received : 0x15 !!!\n");
    EXPECT_EQ(run.module.received, (Bytes{0x02, '$', 0, 0, 1, 1, 0x03}));
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(BeforeOutcomeLine(run),
              "tarnix-service: param failed; 2 further operations not run\n");
    std::string outcome = "tarnix-service: failed: param (operation 1 of 3): on " + run.portPath +
                          "; 0 of 3 operations completed, ";
    EXPECT_NE(run.stderrText.find(outcome), std::string::npos) << run.stderrText;
}

TEST_F(ServiceTool, RunsOperationsInTheOrderGiven) {
    ModuleConfig config;
    config.velox = {"V"};
    config.flash = {"F"};
    ProgramRun run = Run({"flash", "status", "param", "9", "info"}, config);
    EXPECT_EQ(
        run.module.received,
        Concat({{0x02, '#', 0x03}, {0x02, 'S'}, {0x02, '$', 0, 0, 9, 9, 0x03}, {0x02, '!', 0x03}}));
    EXPECT_EQ(AfterOpen(run), "F\nStatus value : 197121 (0x030201)\nVELOX-Version :\nV\n");
    EXPECT_EQ(run.exitCode, 0) << DescribeRun(run);
    std::string outcome = "tarnix-service: completed: on " + run.portPath + "; 4 of 4 operations";
    EXPECT_EQ(run.stderrText.rfind(outcome, 0), 0u) << run.stderrText;
}

// ---- result byte ----------------------------------------------------------------------------

// The module sends its result byte unasked. Here it travels as the tail of a controller
// information reply longer than the 256 bytes the query reads: the query takes the 257th byte
// as its checksum, and the byte after it is left waiting for `result`.
ModuleConfig ResultByteAfterInfo(uint8_t result) {
    std::string text(256, 'R');
    Bytes textBytes = BytesOf(text);
    text += static_cast<char>(Sum(textBytes));
    text += static_cast<char>(result);
    ModuleConfig config;
    config.velox = {text};
    return config;
}

TEST_F(ServiceTool, ResultByteClasses) {
    struct Case {
        uint8_t byte;
        std::string printed;
        int exitCode;
    };
    const Case cases[] = {
        {0x55, "", 0},
        {0xAA, "", 0},
        {0x01, "\n\nChecksum Failure !\n", 1},
        {0xFF, "\n\nProgramming Failure !\n", 1},
        {0x42, "\n\nUndefined Failure : 0x42 !\n", 1},
    };
    for (const Case& c : cases) {
        ProgramRun run = Run({"info", "result"}, ResultByteAfterInfo(c.byte));
        std::string shown = "VELOX-Version :\n" + std::string(256, 'R') + "\n";
        EXPECT_EQ(AfterOpen(run), shown + c.printed) << int(c.byte);
        EXPECT_EQ(run.exitCode, c.exitCode) << int(c.byte) << DescribeRun(run);
    }
}

// The one test that waits for a time-out (5 s).
TEST_F(ServiceTool, MissingResultByteTimesOutAsUndefinedFailure) {
    ProgramRun run = Run({"result"});
    EXPECT_EQ(AfterOpen(run), "TIMEOUT !!!\n\n\nUndefined Failure : 0x00 !\n");
    EXPECT_EQ(run.module.received, Bytes{});
    EXPECT_EQ(run.exitCode, 1);
}

// ---- pause ----------------------------------------------------------------------------------

TEST_F(ServiceTool, PauseOfZeroOrLessWaitsForEnter) {
    ProgramRun run = Run({"pause", "0", "status", "pause", "-5"}, {}, "\n\n");
    EXPECT_EQ(AfterOpen(run),
              "\nPress ENTER to continue !Status value : 197121 (0x030201)\n"
              "\nPress ENTER to continue !");
    EXPECT_EQ(run.exitCode, 0) << DescribeRun(run);
}

TEST_F(ServiceTool, PauseWaitsTheGivenMillisecondsSilently) {
    auto start = std::chrono::steady_clock::now();
    ProgramRun run = Run({"pause", "300"});
    auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_GE(elapsed, std::chrono::milliseconds(300));
    EXPECT_EQ(AfterOpen(run), "");
    EXPECT_EQ(run.exitCode, 0) << DescribeRun(run);
}

// An interrupt during a pause stops the run there: the status query after it is not sent.
TEST_F(ServiceTool, InterruptDuringAPauseNamesThePause) {
    SKIP_UNDER_WINE("a signal from the test reaches the Windows program as no console event");
    ProgramLaunch launch;
    launch.program = BinaryPath("tarnix-service");
    launch.args = {"{port}", "pause", "20000", "status"};
    launch.timeLimitSeconds = 30;
    launch.signals = {{SIGINT, "", 1, 500}};  // the opening line waits in a buffer
    ProgramRun run = RunAgainstModule(launch, {});
    EXPECT_EQ(run.exitCode, 130) << DescribeRun(run);
    EXPECT_NE(
        run.stderrText.find("interrupted by SIGINT before or during pause (operation 1 of 2)"),
        std::string::npos)
        << run.stderrText;
    EXPECT_EQ(run.module.received, Bytes{});
}

// ---- download -------------------------------------------------------------------------------

Bytes DownloadCommand(const Bytes& file) {
    uint32_t size = static_cast<uint32_t>(file.size());
    Bytes header{0x00,
                 0x00,
                 0x10,
                 uint8_t(size),
                 uint8_t(size >> 8),
                 uint8_t(size >> 16),
                 uint8_t(size >> 24)};
    header.push_back(Sum(header));
    Bytes line = Concat({{0x02, 0x20}, header});
    for (size_t offset = 0; offset < file.size(); offset += 256) {
        Bytes block(file.begin() + static_cast<long>(offset),
                    file.begin() + static_cast<long>(std::min(file.size(), offset + 256)));
        line = Concat({line, block, {Sum(block)}});
    }
    line.push_back(0x03);
    return line;
}

Bytes TimestampCommand(const std::string& name, const std::string& timeText) {
    Bytes body = Concat({BytesOf(name), {0x0A}, BytesOf(timeText), {0x00}});
    return Concat({{0x02, 0x22}, body, {Sum(body), 0x03}});
}

std::string Loading(size_t size, const std::string& name) {
    return "\nLoading : " + std::to_string(size) + " Byte from " + name +
           "\nTime modified : 05/03/2009  14:05\n";
}

const std::string DOWNLOAD_DONE = "\rWriting primary configuration... done   \n";
const std::string TIMESTAMP_DONE =
    "Writing Timestamp... \rWriting Timestamp... done\n"
    "\nACEX-Download completed successfully !!!\n\n";

TEST_F(ServiceTool, DownloadsAThousandBytesInFourBlocks) {
    std::string path = WriteConfig("acex.ttf", 1000);
    ProgramRun run = Run({"download", path});
    Bytes file = BytesOf(ReadFileBytes(path));

    EXPECT_EQ(run.module.received,
              Concat({DownloadCommand(file), TimestampCommand("acex.ttf", "05/03/2009  14:05")}));
    ASSERT_EQ(run.module.downloads.size(), 1u);
    EXPECT_EQ(run.module.downloads[0].data, file);
    EXPECT_EQ(run.module.downloads[0].blocks, 4u);
    EXPECT_EQ(run.module.sent, Bytes(6, 0x06));  // header, four blocks, timestamp
    EXPECT_EQ(AfterOpen(run), Loading(1000, "acex.ttf") + ProgressLine(0) + ProgressLine(25) +
                                  ProgressLine(51) + ProgressLine(76) + ProgressLine(100) +
                                  DOWNLOAD_DONE + TIMESTAMP_DONE);
    EXPECT_EQ(run.exitCode, 0) << DescribeRun(run);
    EXPECT_TRUE(run.module.errors.empty()) << DescribeRun(run);
}

TEST_F(ServiceTool, DownloadsFullBlocksThenETX) {
    std::string path = WriteConfig("full.bin", 512);
    ProgramRun run = Run({"download", path});
    Bytes file = BytesOf(ReadFileBytes(path));

    EXPECT_EQ(run.module.received,
              Concat({DownloadCommand(file), TimestampCommand("full.bin", "05/03/2009  14:05")}));
    EXPECT_EQ(AfterOpen(run), Loading(512, "full.bin") + ProgressLine(0) + ProgressLine(51) +
                                  ProgressLine(100) + DOWNLOAD_DONE + TIMESTAMP_DONE);
    EXPECT_EQ(run.exitCode, 0) << DescribeRun(run);
}

TEST_F(ServiceTool, DownloadsASmallFileWithAPercentage) {
    std::string path = WriteConfig("tiny.bin", 40);
    ProgramRun run = Run({"download", path});
    EXPECT_EQ(AfterOpen(run), Loading(40, "tiny.bin") + ProgressLine(0) + ProgressLine(100) +
                                  DOWNLOAD_DONE + TIMESTAMP_DONE);
    EXPECT_EQ(run.exitCode, 0) << DescribeRun(run);
    ASSERT_EQ(run.module.downloads.size(), 1u);
    EXPECT_EQ(run.module.downloads[0].data, BytesOf(ReadFileBytes(path)));
}

// With more than 100 blocks a block covers less than one step (size / 100): a new figure is due
// only every other block here, and the figure counts steps, not blocks.
TEST_F(ServiceTool, ProgressOfALongDownloadAdvancesByOneStepAtATime) {
    std::string path = WriteConfig("long.bin", 200 * 256);
    ProgramRun run = Run({"download", path});
    std::string expected = Loading(200 * 256, "long.bin") + ProgressLine(0) + ProgressLine(0);
    for (int figure = 1; figure <= 100; ++figure) {
        expected += ProgressLine(figure);
    }
    EXPECT_EQ(AfterOpen(run), expected + DOWNLOAD_DONE + TIMESTAMP_DONE);
    EXPECT_EQ(run.exitCode, 0) << DescribeRun(run);
}

TEST_F(ServiceTool, RejectedDownloadHeaderSendsNothingMore) {
    std::string path = WriteConfig("acex.ttf", 1000);
    ModuleConfig config;
    config.faults = {RejectAt(FaultPoint::DownloadHeader, 1, 0x15)};
    ProgramRun run = Run({"download", path}, config);
    Bytes file = BytesOf(ReadFileBytes(path));
    Bytes expected = DownloadCommand(file);
    expected.resize(10);  // STX, ' ' and the header
    EXPECT_EQ(run.module.received, expected);
    EXPECT_EQ(AfterOpen(run), Loading(1000, "acex.ttf") + "1. Acknowledge not received : 0x15\n");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(BeforeOutcomeLine(run), "tarnix-service: download failed\n");
}

TEST_F(ServiceTool, RejectedBlockEndsTheDownloadWithoutETX) {
    std::string path = WriteConfig("acex.ttf", 1000);
    ModuleConfig config;
    config.faults = {RejectAt(FaultPoint::DownloadBlock, 2, 0x15)};
    ProgramRun run = Run({"download", path}, config);
    Bytes file = BytesOf(ReadFileBytes(path));
    Bytes expected = DownloadCommand(file);
    expected.resize(10 + 2 * 257);
    EXPECT_EQ(run.module.received, expected);
    EXPECT_EQ(AfterOpen(run), Loading(1000, "acex.ttf") + ProgressLine(0) + ProgressLine(25) +
                                  ProgressLine(51) + "\n2. Acknowledge not received : 0x15\n");
    EXPECT_EQ(run.exitCode, 1);
}

TEST_F(ServiceTool, RejectedTimestampPrintsNoSuccessLines) {
    std::string path = WriteConfig("full.bin", 512);
    ModuleConfig config;
    config.faults = {RejectAt(FaultPoint::Timestamp, 1, 0x15)};
    ProgramRun run = Run({"download", path}, config);
    Bytes file = BytesOf(ReadFileBytes(path));
    EXPECT_EQ(run.module.received,
              Concat({DownloadCommand(file), TimestampCommand("full.bin", "05/03/2009  14:05")}));
    EXPECT_EQ(AfterOpen(run), Loading(512, "full.bin") + ProgressLine(0) + ProgressLine(51) +
                                  ProgressLine(100) + DOWNLOAD_DONE +
                                  "Writing Timestamp... Acknowledge not received : 0x15\n");
    EXPECT_EQ(run.exitCode, 1);
}

// A file that cannot be opened, a pipe or a device (no size for the header) and a name with a
// line feed (it would corrupt the timestamp frame) are refused before anything is sent, and the
// run fails without the operations after.
TEST_F(ServiceTool, UnsendableFileIsReportedAndNothingSent) {
    const std::string failed = "tarnix-service: download failed; 1 further operation not run\n";
    std::string missing = dir_ + "/missing.ttf", named = WriteConfig("a\nb.ttf", 300);
    struct Case {
        std::string path, out, err;
    };
    std::vector<Case> cases = {
        {missing, "Open failed on file 1 = " + missing + "\n",
         "File I/O failed: No such file or directory\n" + failed},
        {dir_, "Open failed on file 1 = " + dir_ + "\n",
         "File I/O failed: Is a directory\n" + failed},
        {named, "File name contains a line feed, nothing sent: " + named + "\n", failed}};
    std::vector<std::string> notRegular = {"NUL"};
    if (!ProgramsRunUnderWine()) {
        notRegular = {dir_ + "/pipe.ttf", "/dev/null"};
        ASSERT_EQ(mkfifo(notRegular[0].c_str(), 0600), 0);
    }
    for (const std::string& path : notRegular) {
        cases.push_back({path, "Not a regular file, nothing sent: " + path + "\n", failed});
    }
    for (const Case& c : cases) {
        ProgramRun run = Run({"download", c.path, "status"});
        EXPECT_EQ(AfterOpen(run), c.out);
        EXPECT_EQ(BeforeOutcomeLine(run), c.err);
        EXPECT_EQ(run.module.received, Bytes{}) << c.path;
        EXPECT_EQ(run.exitCode, 1) << DescribeRun(run);
    }
}

// The module keeps at most 127 bytes of the name it is told: a name of 127 goes out whole, a
// longer one is refused before anything is sent.
TEST_F(ServiceTool, DownloadNameLongerThanTheModuleKeepsIsRefused) {
    for (size_t length : {127, 128}) {
        std::string name = std::string(length - 4, 'n') + ".ttf";
        std::string path = WriteConfig(name, 300);
        ProgramRun run = Run({"download", path, "status"});
        if (length == 127) {
            EXPECT_EQ(run.exitCode, 0) << DescribeRun(run);
            ASSERT_EQ(run.module.timestamps.size(), 1u);
            EXPECT_EQ(run.module.timestamps[0].fileName, name);
            continue;
        }
        EXPECT_EQ(run.module.received, Bytes{});
        EXPECT_EQ(AfterOpen(run), "");
        EXPECT_EQ(BeforeOutcomeLine(run),
                  "tarnix-service: the file name '" + name +
                      "' is 128 bytes long, the module keeps at most 127; nothing sent: " + path +
                      "\ntarnix-service: download failed; 1 further operation not run\n");
        EXPECT_EQ(run.exitCode, 1);
    }
}

// ---- command line and port ------------------------------------------------------------------

TEST_F(ServiceTool, MalformedCommandLineIsRefusedBeforeThePortIsOpened) {
    ProgramLaunch launch;
    launch.program = BinaryPath("tarnix-service");
    launch.args = {"{port}", "status", "param", "300"};
    ProgramRun run = RunAgainstModule(launch, {});
    EXPECT_EQ(run.exitCode, 64);
    EXPECT_EQ(run.stdoutText, "");
    EXPECT_EQ(run.stderrText,
              "tarnix-service: param needs a VALUE 0..255 (decimal or 0x-hex), not '300'\n"
              "Try 'tarnix-service --help'.\n");
    EXPECT_FALSE(run.module.programConnected);
}

TEST_F(ServiceTool, HelpPrintsTheUsage) {
    ProgramLaunch launch;
    launch.program = BinaryPath("tarnix-service");
    launch.args = {"--help"};
    ProgramRun run = RunProgram(launch);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.stdoutText.rfind("Usage: tarnix-service PORT OPERATION", 0), 0u);

    launch.args = {"--version"};
    run = RunProgram(launch);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.stdoutText.rfind("tarnix-service 1.1.0 (", 0), 0u) << run.stdoutText;
}

TEST_F(ServiceTool, PortThatCannotBeOpenedEndsWithItsOwnCode) {
    SKIP_UNDER_WINE("device paths as the port are a Linux extension");
    ProgramLaunch launch;
    launch.program = BinaryPath("tarnix-service");
    launch.args = {dir_ + "/no-such-port", "status"};
    ProgramRun run = RunProgram(launch);
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(run.stdoutText, "");
    EXPECT_EQ(run.stderrText.rfind(
                  "COM open failed: " + dir_ + "/no-such-port: No such file or directory", 0),
              0u)
        << run.stderrText;
}

}  // namespace
