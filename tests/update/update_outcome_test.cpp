#include "update_outcome.h"

#include <gtest/gtest.h>

#include <string>

namespace {

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
