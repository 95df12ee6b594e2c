#include "transfer_common.h"

#include <gtest/gtest.h>

#include <string>

using namespace tarnix;

namespace {

FILE* StreamWith(const std::string& content) {
    FILE* stream = tmpfile();
    fwrite(content.data(), 1, content.size(), stream);
    rewind(stream);
    return stream;
}

TEST(ProgressPercent, DividesByAHundredthOfTheSize) {
    EXPECT_EQ(ProgressPercent(0, 1000), 0);
    EXPECT_EQ(ProgressPercent(999, 1000), 99);
    EXPECT_EQ(ProgressPercent(1000, 1000), 100);
    EXPECT_EQ(ProgressPercent(250, 1050), 25);  // 250 / 10
}

TEST(ProgressPercent, SmallFilesShowTheTruePercentage) {
    EXPECT_EQ(ProgressPercent(0, 50), 0);
    EXPECT_EQ(ProgressPercent(25, 50), 50);
    EXPECT_EQ(ProgressPercent(99, 99), 100);
    EXPECT_EQ(ProgressPercent(5, 0), 0);
}

TEST(ReadUpdateLine, KeepsLineEndsAndCountsEveryAttempt) {
    FILE* stream = StreamWith("ab\r\ncd\nlast");
    UpdateLine line;
    ASSERT_EQ(ReadUpdateLine(stream, &line), LineRead::Line);
    EXPECT_EQ(std::string(line.text, line.length), "ab\r\n");
    ASSERT_EQ(ReadUpdateLine(stream, &line), LineRead::Line);
    EXPECT_EQ(std::string(line.text, line.length), "cd\n");
    ASSERT_EQ(ReadUpdateLine(stream, &line), LineRead::Line);
    EXPECT_EQ(std::string(line.text, line.length), "last");
    EXPECT_TRUE(feof(stream));
    EXPECT_EQ(ReadUpdateLine(stream, &line), LineRead::EndOfFile);
    EXPECT_EQ(line.number, 4);
    fclose(stream);
}

TEST(ReadUpdateLine, SplitsOverlongLinesAndKeepsNulBytes) {
    std::string longLine(MAX_LINE_CHARS + 5, 'x');
    longLine[3] = '\0';
    FILE* stream = StreamWith(longLine + "\n");
    UpdateLine line;
    ASSERT_EQ(ReadUpdateLine(stream, &line), LineRead::Line);
    EXPECT_EQ(line.length, MAX_LINE_CHARS);
    EXPECT_EQ(std::string(line.text, line.length), longLine.substr(0, MAX_LINE_CHARS));
    ASSERT_EQ(ReadUpdateLine(stream, &line), LineRead::Line);
    EXPECT_EQ(std::string(line.text, line.length), "xxxxx\n");
    fclose(stream);
}

// A line end right after a full piece belongs to that piece; anything else (a CR that is text
// here) starts the next.
TEST(ReadUpdateLine, LineEndJustPastAFullPieceStaysWithIt) {
    const std::string full(MAX_LINE_CHARS, 'x'), shorter(MAX_LINE_CHARS - 1, 'y');
    struct Case {
        std::string first;
        bool cut;
        std::string second;
    };
    for (const Case& c :
         {Case{shorter + "\r\n", false, "next\n"}, Case{full + "\r\n", false, "next\n"},
          Case{full + "\n", false, "next\n"}, Case{full, true, "\rz\n"}}) {
        FILE* stream = StreamWith(c.first + c.second);
        UpdateLine line;
        ASSERT_EQ(ReadUpdateLine(stream, &line), LineRead::Line);
        EXPECT_EQ(std::string(line.text, line.length), c.first);
        EXPECT_EQ(line.cut, c.cut);
        ASSERT_EQ(ReadUpdateLine(stream, &line), LineRead::Line);
        EXPECT_EQ(std::string(line.text, line.length), c.second);
        EXPECT_FALSE(line.cut);
        EXPECT_EQ(line.number, 2);
        fclose(stream);
    }
}

// The size taken at opening is the expected end: an earlier end or more bytes are read errors.
TEST(ReadUpdateLine, FileThatIsNotTheExpectedSizeIsAReadError) {
    const std::string content = "HEADab\r\ncd";  // 4 bytes read before the lines
    struct Case {
        uint32_t size;
        ReadFault fault;
        int failingLine;
    };
    for (const Case& c : {Case{10, ReadFault::None, 3}, Case{20, ReadFault::EndedEarly, 2},
                          Case{9, ReadFault::Grew, 2}}) {
        FILE* stream = StreamWith(content);
        fseek(stream, 4, SEEK_SET);
        UpdateLine line;
        ExpectFileSize(&line, c.size, 4);
        ASSERT_EQ(ReadUpdateLine(stream, &line), LineRead::Line);
        LineRead read = ReadUpdateLine(stream, &line);
        if (read == LineRead::Line) {
            read = ReadUpdateLine(stream, &line);
        }
        EXPECT_EQ(read, c.fault == ReadFault::None ? LineRead::EndOfFile : LineRead::ReadError)
            << "size " << c.size;
        EXPECT_EQ(line.fault, c.fault) << "size " << c.size;
        EXPECT_EQ(line.number, c.failingLine) << "size " << c.size;
        fclose(stream);
    }
}

// A stream without a file behind it has no stamp: only the content, read again at the end,
// can tell that bytes already handed out are no longer the file's. The change is made after
// the first line was read.
TEST(ReadUpdateLine, WatchedFileThatNoLongerHoldsWhatWasReadIsChanged) {
    struct Case {
        std::string content;
        size_t changedAt;  // npos: no change
        int failingLine;   // 0: read to its end
    };
    const size_t NONE = std::string::npos;
    for (const Case& c : {Case{"ab\r\ncd\r\n", NONE, 0}, Case{"ab\r\ncd\r\n", 0, 3},
                          Case{"ab\r\ncd", 1, 2}, Case{"HEADab\r\n", 2, 2}}) {
        std::string buffer = c.content;
        FILE* stream = fmemopen(buffer.data(), buffer.size(), "rb");
        ASSERT_NE(stream, nullptr);
        bool header = c.content.starts_with("HEAD");
        size_t before = header ? 4 : 0;
        fseek(stream, static_cast<long>(before), SEEK_SET);
        UpdateLine line;
        ExpectFileSize(&line, static_cast<uint32_t>(buffer.size()), static_cast<uint32_t>(before));
        WatchFileContent(&line, stream,
                         std::span(reinterpret_cast<const uint8_t*>(c.content.data()), before));
        ASSERT_EQ(ReadUpdateLine(stream, &line), LineRead::Line);
        if (c.changedAt != NONE) {
            buffer[c.changedAt] = 'x';
        }
        LineRead read = LineRead::Line;
        while (read == LineRead::Line) {
            read = ReadUpdateLine(stream, &line);
        }
        EXPECT_EQ(read, c.failingLine == 0 ? LineRead::EndOfFile : LineRead::ReadError)
            << c.content;
        EXPECT_EQ(line.fault, c.failingLine == 0 ? ReadFault::None : ReadFault::Changed)
            << c.content;
        if (c.failingLine != 0) {
            EXPECT_EQ(line.number, c.failingLine) << c.content;
        }
        fclose(stream);
    }
}

}  // namespace
