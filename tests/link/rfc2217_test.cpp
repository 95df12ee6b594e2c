#include "rfc2217.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace tarnix;

namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint8_t IAC = TELNET_IAC, SB = TELNET_SB, SE = TELNET_SE;
constexpr uint8_t WILL = TELNET_WILL, WONT = TELNET_WONT, DO = TELNET_DO, DONT = TELNET_DONT;
constexpr uint8_t CP = TELNET_OPTION_COM_PORT, BIN = TELNET_OPTION_BINARY;
constexpr uint8_t ECHO = 1, SGA = 3, TTYPE = 24, NOP = 241, GA = 249;

TEST(Rfc2217Send, BuildersGiveTheseBytes) {
    const uint8_t data[] = {0x02, 0xFF, 0x0D, 0x00, 0xFF, 0xFF};
    const struct {
        const char* what;
        Bytes sent;
        Bytes expected;
    } cases[] = {
        {"greeting", TelnetClientGreeting(), {IAC, WILL, CP, IAC, WILL, BIN, IAC, DO, BIN}},
        {"115200 baud",
         ComPortSubnegotiation(OpenSettingsSteps(115200)[0]),
         {IAC, SB, CP, 1, 0x00, 0x01, 0xC2, 0x00, IAC, SE}},
        {"a rate with 0xFF",
         ComPortSubnegotiation(OpenSettingsSteps(0x0001C2FF)[0]),
         {IAC, SB, CP, 1, 0x00, 0x01, 0xC2, 0xFF, 0xFF, IAC, SE}},
        {"two stop bits", ComPortSubnegotiation({4, {2}}), {IAC, SB, CP, 4, 2, IAC, SE}},
        {"purge", ComPortSubnegotiation(PurgeReceiveStep()), {IAC, SB, CP, 12, 1, IAC, SE}},
        {"data",
         EscapedData(data, sizeof data),
         {0x02, 0xFF, 0xFF, 0x0D, 0x00, 0xFF, 0xFF, 0xFF, 0xFF}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.sent, c.expected) << c.what;
    }
}

TEST(Rfc2217Send, OpenSettingsInOrder) {
    const std::vector<ComPortMessage> expected = {
        {1, {0x00, 0x01, 0xC2, 0x00}}, {2, {8}}, {3, {1}}, {4, {2}}, {5, {1}}, {5, {9}}, {5, {12}}};
    EXPECT_EQ(OpenSettingsSteps(115200), expected);
}

struct Decoded {
    Bytes data, answers;
    std::vector<ComPortMessage> acks;
    ComPortStanding comPort = ComPortStanding::Undecided;
    ComPortStanding binary = ComPortStanding::Undecided;
    int faults = 0;
};

// Decodes the bytes in the pieces [0, cut) and [cut, end) (a cut of 0 feeds them whole), or
// one byte at a time for a cut past the end.
Decoded Decode(const Bytes& bytes, size_t cut) {
    TelnetDecoder decoder;
    StartTelnetDecoder(&decoder);
    Decoded decoded;
    for (size_t start = 0; start < bytes.size();) {
        size_t end = cut > bytes.size() ? start + 1 : (start < cut ? cut : bytes.size());
        ServerBytesResult r = DecodeServerBytes(&decoder, bytes.data() + start, end - start);
        decoded.data.insert(decoded.data.end(), r.data.begin(), r.data.end());
        decoded.answers.insert(decoded.answers.end(), r.answers.begin(), r.answers.end());
        decoded.acks.insert(decoded.acks.end(), r.acks.begin(), r.acks.end());
        decoded.comPort = r.comPort;
        decoded.faults += r.fault != nullptr ? 1 : 0;
        start = end;
    }
    decoded.binary = BinaryStanding(decoder);
    return decoded;
}

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

// Each table is decoded at every cut (Decode's cuts 0 to size + 1) and must give the same.
TEST(Rfc2217Receive, DataAtEveryCut) {
    const struct {
        const char* what;
        Bytes in, data;
    } cases[] = {
        {"binary", {0x02, 'C', 0x0D, 0x00, 0x0A}, {0x02, 'C', 0x0D, 0x00, 0x0A}},
        {"IAC IAC", {0x01, IAC, IAC, 0x02}, {0x01, 0xFF, 0x02}},
        {"0xFF end marker", {'U', 'x', IAC, IAC}, {'U', 'x', 0xFF}},
        {"commands dropped", {'a', IAC, NOP, 'b', IAC, GA, IAC, SE, 'c'}, {'a', 'b', 'c'}},
        {"around negotiations",
         {'a', IAC, WILL, ECHO, 'b', IAC, SB, CP, 101, 'x', IAC, SE, 'c'},
         {'a', 'b', 'c'}},
        {"lost SE", {IAC, SB, CP, 101, 0, IAC, WILL, ECHO, 'a'}, {'a'}},
    };
    for (const auto& c : cases) {
        for (size_t cut = 0; cut <= c.in.size() + 1; ++cut) {
            EXPECT_EQ(Decode(c.in, cut).data, c.data) << c.what << ", cut " << cut;
        }
    }
}

