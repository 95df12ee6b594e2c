#include "module_protocol.h"
#include "module_verdict.h"

#include <gtest/gtest.h>

#include <poll.h>

#include "module_on_pty.h"
#include "update_file_builder.h"

using namespace tarnix;

namespace {

std::vector<uint8_t> UpdateCommand(uint8_t command, uint8_t modNr) {
    return {MODULE_STX, command, modNr, MODULE_ETX};
}

std::vector<uint8_t> DataCommand(uint8_t modNr, const std::string& text) {
    return Concat(Concat({MODULE_STX, 'C', modNr}, Bytes(text)), {MODULE_ETX});
}

uint8_t Sum(const std::vector<uint8_t>& bytes) {
    return ModuleSumChecksum(bytes.data(), bytes.size());
}

std::vector<uint8_t> DownloadHeader(uint32_t size) {
    std::vector<uint8_t> header{0x00,
                                0x00,
                                0x10,
                                static_cast<uint8_t>(size),
                                static_cast<uint8_t>(size >> 8),
                                static_cast<uint8_t>(size >> 16),
                                static_cast<uint8_t>(size >> 24)};
    header.push_back(Sum(header));
    return header;
}

std::vector<uint8_t> Slice(const std::vector<uint8_t>& bytes, size_t from, size_t count) {
    return std::vector<uint8_t>(bytes.begin() + static_cast<std::ptrdiff_t>(from),
                                bytes.begin() + static_cast<std::ptrdiff_t>(from + count));
}

// Bytes that put STX and ETX everywhere a parser looking for ETX would stumble.
std::vector<uint8_t> ControlHeavyBytes(size_t count) {
    std::vector<uint8_t> bytes(count);
    for (size_t i = 0; i < count; ++i) {
        bytes[i] = i % 3 == 0 ? MODULE_STX : i % 3 == 1 ? MODULE_ETX : static_cast<uint8_t>(i);
    }
    return bytes;
}

// A name/time pair whose timestamp checksum is the given byte.
std::string NameWithTimestampSum(const std::string& timeText, uint8_t wanted) {
    std::string name = "primary.rbf";
    auto sumOf = [&timeText](const std::string& n) {
        return static_cast<uint8_t>(Sum(Bytes(n)) + '\n' + Sum(Bytes(timeText)));
    };
    for (;;) {
        uint8_t missing = static_cast<uint8_t>(wanted - sumOf(name));
        if (missing >= 'A' && missing <= 'z') {
            return name + static_cast<char>(missing);
        }
        name += 'z';
    }
}

std::vector<uint8_t> TimestampCommand(const std::string& name, const std::string& timeText,
                                      uint8_t checksum) {
    std::vector<uint8_t> frame = Concat({MODULE_STX, '"'}, Bytes(name));
    frame.push_back('\n');
    frame = Concat(frame, Bytes(timeText));
    frame.push_back(0x00);
    frame.push_back(checksum);
    frame.push_back(MODULE_ETX);
    return frame;
}

using FrameParsing = ModuleOnPty;

TEST_F(FrameParsing, UpdateFramesAcceptEtxAsModNr) {
    StartModule(ModuleConfig{});
    std::string record = MakeDataRecord(0x0100, {1, 2, 3, 4});
    Send(UpdateCommand('B', MODULE_ETX));
    EXPECT_EQ(Receive(1), std::vector<uint8_t>{MODULE_ACK});
    Send(DataCommand(MODULE_ETX, record));
    EXPECT_EQ(Receive(1), std::vector<uint8_t>{MODULE_ACK});
    Send(UpdateCommand('D', MODULE_ETX));
    EXPECT_EQ(Receive(1), std::vector<uint8_t>{MODULE_ACK});
    Send(UpdateCommand('E', MODULE_ETX));
    EXPECT_EQ(Receive(1), std::vector<uint8_t>{MODULE_ACK});
    Send(UpdateCommand('F', MODULE_ETX));

    const ModuleLog& log = StopModule();
    EXPECT_TRUE(log.errors.empty()) << DescribeModuleVerdict(log, nullptr);
    ASSERT_EQ(log.frames.size(), 5u);
    for (const ModuleFrame& frame : log.frames) {
        EXPECT_TRUE(frame.closed);
        EXPECT_TRUE(frame.hasModNr);
        EXPECT_EQ(frame.modNr, MODULE_ETX);
    }
    EXPECT_EQ(log.frames[1].payload, Bytes(record));
    EXPECT_EQ(log.frames[4].reply, std::vector<uint8_t>{});  // Finish is never answered
    EXPECT_EQ(log.sent, std::vector<uint8_t>(4, MODULE_ACK));
    ASSERT_EQ(log.image.segments.size(), 1u);
    EXPECT_EQ(log.image.segments.begin()->first, 0x0100u);
    EXPECT_EQ(log.image.segments.begin()->second, (std::vector<uint8_t>{1, 2, 3, 4}));
}

TEST_F(FrameParsing, ParameterEtxAndStatusWithoutEtx) {
    ModuleConfig config;
    config.statusValue = 0x0A0B0C;
    StartModule(config);
    Send({MODULE_STX, '$', 0x00, 0x00, MODULE_ETX, MODULE_ETX, MODULE_ETX});
    EXPECT_EQ(Receive(1), std::vector<uint8_t>{MODULE_ACK});
    Send({MODULE_STX, 'S'});
    EXPECT_EQ(Receive(4), (std::vector<uint8_t>{'U', 0x0C, 0x0B, 0x0A}));

    const ModuleLog& log = StopModule();
    EXPECT_TRUE(log.errors.empty()) << DescribeModuleVerdict(log, nullptr);
    EXPECT_EQ(log.parameters, std::vector<uint8_t>{MODULE_ETX});
    ASSERT_EQ(log.frames.size(), 2u);
    EXPECT_EQ(log.frames[1].raw, (std::vector<uint8_t>{MODULE_STX, 'S'}));
}

TEST_F(FrameParsing, TimestampChecksumMayBeEtx) {
    StartModule(ModuleConfig{});
    std::string timeText = "05/03/2009  14:05";
    std::string name = NameWithTimestampSum(timeText, MODULE_ETX);
    Send(TimestampCommand(name, timeText, MODULE_ETX));
    EXPECT_EQ(Receive(1), std::vector<uint8_t>{MODULE_ACK});
    Send(TimestampCommand(name, timeText, 0x7F));
    EXPECT_EQ(Receive(1), std::vector<uint8_t>{MODULE_ACK});

    const ModuleLog& log = StopModule();
    ASSERT_EQ(log.timestamps.size(), 2u);
    EXPECT_EQ(log.timestamps[0].fileName, name);
    EXPECT_EQ(log.timestamps[0].timeText, timeText);
    ASSERT_EQ(log.errors.size(), 1u) << DescribeModuleVerdict(log, nullptr);
    EXPECT_EQ(log.errors[0].kind, ModuleErrorKind::TimestampChecksum);
    EXPECT_EQ(log.errors[0].frameIndex, 1u);
}

TEST_F(FrameParsing, DownloadBlocksMayHoldStxAndEtx) {
    StartModule(ModuleConfig{});
    std::vector<uint8_t> file = ControlHeavyBytes(300);
    Send(Concat({MODULE_STX, ' '}, DownloadHeader(300)));
    EXPECT_EQ(Receive(1), std::vector<uint8_t>{MODULE_ACK});
    for (auto [from, count] : {std::pair<size_t, size_t>{0, 256}, {256, 44}}) {
        std::vector<uint8_t> block = Slice(file, from, count);
        block.push_back(Sum(block));
        Send(block);
        EXPECT_EQ(Receive(1), std::vector<uint8_t>{MODULE_ACK});
    }
    // The closing ETX gets no reply: the next byte answers the status query.
    Send({MODULE_ETX, MODULE_STX, 'S'});
    EXPECT_EQ(Receive(1), std::vector<uint8_t>{'U'});

    const ModuleLog& log = StopModule();
    EXPECT_TRUE(log.errors.empty()) << DescribeModuleVerdict(log, nullptr);
    ASSERT_EQ(log.downloads.size(), 1u);
    EXPECT_EQ(log.downloads[0].data, file);
    EXPECT_EQ(log.downloads[0].blocks, 2u);
    EXPECT_TRUE(log.downloads[0].closed);
    EXPECT_TRUE(log.frames[0].closed);
    EXPECT_EQ(log.frames[0].payload, file);
}

TEST_F(FrameParsing, DownloadChecksumsAreChecked) {
    StartModule(ModuleConfig{});
    std::vector<uint8_t> file = PatternBytes(512, 3);
    std::vector<uint8_t> header = DownloadHeader(512);
    header[7] ^= 0x01;
    Send(Concat({MODULE_STX, ' '}, header));
    EXPECT_EQ(Receive(1), std::vector<uint8_t>{MODULE_ACK});
    Send(Concat(Slice(file, 0, 256), {Sum(Slice(file, 0, 256))}));
    EXPECT_EQ(Receive(1), std::vector<uint8_t>{MODULE_ACK});
    Send(Concat(Slice(file, 256, 256), {static_cast<uint8_t>(Sum(Slice(file, 256, 256)) + 1)}));
    EXPECT_EQ(Receive(1), std::vector<uint8_t>{MODULE_ACK});
    Send({MODULE_ETX});

    const ModuleLog& log = StopModule();
    ASSERT_EQ(log.errors.size(), 2u) << DescribeModuleVerdict(log, nullptr);
    EXPECT_EQ(log.errors[0].kind, ModuleErrorKind::DownloadHeader);
    EXPECT_EQ(log.errors[1].kind, ModuleErrorKind::DownloadChecksum);
    EXPECT_NE(log.errors[1].text.find("block 2"), std::string::npos) << log.errors[1].text;
    ASSERT_EQ(log.downloads.size(), 1u);
    EXPECT_EQ(log.downloads[0].data, file);
    EXPECT_TRUE(log.downloads[0].closed);
}

TEST_F(FrameParsing, InformationRepliesCarryTextMarkerAndChecksum) {
    ModuleConfig config;
    config.velox.text = "ABC";
    for (int i = 0; i < 256; ++i) {
        config.flash.text += static_cast<char>('0' + i % 10);
    }
    StartModule(config);
    Send({MODULE_STX, '!', MODULE_ETX});
    EXPECT_EQ(Receive(7), (std::vector<uint8_t>{0x02, 0x21, 0x41, 0x42, 0x43, 0x00, 0xC6}));
    Send({MODULE_STX, '#', MODULE_ETX});
    std::vector<uint8_t> expected = Concat({0x02, '#'}, Bytes(config.flash.text));
    expected.push_back(Sum(Bytes(config.flash.text)));  // no marker after 256 bytes
    EXPECT_EQ(Receive(expected.size()), expected);

    const ModuleLog& log = StopModule();
    EXPECT_TRUE(log.errors.empty()) << DescribeModuleVerdict(log, nullptr);
    EXPECT_EQ(log.sent.size(), 7 + expected.size());
}

TEST_F(FrameParsing, FaultsFireAtTheirOccurrence) {
    ModuleConfig config;
    config.faults = {RejectAt(FaultPoint::Data, 3, 0x15), SilentAt(FaultPoint::Program, 2),
                     RejectAt(FaultPoint::Start, 2, 0x42)};
    StartModule(config);
    Send(UpdateCommand('B', 0x89));
    EXPECT_EQ(Receive(1), std::vector<uint8_t>{MODULE_ACK});
    for (uint16_t i = 0; i < 2; ++i) {
        Send(DataCommand(0x89, MakeDataRecord(static_cast<uint16_t>(i * 16), PatternBytes(16, i))));
        EXPECT_EQ(Receive(1), std::vector<uint8_t>{MODULE_ACK});
        Send(UpdateCommand('D', 0x89));
        if (i == 0) {
            EXPECT_EQ(Receive(1), std::vector<uint8_t>{MODULE_ACK});
        }
    }
    // Had the second Program been answered, its ACK would come first here.
    Send(DataCommand(0x89, MakeDataRecord(0x20, PatternBytes(16, 2))));
    Send(UpdateCommand('E', 0x89));
    EXPECT_EQ(Receive(2), (std::vector<uint8_t>{0x15, MODULE_ACK}));
    Send(UpdateCommand('F', 0x89));
    Send(UpdateCommand('B', 0x89));
    EXPECT_EQ(Receive(1), std::vector<uint8_t>{0x42});

    const ModuleLog& log = StopModule();
    // The silent Program counts as a rejection, so data after it is out of order.
    ASSERT_EQ(log.errors.size(), 1u) << DescribeModuleVerdict(log, nullptr);
    EXPECT_EQ(log.errors[0].kind, ModuleErrorKind::Order);
    EXPECT_EQ(log.errors[0].frameIndex, 5u);
    // The rejected record never reaches the image.
    EXPECT_EQ(ImageByteCount(log.image), 32u);
}

// On the line: bytes waiting before the program's first frame, an extra byte after a reply, and
// a reply held back until after the frame that follows it.
TEST_F(FrameParsing, StrayBytesGoOutWhereConfigured) {
    ModuleConfig config;
    config.bytesBeforeStart = {0x15, 0x06};
    config.extraReplies = {ExtraReply{FaultPoint::Data, 1, {0x42}}};
    config.lateReplies = {LateReply{FaultPoint::Program, 1, 400}};
    StartModule(config);
    EXPECT_EQ(Receive(2), (std::vector<uint8_t>{0x15, 0x06}));
    Send(UpdateCommand('B', 0x89));
    EXPECT_EQ(Receive(1), std::vector<uint8_t>{MODULE_ACK});
    Send(DataCommand(0x89, MakeDataRecord(0, PatternBytes(16, 0))));
    EXPECT_EQ(Receive(2), (std::vector<uint8_t>{MODULE_ACK, 0x42}));
    Send(UpdateCommand('D', 0x89));
    pollfd ready{programFd_, POLLIN, 0};
    EXPECT_EQ(poll(&ready, 1, 100), 0) << "the Program reply came early";
    Send(UpdateCommand('E', 0x89));
    EXPECT_EQ(Receive(2), (std::vector<uint8_t>{MODULE_ACK, MODULE_ACK}));
    const ModuleLog& log = StopModule();
    EXPECT_EQ(log.sent.size(), 7u);
}

TEST_F(FrameParsing, RejectedDownloadStopsWhereTheModuleSaidNo) {
    ModuleConfig config;
    config.faults = {RejectAt(FaultPoint::DownloadBlock, 2, 0x15)};
    StartModule(config);
    std::vector<uint8_t> file = PatternBytes(600, 9);
    Send(Concat({MODULE_STX, ' '}, DownloadHeader(600)));
    EXPECT_EQ(Receive(1), std::vector<uint8_t>{MODULE_ACK});
    Send(Concat(Slice(file, 0, 256), {Sum(Slice(file, 0, 256))}));
    EXPECT_EQ(Receive(1), std::vector<uint8_t>{MODULE_ACK});
    Send(Concat(Slice(file, 256, 256), {Sum(Slice(file, 256, 256))}));
    EXPECT_EQ(Receive(1), std::vector<uint8_t>{0x15});
    // The program gives up without ETX; the next frame is parsed from scratch.
    Send({MODULE_STX, 'S'});
    EXPECT_EQ(Receive(1), std::vector<uint8_t>{'U'});

    const ModuleLog& log = StopModule();
    EXPECT_TRUE(log.errors.empty()) << DescribeModuleVerdict(log, nullptr);
    ASSERT_EQ(log.downloads.size(), 1u);
    EXPECT_EQ(log.downloads[0].data.size(), 512u);
    EXPECT_FALSE(log.downloads[0].closed);
    EXPECT_FALSE(log.frames[0].closed);
}

}  // namespace
