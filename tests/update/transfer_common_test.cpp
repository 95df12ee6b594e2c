#include "transfer_common.h"

#include <gtest/gtest.h>

#include <string>

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

}  // namespace
