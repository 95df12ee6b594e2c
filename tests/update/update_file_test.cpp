#include "update_file.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <vector>

using namespace tarnix;

namespace {

// A header of 24 bytes, the block size and the CRC register of the first 28 bytes.
std::vector<uint8_t> MakeHeader(uint32_t blockSize) {
    std::vector<uint8_t> header(UPDATE_HEADER_SIZE, 0);
    memcpy(header.data(), "header under test", 17);
    for (int i = 0; i < 4; ++i) {
        header[BLOCK_SIZE_OFFSET + i] = static_cast<uint8_t>(blockSize >> (8 * i));
    }
    uint32_t crc = ComputeCrc32(header.data(), HEADER_CRC_OFFSET);
    for (int i = 0; i < 4; ++i) {
        header[HEADER_CRC_OFFSET + i] = static_cast<uint8_t>(crc >> (8 * i));
    }
    return header;
}

UpdateHeaderCheck CheckBytes(const std::vector<uint8_t>& bytes) {
    FILE* stream = tmpfile();
    if (!bytes.empty()) {
        fwrite(bytes.data(), 1, bytes.size(), stream);
    }
    rewind(stream);
    UpdateHeaderCheck check = CheckUpdateHeader(stream);
    fclose(stream);
    return check;
}

TEST(Crc32, IsTheRegisterWithoutFinalInversion) {
    const uint8_t abc[] = {'a', 'b', 'c'};
    EXPECT_EQ(ComputeCrc32(abc, 3), 0xCADBBE3Du);
    EXPECT_EQ(~ComputeCrc32(abc, 3), 0x352441C2u);  // the standard CRC-32 of "abc"
    EXPECT_EQ(ComputeCrc32(abc, 0), 0xFFFFFFFFu);
}

TEST(UpdateHeader, ValidHeaderGivesItsBlockSize) {
    UpdateHeaderCheck check = CheckBytes(MakeHeader(0x1234));
    EXPECT_TRUE(check.valid);
    EXPECT_EQ(check.blockSize, 0x1234u);
}

TEST(UpdateHeader, AnyDamagedByteFailsTheCheck) {
    const std::vector<uint8_t> good = MakeHeader(256);
    for (size_t i = 0; i < good.size(); ++i) {
        std::vector<uint8_t> damaged = good;
        damaged[i] ^= 0x01;
        EXPECT_FALSE(CheckBytes(damaged).valid) << "byte " << i;
    }
}

TEST(UpdateHeader, FileShorterThanHeaderIsInvalid) {
    // 28 zero bytes are a valid start; without their CRC bytes nothing must pass.
    EXPECT_FALSE(CheckBytes(std::vector<uint8_t>(28, 0)).valid);
    EXPECT_FALSE(CheckBytes({}).valid);
}

TEST(UpdateHeader, ReadsOnlyTheHeaderFromTheStream) {
    std::vector<uint8_t> bytes = MakeHeader(16);
    const char body[] = ":00000001FF\r\n";
    bytes.insert(bytes.end(), body, body + strlen(body));
    FILE* stream = tmpfile();
    fwrite(bytes.data(), 1, bytes.size(), stream);
    rewind(stream);
    ASSERT_TRUE(CheckUpdateHeader(stream).valid);
    EXPECT_EQ(getc(stream), ':');
    fclose(stream);
}

RecordLine Classify(const char* line, int previousCount = 7) {
    return ClassifyRecordLine(line, strlen(line), previousCount);
}

TEST(RecordLine, ReadsTypeAndByteCount) {
    RecordLine address = Classify(":020000040001F9\r\n");
    EXPECT_EQ(address.type, RECORD_EXTENDED_ADDRESS);
    EXPECT_EQ(address.byteCount, 2);
    RecordLine end = Classify(":00000001FF\r\n");
    EXPECT_EQ(end.type, RECORD_END_OF_FILE);
    EXPECT_EQ(end.byteCount, 0);
    RecordLine data = Classify(":10C0000068B61BCE10EFB005555E48C86836A7224B\n");
    EXPECT_EQ(data.type, RECORD_DATA);
    EXPECT_EQ(data.byteCount, 16);
    EXPECT_EQ(Classify(":FF000000").byteCount, 255);
    EXPECT_EQ(Classify(":ff000000").byteCount, 255);
}

TEST(RecordLine, ShortLinesCarryNoType) {
    EXPECT_EQ(Classify("\r\n").type, RECORD_NONE);
    EXPECT_EQ(Classify(":1000000").type, RECORD_NONE);  // 8 characters
    EXPECT_EQ(Classify("").type, RECORD_NONE);
}

TEST(RecordLine, CountWithoutHexDigitsKeepsThePreviousCount) {
    EXPECT_EQ(Classify(":XX000000", 9).byteCount, 9);
    EXPECT_EQ(Classify(":5X000000", 9).byteCount, 5);  // one digit scans as one digit
}

}  // namespace
