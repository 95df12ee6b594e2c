#include "module_session.h"
#include "module_verdict.h"

#include <gtest/gtest.h>

#include <cstdio>

#include <unistd.h>

#include "update_file_builder.h"

using namespace tarnix;

namespace {

// One step of a conversation: a frame and whether the module is told to reject it.
struct Step {
    char command;
    std::string text;  // Data text
    bool reject = false;
    uint8_t modNr = 0x89;
};

std::vector<uint8_t> FrameBytes(const Step& step) {
    std::vector<uint8_t> bytes{MODULE_STX, static_cast<uint8_t>(step.command), step.modNr};
    // Byte by byte: a range insert here draws a false -Warray-bounds from GCC 12 in Release.
    for (char c : step.text) {
        bytes.push_back(static_cast<uint8_t>(c));
    }
    bytes.push_back(MODULE_ETX);
    return bytes;
}

FaultPoint PointOf(char command) {
    switch (command) {
        case 'B':
            return FaultPoint::Start;
        case 'C':
            return FaultPoint::Data;
        case 'D':
            return FaultPoint::Program;
        default:
            return FaultPoint::End;
    }
}

// Feeds the steps straight into a session, with rejections where the steps ask for them.
ModuleLog Converse(const std::vector<Step>& steps, ModuleConfig config = ModuleConfig{}) {
    std::array<unsigned, 4> seen{};
    for (const Step& step : steps) {
        FaultPoint point = PointOf(step.command);
        if (step.command != 'F' && ++seen[static_cast<size_t>(point)] && step.reject) {
            config.faults.push_back(RejectAt(point, seen[static_cast<size_t>(point)], 0x15));
        }
    }
    ModuleLog log;
    ModuleSession session;
    StartModuleSession(&session, &config, &log);
    std::vector<uint8_t> reply;
    for (const Step& step : steps) {
        std::vector<uint8_t> bytes = FrameBytes(step);
        FeedModuleBytes(&session, bytes.data(), bytes.size(), &reply);
    }
    FinishModuleSession(&session);
    return log;
}

std::string Record(uint16_t address) {
    return MakeDataRecord(address, PatternBytes(16, address));
}

std::vector<std::string> ErrorTexts(const ModuleLog& log) {
    std::vector<std::string> texts;
    for (const ModuleError& error : log.errors) {
        texts.push_back(error.text);
    }
    return texts;
}

TEST(UpdateOrder, AcceptsTheSequencesTheProgramSends) {
    const std::vector<std::vector<Step>> good = {
        {{'B', ""}, {'C', Record(0)}, {'D', ""}, {'E', ""}, {'F', ""}},
        {{'F', ""}},                                     // no file chosen
        {{'B', "", true}, {'F', ""}},                    // Start rejected
        {{'B', ""}, {'C', Record(0), true}, {'F', ""}},  // line mode stops at once
        {{'B', ""}, {'C', Record(0)}, {'D', "", true}, {'E', ""}, {'F', ""}},  // record mode
        {{'B', ""}, {'E', ""}, {'F', ""}, {'B', ""}, {'E', ""}, {'F', ""}},    // two runs
    };
    for (size_t i = 0; i < good.size(); ++i) {
        ModuleLog log = Converse(good[i]);
        EXPECT_TRUE(log.errors.empty()) << "sequence " << i << "\n"
                                        << DescribeModuleVerdict(log, nullptr);
    }
}

TEST(UpdateOrder, ReportsCommandsOutOfPlace) {
    struct Case {
        std::vector<Step> steps;
        std::string error;
    };
    const std::vector<Case> cases = {
        {{{'C', Record(0)}, {'F', ""}}, "Data without an accepted Start"},
        {{{'B', "", true}, {'D', ""}}, "Program without an accepted Start"},
        {{{'B', ""}, {'C', Record(0)}, {'F', ""}}, "Finish while the update is open (no End)"},
        {{{'B', ""}, {'C', Record(0), true}, {'C', Record(16)}}, "Data after a rejected command"},
        {{{'B', ""}, {'E', ""}, {'F', ""}, {'E', ""}}, "End after Finish"},
        {{{'B', ""}, {'B', ""}}, "Start while an update is open"},
        {{{'E', ""}}, "End without an accepted Start"},
        {{{'B', ""}, {'C', Record(0), false, 0x12}}, "Data with ModNr 0x12, Start had 0x89"},
    };
    for (const Case& c : cases) {
        ModuleLog log = Converse(c.steps);
        EXPECT_EQ(ErrorTexts(log), std::vector<std::string>{c.error});
    }
}

TEST(UpdateVerdict, NamesWhatAnUpdateLeftUndone) {
    struct Case {
        std::vector<Step> steps;
        std::vector<std::string> shortfalls;
        ModuleConfig config = {};
    };
    ModuleConfig silentEnd;
    silentEnd.faults = {SilentAt(FaultPoint::End, 1)};
    const std::string incomplete = "update incomplete: ";
    const std::vector<Case> cases = {
        {{{'B', ""}, {'C', Record(0)}, {'E', ""}, {'F', ""}}, {}},
        {{}, {}},  // no update command at all, as in a run of service operations
        {{{'B', ""}, {'C', Record(0)}, {'C', Record(16)}},  // interrupted half way
         {incomplete + "no End", incomplete + "no Finish"}},
        {{{'B', ""}, {'C', Record(0), true}, {'F', ""}},  // line mode stops at a rejection
         {incomplete + "no End", incomplete + "last update command (Data) rejected with 0x15"}},
        {{{'B', ""}, {'C', Record(0)}, {'D', "", true}, {'E', ""}, {'F', ""}},
         {incomplete + "Program 1 rejected with 0x15"}},
        {{{'B', "", true}, {'E', ""}, {'F', ""}},
         {incomplete + "no accepted Start", incomplete + "Start 1 rejected with 0x15"}},
        {{{'F', ""}}, {incomplete + "no accepted Start", incomplete + "no End"}},
        {{{'B', ""}, {'E', ""}, {'F', ""}},
         {incomplete + "last update command (End) unanswered"},
         silentEnd},
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        ModuleLog log = Converse(cases[i].steps, cases[i].config);
        EXPECT_EQ(UpdateShortfalls(log), cases[i].shortfalls) << "case " << i;
        EXPECT_EQ(ModuleRunPassed(log, nullptr), cases[i].shortfalls.empty() && log.errors.empty())
            << "case " << i;
        std::string lines;  // in the verdict, one a line just before the image
        for (const std::string& shortfall : cases[i].shortfalls) {
            lines += shortfall + "\n";
        }
        EXPECT_NE(DescribeModuleVerdict(log, nullptr).find(lines + "image: "), std::string::npos)
            << "case " << i;
    }
}

TEST(StrayReplies, ExtraBytesFollowTheReplyAndLateRepliesWait) {
    ModuleConfig config;
    config.extraReplies = {ExtraReply{FaultPoint::Data, 2, {0x06, 0x15}}};
    config.lateReplies = {LateReply{FaultPoint::Program, 1, 5500}};
    ModuleLog log;
    ModuleSession session;
    StartModuleSession(&session, &config, &log);
    std::vector<uint8_t> reply;
    for (const Step& step :
         std::vector<Step>{{'B', ""}, {'C', Record(0)}, {'C', Record(16)}, {'D', ""}, {'E', ""}}) {
        std::vector<uint8_t> bytes = FrameBytes(step);
        FeedModuleBytes(&session, bytes.data(), bytes.size(), &reply);
    }
    EXPECT_EQ(reply, (std::vector<uint8_t>{0x06, 0x06, 0x06, 0x06, 0x15, 0x06}));
    ASSERT_EQ(session.delayed.size(), 1u);
    EXPECT_EQ(session.delayed[0].delayMs, 5500u);
    EXPECT_EQ(session.delayed[0].bytes, std::vector<uint8_t>{MODULE_ACK});
    EXPECT_EQ(log.frames[2].reply, (std::vector<uint8_t>{0x06, 0x06, 0x15}));
    EXPECT_EQ(log.frames[3].reply, std::vector<uint8_t>{MODULE_ACK});
}

TEST(UpdateImage, RebuildsAcrossExtendedAddressRecords) {
    std::vector<std::string> lines = MakeRecordLines(0xFFF8, PatternBytes(40, 1));
    std::vector<std::string> second = MakeRecordLines(0x20000, PatternBytes(20, 2));
    lines.insert(lines.end(), second.begin(), second.end());
    lines.push_back(MakeEndRecord());
    std::vector<Step> steps{{'B', ""}};
    for (const std::string& line : lines) {
        if (line[8] != '1') {
            steps.push_back({'C', line});
        }
    }
    steps.push_back({'E', ""});
    steps.push_back({'F', ""});
    ModuleLog log = Converse(steps);

    std::string dir = MakeTempDir();
    ASSERT_TRUE(WriteFileBytes(dir + "/image.upd", BuildUpdateFile(64, lines)));
    MemoryImage expected;
    std::string error;
    ASSERT_TRUE(LoadUpdateImage(dir + "/image.upd", &expected, &error)) << error;
    EXPECT_TRUE(ModuleRunPassed(log, &expected)) << DescribeModuleVerdict(log, &expected);
    EXPECT_EQ(DescribeImageSegments(log.image), "0x0000FFF8-0x0001001F, 0x00020000-0x00020013");
    EXPECT_EQ(log.image.segments.at(0xFFF8), PatternBytes(40, 1));
    std::remove((dir + "/image.upd").c_str());
    rmdir(dir.c_str());
}

TEST(UpdateImage, RecordsDataRejectedByTheModuleAsMissing) {
    ModuleLog log = Converse({{'B', ""}, {'C', Record(0)}, {'C', Record(16), true}, {'E', ""}});
    MemoryImage expected;
    for (uint16_t address : {0, 16}) {
        std::vector<uint8_t> data = PatternBytes(16, address);
        WriteImageBytes(&expected, address, data.data(), data.size());
    }
    char expectedText[64];
    std::snprintf(expectedText, sizeof expectedText, "byte at 0x00000010 missing (expected 0x%02X)",
                  PatternBytes(16, 16)[0]);
    std::string difference;
    EXPECT_FALSE(CompareImages(expected, log.image, &difference));
    EXPECT_EQ(difference, expectedText);
}

TEST(RecordCheck, FindsDamagedRecords) {
    std::string good = MakeDataRecord(0x1234, {0xAA, 0xBB});
    std::string badSum = good.substr(0, good.size() - 2) + "00";
    std::vector<Step> steps{{'B', ""},
                            {'C', badSum},
                            {'C', ":02123400AABB"},
                            {'C', ":0212340GAABBCD"},
                            {'C', "hello"},
                            {'C', good},
                            {'E', ""}};
    ModuleLog log = Converse(steps);
    ASSERT_EQ(log.errors.size(), 4u) << DescribeModuleVerdict(log, nullptr);
    EXPECT_EQ(log.errors[0].kind, ModuleErrorKind::RecordChecksum);
    EXPECT_EQ(log.errors[0].frameIndex, 1u);
    EXPECT_NE(log.errors[0].text.find("Data line 1"), std::string::npos) << log.errors[0].text;
    for (size_t i = 1; i < 4; ++i) {
        EXPECT_EQ(log.errors[i].kind, ModuleErrorKind::RecordFormat) << log.errors[i].text;
    }
    EXPECT_EQ(ImageByteCount(log.image), 2u);  // only the good record
}

TEST(RecordCheck, LineModeKeepsAnyTextAndStillBuildsTheImage) {
    ModuleConfig config;
    config.checkRecords = false;
    std::string text = "free text \x02 with STX";
    std::string record = MakeDataRecord(0x0010, {1, 2, 3});
    ModuleLog log = Converse({{'B', ""}, {'C', text}, {'C', record}, {'E', ""}, {'F', ""}}, config);
    EXPECT_TRUE(log.errors.empty()) << DescribeModuleVerdict(log, nullptr);
    EXPECT_EQ(DataLines(log), (std::vector<std::string>{text, record}));
    EXPECT_EQ(ImageByteCount(log.image), 3u);
}

TEST(FrameErrors, ReportsStrayBytesAndMalformedFrames) {
    ModuleConfig config;
    ModuleLog log;
    ModuleSession session;
    StartModuleSession(&session, &config, &log);
    std::vector<uint8_t> bytes{'x',        'y',        MODULE_STX, 'B',
                               0x89,       MODULE_ETX,                          // stray, Start
                               MODULE_STX, 'D',        0x89,       0x55,        // no ETX
                               MODULE_STX, 'Z',                                 // unknown command
                               MODULE_STX, 'E',        0x89,       MODULE_ETX,  // End
                               MODULE_STX, 'C',        0x89,       ':'};        // cut off
    std::vector<uint8_t> reply;
    FeedModuleBytes(&session, bytes.data(), bytes.size(), &reply);
    FinishModuleSession(&session);
    EXPECT_EQ(reply, (std::vector<uint8_t>{MODULE_ACK, MODULE_ACK}));
    std::vector<ModuleErrorKind> kinds;
    for (const ModuleError& error : log.errors) {
        kinds.push_back(error.kind);
    }
    EXPECT_EQ(kinds,
              (std::vector<ModuleErrorKind>{ModuleErrorKind::StrayBytes, ModuleErrorKind::BadFrame,
                                            ModuleErrorKind::StrayBytes, ModuleErrorKind::BadFrame,
                                            ModuleErrorKind::CutOff}))
        << DescribeModuleVerdict(log, nullptr);
    EXPECT_EQ(log.errors[0].text, "2 byte(s) outside a frame: 0x78 0x79");
    EXPECT_EQ(log.received, bytes);
    EXPECT_EQ(CountFrames(log, 'E'), 1u);
}

TEST(InfoReplies, DamageAsConfigured) {
    struct Case {
        InfoReplyConfig velox;
        std::vector<uint8_t> reply;
    };
    InfoReplyConfig wrongFirst{"AB"};
    wrongFirst.overrideFirstByte = true;
    wrongFirst.firstByte = 0x15;
    InfoReplyConfig wrongEcho{"AB"};
    wrongEcho.overrideEcho = true;
    wrongEcho.echo = '#';
    InfoReplyConfig wrongSum{""};
    wrongSum.marker = InfoMarker::Ff;
    wrongSum.overrideChecksum = true;
    wrongSum.checksum = 0x05;
    InfoReplyConfig markerFf{"AB"};
    markerFf.marker = InfoMarker::Ff;
    const std::vector<Case> cases = {
        {wrongFirst, {0x15, '!', 'A', 'B', 0x00, 0x83}},
        {wrongEcho, {0x02, '#', 'A', 'B', 0x00, 0x83}},
        {wrongSum, {0x02, '!', 0xFF, 0x05}},
        {markerFf, {0x02, '!', 'A', 'B', 0xFF, 0x83}},
        {InfoReplyConfig{""}, {0x02, '!', 0x00, 0x00}},
    };
    for (const Case& c : cases) {
        ModuleConfig config;
        config.velox = c.velox;
        ModuleLog log;
        ModuleSession session;
        StartModuleSession(&session, &config, &log);
        std::vector<uint8_t> query{MODULE_STX, '!', MODULE_ETX}, reply;
        FeedModuleBytes(&session, query.data(), query.size(), &reply);
        EXPECT_EQ(reply, c.reply);
    }
}

}  // namespace