TEST(Rfc2217Receive, NegotiationAtEveryCut) {
    using enum ComPortStanding;
    const struct {
        const char* what;
        Bytes in, answers;
        ComPortStanding comPort;
    } cases[] = {
        {"nothing yet", {'a'}, {}, Undecided},
        {"greeting accepted", {IAC, DO, CP, IAC, DO, BIN, IAC, WILL, BIN}, {}, Agreed},
        {"accepted twice", {IAC, DO, CP, IAC, DO, CP, IAC, WILL, BIN, IAC, WILL, BIN}, {}, Agreed},
        {"COM-PORT refused", {IAC, DONT, CP}, {}, Refused},
        {"refused, then asked", {IAC, DONT, CP, IAC, DO, CP}, {IAC, WILL, CP}, Agreed},
        {"agreed, then ended", {IAC, DO, CP, IAC, DONT, CP}, {IAC, WONT, CP}, Refused},
        {"others refused once",
         {IAC, WILL, ECHO, IAC, WILL, SGA, IAC, DO, TTYPE, IAC, WILL, ECHO, IAC, DO, TTYPE},
         {IAC, DONT, ECHO, IAC, DONT, SGA, IAC, WONT, TTYPE},
         Undecided},
        {"binary off",
         {IAC, WILL, BIN, IAC, WONT, BIN, IAC, WONT, BIN},
         {IAC, DONT, BIN},
         Undecided},
        {"lost SE", {IAC, SB, CP, 101, 0, IAC, WILL, ECHO}, {IAC, DONT, ECHO}, Undecided},
    };
    for (const auto& c : cases) {
        for (size_t cut = 0; cut <= c.in.size() + 1; ++cut) {
            Decoded d = Decode(c.in, cut);
            EXPECT_EQ(d.answers, c.answers) << c.what << ", cut " << cut;
            EXPECT_EQ(d.comPort, c.comPort) << c.what << ", cut " << cut;
        }
    }
}

TEST(Rfc2217Receive, AcksAtEveryCut) {
    const Bytes filler(62, 'f');  // with the code and one 0xFF: MAX_SUBNEGOTIATION_BYTES
    const struct {
        const char* what;
        Bytes in;
        std::vector<ComPortMessage> acks;
    } cases[] = {
        {"rate with 0xFF",
         {IAC, SB, CP, 101, 0, 1, 0xC2, 0xFF, 0xFF, IAC, SE},
         {{1, {0, 1, 0xC2, 0xFF}}}},
        {"settings",
         {IAC, SB,  CP, 102, 8,  IAC, SE,  IAC, SB,  CP, 103, 1,  IAC, SE,  IAC, SB,  CP, 104,
          1,   IAC, SE, IAC, SB, CP,  105, 12,  IAC, SE, IAC, SB, CP,  112, 1,   IAC, SE},
         {{2, {8}}, {3, {1}}, {4, {1}}, {5, {12}}, {12, {1}}}},
        {"notifications", {IAC, SB, CP, 106, 0x60, IAC, SE, IAC, SB, CP, 107, 0x30, IAC, SE}, {}},
        {"flow control", {IAC, SB, CP, 108, IAC, SE, IAC, SB, CP, 109, IAC, SE}, {}},
        {"signature, empty, other option",
         {IAC, SB, CP, 100, 'x', IAC, SE, IAC, SB, CP, IAC, SE, IAC, SB, TTYPE, 101, IAC, SE},
         {}},
        {"longest kept",
         Concat({{IAC, SB, CP, 105}, filler, {IAC, IAC, IAC, SE}}),
         {{5, Concat({filler, {0xFF}})}}},
        {"too long dropped",
         Concat({{IAC, SB, CP, 105}, filler, {'g', 'h', IAC, SE, IAC, SB, CP, 104, 2, IAC, SE}}),
         {{4, {2}}}},
    };
    for (const auto& c : cases) {
        for (size_t cut = 0; cut <= c.in.size() + 1; ++cut) {
            Decoded d = Decode(c.in, cut);
            EXPECT_EQ(d.acks, c.acks) << c.what << ", cut " << cut;
            // Past the bound a subnegotiation is a protocol fault, said once.
            EXPECT_EQ(d.faults, c.what == std::string("too long dropped") ? 1 : 0) << c.what;
        }
    }
}

