#include "update_outcome.h"

#include <gtest/gtest.h>

#include <string>

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

}  // namespace
