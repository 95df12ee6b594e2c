#include "update_check.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "check_cli.h"
#include "check_report.h"
#include "python_json.h"
#include "run_against_module.h"
#include "temp_dir_test.h"
#include "update_file.h"
#include "update_file_builder.h"

using namespace tarnix;

namespace {

using Lines = std::vector<std::string>;

// Line 1 an address record, lines 2-5 four 16-byte data records, line 6 the end record.
Lines SoundLines() {
    Lines lines{MakeExtendedAddressRecord(0x0001)};
    for (uint16_t i = 0; i < 4; ++i) {
        lines.push_back(
            MakeDataRecord(static_cast<uint16_t>(0xC000 + 16 * i), PatternBytes(16, i)));
    }
    lines.push_back(MakeEndRecord());
    return lines;
}

FileCheck Check(const std::string& bytes, CheckOptions options = {}) {
    return CheckUpdateBytes("test.upd", bytes, options);
}

struct ExpectedFault {
    int line;
    std::string fragment;
};

struct DamageCase {
    const char* name;
    std::string file;
    std::vector<ExpectedFault> faults;
};

std::vector<DamageCase> DamageCases() {
    const Lines lines = SoundLines();
    auto damaged = [&lines](auto change) {
        Lines copy = lines;
        change(copy);
        return BuildUpdateFile(256, copy);
    };
    auto insertBeforeEnd = [&damaged](std::vector<std::string> records) {
        return damaged([&records](Lines& copy) {
            copy.insert(copy.end() - 1, records.begin(), records.end());
        });
    };
    std::string whole = BuildUpdateFile(256, lines);
    std::string badHeader = whole;
    badHeader[5] ^= 0x01;
    return {
        {"cut mid-record",  // in the middle of line 3
         whole.substr(0, whole.find(lines[2]) + 20),
         {{3, "cut short"}, {0, "no end record"}}},
        {"bad record checksum",
         damaged([](Lines& l) { l[1].back() = l[1].back() == '0' ? '1' : '0'; }),
         {{2, "checksum"}}},
        {"bad count",
         damaged([](Lines& l) { l[3].replace(1, 2, "11"); }),
         {{4, "count 0x11 says 17"}}},
        {"non-hex digit",
         damaged([](Lines& l) { l[4][12] = 'G'; }),
         {{5, "'G' at column 13 is not a hex"}}},
        {"missing end record", damaged([](Lines& l) { l.pop_back(); }), {{0, "no end record"}}},
        {"record after the end",
         damaged([](Lines& l) { l.push_back(MakeDataRecord(0xD000, PatternBytes(16, 9))); }),
         {{7, "after the end record of line 6"}}},
        {"overlapping addresses",
         insertBeforeEnd({MakeDataRecord(0xC018, PatternBytes(16, 7))}),
         {{6, "0x0001C018-0x0001C027 overlap data already written by the records from line 2"}}},
        {"record over 299 characters",
         insertBeforeEnd({MakeDataRecord(0xD000, PatternBytes(150, 3))}),
         {{6, "record line of 313 characters (line end included) does not fit"}}},
        // tarnix forwards no extended segment address record (02): the module would miss it.
        {"extended segment address",
         insertBeforeEnd(
             {MakeHexRecord(0x02, 0, {0x10, 0x00}), MakeDataRecord(0, PatternBytes(16, 8))}),
         {{6, "extended segment address record (02)"}}},
        {"damaged header", badHeader, {{0, "header CRC incorrect"}}},
    };
}

std::string DescribeFaults(const FileCheck& check) {
    std::string text;
    for (const CheckFault& fault : check.faults) {
        text += "  line " + std::to_string(fault.line) + ": " + fault.message + "\n";
    }
    return text;
}

using Ranges = std::vector<std::pair<uint64_t, uint64_t>>;  // first and last address

Ranges RangesOf(const FileCheck& check) {
    Ranges ranges;
    for (const AddressRange& range : check.ranges) {
        ranges.emplace_back(range.first, range.last);
    }
    return ranges;
}

// A temporary folder for the tests that write files.
using UpdateCheck = TempDirTest;
using CheckProgram = TempDirTest;

void ExpectFaults(const FileCheck& check, const std::vector<ExpectedFault>& faults) {
    ASSERT_EQ(check.faults.size(), faults.size()) << DescribeFaults(check);
    for (size_t i = 0; i < faults.size(); ++i) {
        EXPECT_EQ(check.faults[i].line, faults[i].line) << DescribeFaults(check);
        EXPECT_NE(check.faults[i].message.find(faults[i].fragment), std::string::npos)
            << DescribeFaults(check);
    }
}

TEST_F(UpdateCheck, FindsEachDamageWithItsLineNumber) {
    for (const DamageCase& damage : DamageCases()) {
        SCOPED_TRACE(damage.name);
        ExpectFaults(Check(damage.file), damage.faults);
    }
}

// The summary covers every address a data record writes, overlaps and wrapped bytes included.
TEST_F(UpdateCheck, AddressSummaryCoversEveryDataRecord) {
    struct Case {
        const char* name;
        Lines records;  // the end record follows
        const char* summary;
        std::vector<ExpectedFault> faults;
    };
    auto data = [](uint16_t address, size_t count) {
        return MakeDataRecord(address, PatternBytes(count, address));
    };
    const Case cases[] = {
        {"adjacent, the later one first",
         {data(0x10, 16), data(0x00, 16)},
         " 0x00000000-0x0000001F",
         {}},
        {"overlap past the end of a run",
         {data(0x00, 16), data(0x08, 16)},
         " 0x00000000-0x00000017",
         {{2, "0x00000008-0x00000017 overlap data already written by the records from line 1"}}},
        {"overlap bridging two runs",
         {data(0x00, 16), data(0x20, 16), data(0x08, 32)},
         " 0x00000000-0x0000002F",
         {{3, "0x00000008-0x00000027 overlap data already written by the records from line 2"}}},
        {"over what only an overlapping record wrote",
         {data(0x00, 16), data(0x0C, 8), data(0x12, 4)},
         " 0x00000000-0x00000015",
         {{2, "0x0000000C-0x00000013 overlap"}, {3, "0x00000012-0x00000015 overlap"}}},
        {"past its 64 KiB segment",
         {MakeExtendedAddressRecord(0x0001), data(0xFFF8, 16)},
         " 0x0001FFF8-0x00020007",
         {{2, "past the end of its 64 KiB address segment"}}},
        {"past 0xFFFFFFFF onto data at 0",
         {data(0x00, 16), MakeExtendedAddressRecord(0xFFFF), data(0xFFF8, 16)},
         " 0x00000000-0x0000000F 0xFFFFFFF8-0xFFFFFFFF",
         {{3, "record at 0xFFFFFFF8 runs past 0xFFFFFFFF"},
          {3, "0x00000000-0x00000007 overlap data already written by the records from line 1"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Lines lines = c.records;
        lines.push_back(MakeEndRecord());
        FileCheck check = Check(BuildUpdateFile(256, lines));
        std::string report = DescribeFileCheck(check, {});
        EXPECT_NE(report.find(std::string("  addresses:") + c.summary + "\n"), std::string::npos)
            << report;
        ExpectFaults(check, c.faults);
    }
}

TEST_F(UpdateCheck, SoundFileCountsWhatTarnixSends) {
    Lines lines = SoundLines();
    // A second segment: the address record closes the open block before it is forwarded.
    lines.insert(lines.end() - 1, MakeExtendedAddressRecord(0x0002));
    lines.insert(lines.end() - 1, MakeDataRecord(0x0000, PatternBytes(8, 5)));
    lines.insert(lines.begin() + 1, ":0400000500001234B1");  // start address, skipped
    FileCheck check = Check(BuildUpdateFile(32, lines));
    EXPECT_TRUE(check.Sound()) << DescribeFaults(check);
    EXPECT_TRUE(check.headerValid);
    EXPECT_EQ(check.blockSize, 32u);
    EXPECT_EQ(check.lines, 9);
    EXPECT_EQ(check.dataRecords, 5u);
    EXPECT_EQ(check.addressRecords, 2u);
    EXPECT_EQ(check.otherRecords, 1u);
    EXPECT_EQ(check.dataBytes, 72u);
    // Data: 5 data records and 2 address records. Program: after records 2 and 4 (full
    // blocks), then at the end record for the open 8 bytes.
    EXPECT_EQ(check.estimate.dataCommands, 7u);
    EXPECT_EQ(check.estimate.programCommands, 3u);
    EXPECT_EQ(check.estimate.fullBlocks, 2u);
    EXPECT_EQ(RangesOf(check), (Ranges{{0x1C000, 0x1C03F}, {0x20000, 0x20007}}));
}

TEST_F(UpdateCheck, TimeIsLineBytesRepliesLatencyHostTimeAndBlockPauses) {
    // Start (4 + reply), one 43-character record (3 + 42 + ETX, reply), the Program command of
    // the full block (4 + reply, then 1 ms), End (4 + reply), Finish (4, no reply).
    Lines lines{MakeDataRecord(0, PatternBytes(16, 1)), MakeEndRecord()};
    FileCheck check =
        Check(BuildUpdateFile(16, lines), {.replyLatencyMs = 2.0, .hostTimeMs = 0.25});
    EXPECT_EQ(check.estimate.bytesSent, 4u + 47u + 4u + 4u + 4u);
    EXPECT_EQ(check.estimate.replyBytes, 4u);
    EXPECT_DOUBLE_EQ(check.estimate.seconds, 67.0 * 11 / 115200 + 4 * 0.00225 + 0.001);
}

TEST_F(UpdateCheck, LineModeCountsLinesAndPieces) {
    std::string text = "first\r\n" + std::string(350, 'x') + "\n\nlast";
    FileCheck check = Check(text, {.mode = CheckMode::Lines});
    EXPECT_EQ(check.lines, 5);  // first, two pieces of the long line, the empty line, last
    EXPECT_EQ(check.estimate.dataCommands, 5u);
    EXPECT_EQ(check.longLines, 1u);
    ASSERT_EQ(check.faults.size(), 1u);
    EXPECT_EQ(check.faults[0].line, 2);
    // Start, then 3+6, 3+300 (299 characters and ETX), 3+52, 3+1, 3+5, End, Finish.
    EXPECT_EQ(check.estimate.bytesSent, 4u + 9 + 303 + 55 + 4 + 8 + 4 + 4);
}

// tarnix reads 299 characters and the line end after them at once. Record mode refuses a longer
// record and sends nothing more but End (tests/update runs tarnix on these lengths); line mode
// sends the line in pieces.
TEST_F(UpdateCheck, LongRecordIsJudgedAsTarnixTreatsIt) {
    struct Case {
        const char* name;
        size_t firstRecordBytes;  // 144: a record of 299 characters, 145: of 301
        const char* lineEnd;
        CheckMode mode;
        const char* faultOfLine1;  // empty: sound
        uint64_t dataCommands;
        uint64_t programCommands;
    };
    const Case cases[] = {
        {"299 characters, CR LF", 144, "\r\n", CheckMode::Records, "", 2, 1},
        {"299 characters, LF", 144, "\n", CheckMode::Records, "", 2, 1},
        {"301 characters", 145, "\r\n", CheckMode::Records, "tarnix refuses the record", 0, 0},
        {"301 characters, line mode", 145, "\r\n", CheckMode::Lines, "sent as 2 Data commands", 4,
         0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Lines lines{MakeDataRecord(0, PatternBytes(c.firstRecordBytes, 1)),
                    MakeDataRecord(static_cast<uint16_t>(c.firstRecordBytes), PatternBytes(16, 2)),
                    MakeEndRecord()};
        std::string file = BuildUpdateFile(1024, lines, c.lineEnd);
        if (c.mode == CheckMode::Lines) {
            file.erase(0, UPDATE_HEADER_SIZE);
        }
        FileCheck check = Check(file, {.mode = c.mode});
        std::string fault = c.faultOfLine1;
        ASSERT_EQ(check.faults.size(), fault.empty() ? 0u : 1u) << DescribeFaults(check);
        if (!fault.empty()) {
            EXPECT_EQ(check.faults[0].line, 1);
            EXPECT_NE(check.faults[0].message.find(fault), std::string::npos)
                << DescribeFaults(check);
        }
        EXPECT_EQ(check.estimate.dataCommands, c.dataCommands);
        EXPECT_EQ(check.estimate.programCommands, c.programCommands);
    }
}

TEST_F(UpdateCheck, ExamplesAreSound) {
    FileCheck records = CheckUpdateFile(TARNIX_SOURCE_DIR "/examples/display-config.upd", {});
    EXPECT_TRUE(records.Sound()) << DescribeFaults(records);
    // What the emulated module counts for this file (README): Data 2562, Program 160.
    EXPECT_EQ(records.estimate.dataCommands, 2562u);
    EXPECT_EQ(records.estimate.programCommands, 160u);
    EXPECT_EQ(records.dataBytes, 40960u);
    EXPECT_EQ(RangesOf(records), (Ranges{{0x1C000, 0x25FFF}}));
    FileCheck lines = CheckUpdateFile(TARNIX_SOURCE_DIR "/examples/display-params.txt",
                                      {.mode = CheckMode::Lines});
    EXPECT_TRUE(lines.Sound()) << DescribeFaults(lines);
}

TEST_F(UpdateCheck, FileWrittenByObjcopyIsSound) {
    // Under 64 KiB: above it objcopy writes extended segment address records (02), which
    // tarnix does not forward; the check reports those as faults.
    std::string records = IntelHexByObjcopy(dir_, PatternBytes(60000, 4));
    if (records.empty()) {
        GTEST_SKIP() << "GNU objcopy is not installed (package binutils)";
    }
    std::string update = MakeUpdateHeader(256) + records;
    FileCheck check = Check(update);
    EXPECT_TRUE(check.Sound()) << DescribeFaults(check);
    EXPECT_EQ(check.dataBytes, 60000u);
    EXPECT_EQ(RangesOf(check), (Ranges{{0, 59999}}));
}

TEST_F(CheckProgram, ExitStatusSaysWhetherEveryFileIsSound) {
    std::string damaged = Write("damaged.upd", DamageCases()[1].file);
    std::string example = TARNIX_SOURCE_DIR "/examples/display-config.upd";
    ProgramLaunch launch;
    launch.program = BinaryPath("tarnix-check");
    launch.args = {example};
    EXPECT_EQ(RunProgram(launch).exitCode, 0);
    launch.args = {"--version"};
    ProgramRun version = RunProgram(launch);
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.stdoutText.rfind("tarnix-check 1.", 0), 0u) << version.stdoutText;
    launch.args = {"--json", example, damaged};
    ProgramRun run = RunProgram(launch);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.stdoutText.find("\"sound\": false"), std::string::npos) << run.stdoutText;
    EXPECT_NE(run.stdoutText.find("{\"line\": 2, \"message\": \"record checksum"),
              std::string::npos)
        << run.stdoutText;
    // A FIFO would hang fopen() for ever: refused unread (the time limit catches a hang).
    std::string fifo = dir_ + "/pipe.upd";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    launch.args = {fifo};
    launch.timeLimitSeconds = 10;
    run = RunProgram(launch);
    EXPECT_EQ(run.exitCode, 1) << DescribeRun(run);
    EXPECT_NE(run.stdoutText.find("not a regular file"), std::string::npos) << run.stdoutText;
    for (const std::vector<std::string>& args : {std::vector<std::string>{},
                                                 {"--mode", "2", example},
                                                 {"--latency", "x", example},
                                                 {"--host-time", "-1", example},
                                                 {"--host-time", "-0", example},
                                                 {"--latency", " 1", example},
                                                 {"--latency", "0x10", example},
                                                 {"--latency=1", "--latency=2", example},
                                                 {"--frobnicate", example}}) {
        launch.args = args;
        EXPECT_EQ(RunProgram(launch).exitCode, 64);
    }
}

// A name that is not UTF-8 once made the whole report unreadable to any JSON parser.
TEST_F(CheckProgram, JsonReportIsValidUtf8AndGivesBackANameThatIsNot) {
    if (!PythonAvailable()) {
        GTEST_SKIP() << "python3 is not installed";
    }
    std::string path = Write("config-\xFF.upd", DamageCases()[1].file);
    ProgramLaunch launch;
    launch.program = BinaryPath("tarnix-check");
    launch.args = {"--json", path};
    ProgramRun check = RunProgram(launch);
    EXPECT_EQ(check.exitCode, 1) << DescribeRun(check);
    ProgramRun name = BytesFromJsonHex(check.stdoutText, "r['files'][0]['file_hex']");
    EXPECT_EQ(name.exitCode, 0) << DescribeRun(name) << check.stdoutText;
    EXPECT_EQ(name.stdoutText, path);
}

}  // namespace
