#include "framing.h"

#include <gtest/gtest.h>

#include <string>

using namespace tarnix;

namespace {

std::vector<uint8_t> Bytes(const std::string& text) {
    return {text.begin(), text.end()};
}

TEST(Framing, CommandIsStxCommandModNrEtxSentByteByByte) {
    EXPECT_EQ(CommandFrame(CMD_FINISH, 0x89).head, (std::vector<uint8_t>{0x02, 0x46, 0x89, 0x03}));
    EXPECT_EQ(CommandFrame(CMD_START, 0x03).head, (std::vector<uint8_t>{0x02, 0x42, 0x03, 0x03}));
    EXPECT_TRUE(CommandFrame(CMD_END, 0x89).block.empty());
}

// A Data command: STX 'C' ModNr byte by byte, the line's text and ETX as one block; the line
// buffer is left as the caller prints it (the text and ETX).
TEST(Framing, DataLineReplacesTheLineEndWithEtx) {
    const struct {
        std::string line;
        std::string payload;
    } cases[] = {
        {":00000001FF\r\n", ":00000001FF\x03"},  // CR LF
        {"abc\n", "abc\x03"},                    // LF
        {"abc", "abc\x03"},                      // none: the last character stays
        {"x", "x\x03"},                          // a single character
        {std::string(299, 'z'), std::string(299, 'z') + "\x03"},
        {"\r\n", "\x03"},  // empty lines
        {"\n", "\x03"},
        {std::string("\0ab\r\n", 5), std::string("\0ab\x03", 4)},  // NUL is text
        {"a\rb\n", "a\rb\x03"},                                    // a CR inside the text stays
    };
    for (const auto& c : cases) {
        char buffer[320] = {};
        c.line.copy(buffer, c.line.size());
        size_t length = c.line.size();
        Frame frame = DataLineFrame(0x89, buffer, &length);
        EXPECT_EQ(frame.head, Bytes("\x02"
                                    "C\x89"));
        EXPECT_EQ(frame.block, Bytes(c.payload));
        EXPECT_EQ(std::string(buffer, length), c.payload);
        EXPECT_EQ(buffer[length], '\0');
    }
}

}  // namespace
