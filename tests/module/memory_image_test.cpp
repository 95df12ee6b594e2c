#include "memory_image.h"

#include <gtest/gtest.h>

#include <cstdio>

#include <unistd.h>

#include "update_file_builder.h"

using namespace tarnix;

namespace {

MemoryImage ImageOf(std::initializer_list<std::pair<uint32_t, std::vector<uint8_t>>> writes) {
    MemoryImage image;
    for (const auto& [address, bytes] : writes) {
        WriteImageBytes(&image, address, bytes.data(), bytes.size());
    }
    return image;
}

TEST(MemoryImage, MergesRunsWrittenInAnyOrder) {
    MemoryImage forward = ImageOf({{0x10, {1, 2}}, {0x12, {3, 4}}, {0x20, {9}}});
    MemoryImage backward = ImageOf({{0x20, {9}}, {0x12, {3, 4}}, {0x10, {1, 2}}});
    EXPECT_EQ(forward.segments, backward.segments);
    EXPECT_EQ(DescribeImageSegments(forward), "0x00000010-0x00000013, 0x00000020-0x00000020");

    // A write that bridges the gap joins both runs into one.
    std::vector<uint8_t> bridge(13, 0xEE);
    EXPECT_EQ(WriteImageBytes(&forward, 0x13, bridge.data(), bridge.size()), 1u);
    ASSERT_EQ(forward.segments.size(), 1u);
    const std::vector<uint8_t>& run = forward.segments.at(0x10);
    ASSERT_EQ(run.size(), 17u);
    EXPECT_EQ(run[2], 3);
    EXPECT_EQ(run[3], 0xEE);  // overwritten
    EXPECT_EQ(run[16], 9);
}

TEST(MemoryImage, CountsOverwrittenBytes) {
    MemoryImage image = ImageOf({{0x100, std::vector<uint8_t>(16, 1)}});
    std::vector<uint8_t> again(16, 2);
    EXPECT_EQ(WriteImageBytes(&image, 0x108, again.data(), again.size()), 8u);
    EXPECT_EQ(WriteImageBytes(&image, 0x0F8, again.data(), again.size()), 8u);
    EXPECT_EQ(ImageByteCount(image), 32u);
    EXPECT_EQ(image.segments.size(), 1u);
}

TEST(MemoryImage, WrapsAtTheTopOfTheAddressSpace) {
    MemoryImage image = ImageOf({{0xFFFFFFFE, {1, 2, 3, 4}}});
    EXPECT_EQ(DescribeImageSegments(image), "0x00000000-0x00000001, 0xFFFFFFFE-0xFFFFFFFF");
}

TEST(MemoryImage, ComparisonNamesTheFirstDifference) {
    MemoryImage expected = ImageOf({{0x10, {1, 2, 3}}});
    std::string difference;
    EXPECT_TRUE(CompareImages(expected, ImageOf({{0x10, {1}}, {0x11, {2, 3}}}), &difference));
    EXPECT_EQ(difference, "");
    EXPECT_FALSE(CompareImages(expected, ImageOf({{0x10, {1, 7, 3}}}), &difference));
    EXPECT_EQ(difference, "byte at 0x00000011 is 0x07, expected 0x02");
    EXPECT_FALSE(CompareImages(expected, ImageOf({{0x10, {1, 2}}}), &difference));
    EXPECT_EQ(difference, "byte at 0x00000012 missing (expected 0x03)");
    EXPECT_FALSE(CompareImages(expected, ImageOf({{0x0F, {0, 1, 2, 3}}}), &difference));
    EXPECT_EQ(difference, "unexpected byte 0x00 at 0x0000000F");
}

TEST(HexRecord, ParsesAndRefuses) {
    HexRecord record;
    std::string problem;
    bool badChecksum = false;
    ASSERT_TRUE(ParseHexRecord(":0300300002337a1e", &record, &problem, &badChecksum)) << problem;
    EXPECT_EQ(record.address, 0x0030);
    EXPECT_EQ(record.type, 0);
    EXPECT_EQ(record.data, (std::vector<uint8_t>{0x02, 0x33, 0x7A}));

    const char* const refused[] = {"0300300002337A1E",
                                   ":0300300002337A1F",
                                   ":0400300002337A1E",
                                   ":03003000 2337A1E",
                                   ":00000006FA",
                                   ":0100000401FA",
                                   ""};
    for (const char* line : refused) {
        EXPECT_FALSE(ParseHexRecord(line, &record, &problem, &badChecksum)) << line;
    }
    ParseHexRecord(":0300300002337A1F", &record, &problem, &badChecksum);
    EXPECT_TRUE(badChecksum);
    EXPECT_EQ(problem, "checksum 0x1F should be 0x1E");
}

class UpdateFileImage : public ::testing::Test {
protected:
    void TearDown() override {
        std::remove(path_.c_str());
        rmdir(dir_.c_str());
    }
    std::string dir_ = MakeTempDir();
    std::string path_ = dir_ + "/test.upd";
};

TEST_F(UpdateFileImage, ReadsRecordsWithEitherLineEnd) {
    std::vector<std::string> lines = MakeRecordLines(0x1FFF0, PatternBytes(48, 5));
    lines.insert(lines.begin() + 2, "");  // a blank line is no record and no harm
    lines.push_back(MakeEndRecord());
    MemoryImage expected = ImageOf({{0x1FFF0, PatternBytes(48, 5)}});
    for (const char* lineEnd : {"\r\n", "\n"}) {
        ASSERT_TRUE(WriteFileBytes(path_, BuildUpdateFile(16, lines, lineEnd)));
        MemoryImage image;
        std::string error;
        ASSERT_TRUE(LoadUpdateImage(path_, &image, &error)) << error;
        EXPECT_EQ(image.segments, expected.segments);
    }
}

TEST_F(UpdateFileImage, RefusesWhatIsNoUpdateFile) {
    MemoryImage image;
    std::string error;
    ASSERT_TRUE(WriteFileBytes(path_, BuildUpdateFile(16, {MakeEndRecord(), "garbage"})));
    EXPECT_FALSE(LoadUpdateImage(path_, &image, &error));
    EXPECT_NE(error.find("line 2"), std::string::npos) << error;
    ASSERT_TRUE(WriteFileBytes(path_, "short"));
    EXPECT_FALSE(LoadUpdateImage(path_, &image, &error));
    EXPECT_FALSE(LoadUpdateImage(dir_ + "/missing.upd", &image, &error));
}

TEST_F(UpdateFileImage, BinaryOutputFillsGaps) {
    MemoryImage image = ImageOf({{0x100, {1, 2}}, {0x104, {5}}});
    std::string error;
    ASSERT_TRUE(WriteImageBinary(image, path_, 1024, &error)) << error;
    EXPECT_EQ(ReadFileBytes(path_), std::string("\x01\x02\xFF\xFF\x05", 5));
    EXPECT_FALSE(WriteImageBinary(image, path_, 4, &error));
}

}  // namespace