TEST(Rfc2217Receive, BinaryStandingAtEveryCut) {
    using enum ComPortStanding;
    const struct {
        const char* what;
        Bytes in;
        ComPortStanding binary;
    } cases[] = {
        {"nothing yet", {}, Undecided},
        {"one way only", {IAC, DO, BIN}, Undecided},
        {"both ways", {IAC, WILL, BIN, IAC, DO, BIN}, Agreed},
        {"server refuses its side", {IAC, DO, BIN, IAC, WONT, BIN}, Refused},
        {"server refuses ours", {IAC, DONT, BIN, IAC, WILL, BIN}, Refused},
        {"turned off later", {IAC, WILL, BIN, IAC, DO, BIN, IAC, WONT, BIN}, Refused},
    };
    for (const auto& c : cases) {
        for (size_t cut = 0; cut <= c.in.size() + 1; ++cut) {
            EXPECT_EQ(Decode(c.in, cut).binary, c.binary) << c.what << ", cut " << cut;
        }
    }
}

// The settings go out together; each answer is checked against its own setting, whatever
// order the answers come in, and a late duplicate never blames another setting.
TEST(Rfc2217Settings, EachAnswerCheckedAgainstItsOwnSetting) {
    const std::vector<ComPortMessage> steps = OpenSettingsSteps(115200);
    const ComPortMessage rate = steps[0];
    const struct {
        const char* what;
        std::vector<ComPortMessage> acks;
        bool allConfirmed;
        std::string mismatch, firstOpen;
    } cases[] = {
        {"in order", steps, true, "", ""},
        {"reversed", {steps.rbegin(), steps.rend()}, true, "", ""},
        {"none yet", {}, false, "", "SET-BAUDRATE 115200"},
        {"duplicate of flow control while DTR off is open",
         {rate, {2, {8}}, {3, {1}}, {4, {2}}, {5, {1}}, {5, {1}}},
         false,
         "",
         "SET-CONTROL DTR off"},
        {"DTR refused",
         {rate, {5, {1}}, {5, {8}}},
         false,
         "SET-CONTROL DTR off was answered with DTR on",
         "SET-DATASIZE 8"},
        {"one stop bit",
         {{4, {1}}},
         false,
         "SET-STOPSIZE 2 was answered with 1",
         "SET-BAUDRATE 115200"},
        {"unasked answers ignored", {{12, {1}}, {0, {}}}, false, "", "SET-BAUDRATE 115200"},
    };
    for (const auto& c : cases) {
        SettingsProgress progress = StartSettings(steps);
        for (const ComPortMessage& ack : c.acks) {
            TakeSettingAck(&progress, ack);
        }
        EXPECT_EQ(AllSettingsConfirmed(progress), c.allConfirmed) << c.what;
        EXPECT_EQ(progress.mismatch, c.mismatch) << c.what;
        EXPECT_EQ(FirstUnconfirmedSetting(progress), c.firstOpen) << c.what;
    }
}

TEST(Rfc2217Ack, MatchesAndMismatchesInWords) {
    const ComPortMessage rate = OpenSettingsSteps(115200)[0];
    const struct {
        ComPortMessage step, ack;
        const char* words;  // "" for a match
    } cases[] = {
        {{4, {2}}, {4, {2}}, ""},
        {rate, {1, {0x00, 0x01, 0xC2, 0x00}}, ""},
        {{4, {2}}, {4, {1}}, "SET-STOPSIZE 2 was answered with 1"},
        {rate, {1, {0x00, 0x00, 0x25, 0x80}}, "SET-BAUDRATE 115200 was answered with 9600"},
        {rate, {1, {0x00, 0x01, 0xC2}}, "SET-BAUDRATE 115200 was answered with 0x00 0x01 0xC2"},
        {{5, {9}}, {3, {9}}, "SET-CONTROL DTR off was answered with SET-PARITY code 9"},
        {{3, {1}}, {3, {3}}, "SET-PARITY none was answered with even"},
        {{5, {1}}, {5, {3}}, "SET-CONTROL no flow control was answered with hardware flow control"},
        {{2, {8}}, {2, {}}, "SET-DATASIZE 8 was answered with nothing"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(AckMatches(c.step, c.ack), c.words[0] == '\0') << c.words;
        EXPECT_EQ(DescribeAckMismatch(c.step, c.ack), c.words);
    }
}

}  // namespace
