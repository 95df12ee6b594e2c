#include "framing.h"

#include <string>

#include "pty_peer.h"

namespace {

using Framing = PtyPeer;

std::vector<uint8_t> Bytes(const std::string& text) {
    return {text.begin(), text.end()};
}

struct SentLine {
    uint32_t written;
    std::string bufferAfter;  // the line buffer as the caller prints it
};

class DataLine : public PtyPeer {
protected:
    SentLine Send(const std::string& line) {
        char buffer[320] = {};
        line.copy(buffer, line.size());
        size_t length = line.size();
        uint32_t written = SendDataLine(0x89, buffer, &length);
        return {written, std::string(buffer, length)};
    }
};

TEST_F(Framing, CommandIsStxCommandModNrEtx) {
    OpenPort();
    SendCommand(CMD_FINISH, 0x89);
    SendCommand(CMD_START, 0x03);
    EXPECT_EQ(ReadFromLine(8),
              (std::vector<uint8_t>{0x02, 0x46, 0x89, 0x03, 0x02, 0x42, 0x03, 0x03}));
}

TEST_F(DataLine, CrLfLineEndBecomesEtx) {
    OpenPort();
    SentLine sent = Send(":00000001FF\r\n");  // 13 characters
    EXPECT_EQ(sent.written, 12u);
    EXPECT_EQ(sent.bufferAfter, ":00000001FF\x03");
    EXPECT_EQ(ReadFromLine(15), Bytes("\x02"
                                      "C\x89:00000001FF\x03"));
}

TEST_F(DataLine, LfLineEndBecomesEtx) {
    OpenPort();
    SentLine sent = Send("abc\n");
    EXPECT_EQ(sent.written, 4u);
    EXPECT_EQ(ReadFromLine(7), Bytes("\x02"
                                     "C\x89"
                                     "abc\x03"));
}

TEST_F(DataLine, LineWithoutLineEndKeepsItsLastCharacter) {
    OpenPort();
    EXPECT_EQ(Send("abc").written, 4u);
    EXPECT_EQ(Send("x").written, 2u);
    EXPECT_EQ(Send(std::string(299, 'z')).written, 300u);
    std::vector<uint8_t> expected = Bytes(
        "\x02"
        "C\x89"
        "abc\x03\x02"
        "C\x89x\x03\x02"
        "C\x89");
    std::vector<uint8_t> longPayload = Bytes(std::string(299, 'z') + "\x03");
    expected.insert(expected.end(), longPayload.begin(), longPayload.end());
    EXPECT_EQ(ReadFromLine(expected.size()), expected);
}

TEST_F(DataLine, EmptyLinesAndNulBytesAreSentAsTheyStand) {
    OpenPort();
    EXPECT_EQ(Send("\r\n").written, 1u);
    EXPECT_EQ(Send("\n").written, 1u);
    EXPECT_EQ(Send(std::string("\0ab\r\n", 5)).written, 4u);
    std::vector<uint8_t> expected =
        Bytes(std::string("\x02"
                          "C\x89\x03\x02"
                          "C\x89\x03\x02"
                          "C\x89\0ab\x03",
                          15));
    EXPECT_EQ(ReadFromLine(expected.size()), expected);
}

}  // namespace
