#include "update_outcome.h"

#include <gtest/gtest.h>

#include <string>

using namespace tarnix;

namespace {

constexpr const char* SLOW_HINT =
    "; replies are slow: a USB adapter's latency timer may be holding them (see the README, "
    "\"Reply latency\")";

struct FiguresCase {
    unsigned long replies;
    double replySeconds;
    std::string figures;  // after the port's name
};

// The figures and the latency hint come from the counted replies alone, so they are tested
// with given numbers: a run's own reply times depend on how busy the machine is.
TEST(DescribeUpdateOutcome, GivesTheMeanReplyAndTheLatencyHintOnlyAboveTheLimit) {
    const FiguresCase cases[] = {
        {0, 0, "; 9 commands, 176 data bytes, 1.5 s"},  // no reply: no mean
        {8, 8 * 0.0012, "; 9 commands, 176 data bytes, 1.5 s, mean reply 1.2 ms"},
        {8, 8 * 0.0079, "; 9 commands, 176 data bytes, 1.5 s, mean reply 7.9 ms"},
        {8, 8 * 0.0092,
         std::string("; 9 commands, 176 data bytes, 1.5 s, mean reply 9.2 ms") + SLOW_HINT},
        {8, 8 * 0.016,
         std::string("; 9 commands, 176 data bytes, 1.5 s, mean reply 16.0 ms") + SLOW_HINT},
    };
    for (const FiguresCase& c : cases) {
        UpdateResult result;
        result.commands = 9;
        result.dataBytes = 176;
        result.replies = c.replies;
        result.replySeconds = c.replySeconds;
        EXPECT_EQ(DescribeUpdateOutcome(result, 0x89, "/dev/pts/3", 1.5, "SIGINT"),
                  "completed: module 0x89 on /dev/pts/3" + c.figures)
            << c.replies << " replies in " << c.replySeconds << " s";
    }
}

// Slow replies on a local port point to its USB adapter's latency timer; on a network port to
// the network and the device server, never to this machine's adapter settings alone.
TEST(UpdateOutcome, TheSlowReplyHintFitsThePort) {
    struct Case {
        const char* port;
        double meanReplyMs;
        std::string hint;  // what follows the mean reply
    };
    const std::string LOCAL =
        "; replies are slow: a USB adapter's latency timer may be holding them (see the README, "
        "\"Reply latency\")";
    const std::string NETWORK =
        "; replies are slow: each crosses the network and the device server, where a USB "
        "adapter's latency timer may also hold them (see the README, \"Reply latency\")";
    const Case cases[] = {
        {"/dev/ttyUSB0", 16, LOCAL},
        {"COM3", 16, LOCAL},
        {"usb:A1B2C3", 16, LOCAL},
        {"rfc2217://127.0.0.1:2217", 16, NETWORK},
        {"socket://[::1]:4001", 16, NETWORK},
        {"rfc2217://127.0.0.1:2217", 2, ""},
        {"/dev/ttyUSB0", 2, ""},
    };
    for (const Case& c : cases) {
        UpdateResult result;
        result.commands = 10;
        result.replies = 10;
        result.replySeconds = c.meanReplyMs / 100;
        std::string line = DescribeUpdateOutcome(result, 0x89, c.port, 1.0, "");
        std::string mean =
            ", mean reply " + std::to_string(static_cast<int>(c.meanReplyMs)) + ".0 ms";
        EXPECT_EQ(line.substr(line.find(mean) + mean.size()), c.hint) << c.port;
    }
}

}  // namespace
