#include "primary_config.h"

#include <sys/time.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <thread>

#include "framing.h"
#include "service_on_pty.h"

using namespace tarnix;

namespace {

using Bytes = std::vector<uint8_t>;

TEST(DownloadHeader, CarriesTheSizeLeastSignificantByteFirstAndItsChecksum) {
    auto header = BuildDownloadHeader(1000);
    EXPECT_EQ(Bytes(header.begin(), header.end()),
              (Bytes{0x00, 0x00, 0x10, 0xE8, 0x03, 0x00, 0x00, 0xFB}));
    header = BuildDownloadHeader(0x12345678);
    EXPECT_EQ(Bytes(header.begin(), header.end()),
              (Bytes{0x00, 0x00, 0x10, 0x78, 0x56, 0x34, 0x12, 0x24}));
}

TEST(DownloadProgress, DividesByAHundredthOfTheSize) {
    EXPECT_EQ(DownloadProgress(0, 1000), 0);
    EXPECT_EQ(DownloadProgress(256, 1000), 25);
    EXPECT_EQ(DownloadProgress(512, 1000), 51);
    EXPECT_EQ(DownloadProgress(768, 1000), 76);
    EXPECT_EQ(DownloadProgress(1000, 1000), 100);
}

TEST(DownloadProgress, NeverShowsMoreThanAHundred) {
    EXPECT_EQ(DownloadProgress(256, 512), 51);
    EXPECT_EQ(DownloadProgress(512, 512), 100);
    EXPECT_EQ(DownloadProgress(1099, 1099), 100);
    EXPECT_EQ(DownloadProgress(0xFFFFFFFF, 0xFFFFFFFF), 100);
}

TEST(DownloadProgress, FilesUnderAHundredBytesShowAPercentage) {
    EXPECT_EQ(DownloadProgress(0, 50), 0);
    EXPECT_EQ(DownloadProgress(25, 50), 50);
    EXPECT_EQ(DownloadProgress(50, 50), 100);
    EXPECT_EQ(DownloadProgress(0, 0), 0);
}

TEST(ConfigFileName, IsThePartAfterTheLastBackslashOrSlash) {
    EXPECT_EQ(ConfigFileName("acex.ttf"), "acex.ttf");
    EXPECT_EQ(ConfigFileName("C:\\configs\\v2\\acex.ttf"), "acex.ttf");
    EXPECT_EQ(ConfigFileName("/home/tech/configs/acex.ttf"), "acex.ttf");
    EXPECT_EQ(ConfigFileName("configs\\v2/acex.ttf"), "acex.ttf");
    EXPECT_EQ(ConfigFileName("configs/v2\\acex.ttf"), "acex.ttf");
    EXPECT_EQ(ConfigFileName("configs/"), "");
}

TEST(ConfigFileName, KeepsALongNameWhole) {
    std::string longName(300, 'n');
    EXPECT_EQ(ConfigFileName("C:\\dir\\" + longName), longName);
}

TEST(TimeText, IsDayMonthYearTwoSpacesHoursMinutes) {
    EXPECT_EQ(FormatTimeText({2009, 3, 5, 14, 5}), "05/03/2009  14:05");
    EXPECT_EQ(FormatTimeText({2024, 12, 31, 0, 0}), "31/12/2024  00:00");
}

std::string MakeTempFile(const std::string& content) {
    char path[] = "/tmp/tarnix-service-XXXXXX";
    int fd = mkstemp(path);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(write(fd, content.data(), content.size()), static_cast<ssize_t>(content.size()));
    close(fd);
    return path;
}

// Sets the file's modification time to a moment given in local time.
void SetLocalWriteTime(const std::string& path, int year, int month, int day, int hour,
                       int minute) {
    tm local{};
    local.tm_year = year - 1900;
    local.tm_mon = month - 1;
    local.tm_mday = day;
    local.tm_hour = hour;
    local.tm_min = minute;
    local.tm_isdst = -1;
    timeval times[2] = {{mktime(&local), 0}, {mktime(&local), 0}};
    ASSERT_EQ(utimes(path.c_str(), times), 0);
}

TEST(GetLastWriteTime, FormatsTheModificationTimeInLocalTime) {
    std::string path = MakeTempFile("x");
    SetLocalWriteTime(path, 2009, 3, 5, 14, 5);
    ConfigFile* file = OpenConfigFile(path.c_str());
    ASSERT_NE(file, nullptr);
    std::string timeText;
    EXPECT_EQ(GetLastWriteTime(file, &timeText), 1);
    EXPECT_EQ(timeText, "05/03/2009  14:05");
    CloseConfigFile(file);
    unlink(path.c_str());
}

TEST(ConfigFile, RefusesADirectory) {
    errno = 0;
    EXPECT_EQ(OpenConfigFile("/tmp"), nullptr);
    EXPECT_EQ(errno, EISDIR);
}

TEST(DownloadPrimaryConfig, EmptyPathDoesNothing) {
    Port closed;
    testing::internal::CaptureStdout();
    EXPECT_EQ(DownloadPrimaryConfig(closed, "").outcome, DownloadOutcome::NoPath);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

using DownloadOnPty = ServiceOnPty;

// The header announces 1000 bytes; the file loses them before the first block is read. The
// module must not be told the download is complete.
TEST_F(DownloadOnPty, FileEndingBeforeItsSizeIsReportedNotCompleted) {
    std::string path = MakeTempFile(std::string(1000, 'a'));
    Bytes header;
    std::thread module([&] {
        header = ReadFromLine(10);
        EXPECT_EQ(truncate(path.c_str(), 0), 0);
        WriteToLine({ACK});
    });
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    DownloadOutcome outcome = DownloadPrimaryConfig(*port_, path.c_str()).outcome;
    std::string printed = testing::internal::GetCapturedStdout();
    testing::internal::GetCapturedStderr();
    module.join();

    EXPECT_EQ(outcome, DownloadOutcome::FileReadFailed);
    EXPECT_EQ(header, (Bytes{0x02, 0x20, 0x00, 0x00, 0x10, 0xE8, 0x03, 0x00, 0x00, 0xFB}));
    std::string tail =
        "\rWriting primary configuration...   0 %\nFile ended after 0 of 1000 Byte: " + path + "\n";
    ASSERT_GE(printed.size(), tail.size());
    EXPECT_EQ(printed.substr(printed.size() - tail.size()), tail) << printed;
    EXPECT_TRUE(LineIsQuiet()) << "nothing may follow the header, not even ETX";
    unlink(path.c_str());
}

}  // namespace
