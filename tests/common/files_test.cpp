#include "file_change.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <string>

#include "regular_file.h"

using namespace tarnix;

namespace {

class Files : public testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/tarnix-files-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }

    std::string Write(const std::string& name, const std::string& content) {
        std::string path = dir_ + "/" + name;
        std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
        return path;
    }

    std::string dir_;
};

TEST_F(Files, OnlyARegularFileIsOpened) {
    RegularFile file = OpenRegularFile(Write("a.upd", "12345").c_str());
    ASSERT_NE(file.stream, nullptr);
    EXPECT_EQ(file.refusal, FileRefusal::None);
    EXPECT_EQ(file.size, 5u);
    fclose(file.stream);
    std::string fifo = dir_ + "/pipe";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::pair<std::string, FileRefusal> refused[] = {
        {fifo, FileRefusal::NotRegular},  // opening it would wait for a writer for ever
        {dir_, FileRefusal::NotRegular},
        {dir_ + "/missing", FileRefusal::NotFound},
    };
    for (const auto& [path, refusal] : refused) {
        file = OpenRegularFile(path.c_str());
        EXPECT_EQ(file.stream, nullptr) << path;
        EXPECT_EQ(file.refusal, refusal) << path;
    }
    EXPECT_EQ(file.error, ENOENT);
}

struct ChangeCase {
    const char* name;
    std::string rewritten;  // the file's content at the check
    ChangeCheck when;
    bool changed;
};

// Four bytes of "abcdefgh" were sent when the file is checked.
TEST_F(Files, ChangeIsWhatNoLongerBeginsWithTheBytesSent) {
    const ChangeCase cases[] = {
        {"unchanged", "abcdefgh", ChangeCheck::BetweenReads, false},
        {"grown after them", "abcdefghij", ChangeCheck::BetweenReads, false},
        {"rewritten", "abXdefgh", ChangeCheck::BetweenReads, true},
        {"cut short", "ab", ChangeCheck::BetweenReads, true},
        {"rewritten, stamp kept", "abXdefgh", ChangeCheck::AtEnd, true},
        {"unchanged at the end", "abcdefgh", ChangeCheck::AtEnd, false},
    };
    for (const ChangeCase& c : cases) {
        std::string path = Write("f", "abcdefgh");
        FILE* stream = fopen(path.c_str(), "rb");
        ASSERT_NE(stream, nullptr);
        FileRereader file = StreamRereader(stream);
        SentFile sent;
        ASSERT_TRUE(file.readStamp(&sent.stamp));
        AddToContentHash(&sent.sent, "abcd", 4);
        ASSERT_EQ(fseek(stream, 4, SEEK_SET), 0);
        Write("f", c.rewritten);
        if (c.when == ChangeCheck::AtEnd) {
            file.readStamp = [](FileStamp*) { return false; };  // a system without stamps
        } else {
            sent.stamp.size = 0xFFFF;  // the rewrite may share a timestamp; the size is not one
        }
        EXPECT_EQ(FileChangedWhileSent(file, &sent, c.when), c.changed) << c.name;
        if (!c.changed) {
            EXPECT_EQ(ftell(stream), 4) << c.name << ": goes on after the bytes sent";
        }
        fclose(stream);
    }
}

}  // namespace
