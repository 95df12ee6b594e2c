// A network port against a hostile server (the fake one): floods, a server that stops
// reading, answers that are late, missing, doubled or wrong, Telnet BINARY refused. Every run
// ends by itself with a clear failure (or, where the fault is harmless, completes); none is
// left for the harness to kill at its time limit.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <ostream>
#include <string>

#include "network_servers.h"
#include "run_against_module.h"
#include "temp_dir_test.h"

using namespace tarnix;

namespace {

const std::string EXAMPLE = TARNIX_SOURCE_DIR "/examples/display-config.upd";
constexpr int HARNESS_LIMIT_S = 60;
// Where the fault may be met at the open (2) or in the update (1), as the timing has it.
constexpr int ANY_FAILURE = -1;

struct BoundCase {
    const char* name;
    FakeServerOptions server;
    // 0: the example in record mode; else a line-mode file of this many lines of 299 bytes
    int lines;
    int exitCode;
    std::string saying;  // on standard error
};

void PrintTo(const BoundCase& c, std::ostream* os) {
    *os << c.name;
}

FakeServerOptions Answering() {
    return {.mode = FakeMode::Answers};
}

FakeServerOptions With(FakeServerOptions options, void (*change)(FakeServerOptions*)) {
    change(&options);
    return options;
}

const BoundCase BOUND_CASES[] = {
    {"FloodDuringTheNegotiation",
     With(Answering(), [](FakeServerOptions* o) { o->flood = FakeFlood::Data; }), 0, 2,
     "the server sent more than 4096 bytes that no command asked for"},
    {"EndlessSubnegotiation",
     With(Answering(), [](FakeServerOptions* o) { o->flood = FakeFlood::EndlessSubnegotiation; }),
     0, 2, "a Telnet subnegotiation of more than 64 bytes"},
    {"FloodAfterTheSettings",
     With(Answering(),
          [](FakeServerOptions* o) {
              o->flood = FakeFlood::Data;
              o->floodWhen = FakeWhen::AfterSettings;
          }),
     0, ANY_FAILURE, ""},
    {"NopFloodDuringAReplyWait",
     With(Answering(),
          [](FakeServerOptions* o) {
              o->flood = FakeFlood::Nop;
              o->floodWhen = o->stopWhen = FakeWhen::AfterDataBytes;
              o->silent = true;
              o->faultAfterDataBytes = 4;  // Start's ETX
          }),
     0, 1, "no reply to the Start command"},
    {"BinaryTurnedOffAfterTheSettings",
     With(Answering(),
          [](FakeServerOptions* o) {
              o->flood = FakeFlood::BinaryToggles;
              o->floodWhen = FakeWhen::AfterSettings;
          }),
     0, ANY_FAILURE, "the server turned Telnet BINARY mode off"},
    {"StopsReading",
     With(Answering(),
          [](FakeServerOptions* o) {
              o->stopsReading = true;
              o->stopWhen = FakeWhen::AfterSettings;
          }),
     20000, 1, "it has stopped reading"},
    {"SocketFloodAfterFinish",
     With(Answering(),
          [](FakeServerOptions* o) {
              o->rawTcp = true;
              o->flood = FakeFlood::Data;
              o->floodWhen = FakeWhen::AfterFinish;
          }),
     2, 0, "tarnix: completed"},
    {"RefusesBinary", With(Answering(), [](FakeServerOptions* o) { o->refusesBinary = true; }), 2,
     2, "the server refused Telnet BINARY mode"},
    {"DuplicateAcknowledgements",
     With(Answering(), [](FakeServerOptions* o) { o->ackFault = FakeAckFault::Duplicate; }), 2, 0,
     "tarnix: completed"},
    {"WrongParity",
     With(Answering(), [](FakeServerOptions* o) { o->ackFault = FakeAckFault::WrongParity; }), 2, 2,
     "SET-PARITY none was answered with even"},
    {"MissingDtrOffAnswer",
     With(Answering(), [](FakeServerOptions* o) { o->ackFault = FakeAckFault::Missing; }), 2, 2,
     "no acknowledgement of SET-CONTROL DTR off within 3 s"},
};

class HostileServer : public TempDirTest, public testing::WithParamInterface<BoundCase> {};

TEST_P(HostileServer, RunEndsByItselfWithAClearOutcome) {
    const BoundCase& c = GetParam();
    FakeRfc2217Server server = StartFakeServer(c.server);
    ASSERT_EQ(server.failure, "");
    std::string lines;
    for (int i = 0; i < c.lines; ++i) {
        lines += std::string(299, static_cast<char>('a' + i % 26)) + "\r\n";
    }
    std::string file = c.lines > 0 ? Write("lines.txt", lines) : EXAMPLE;
    std::string url = c.server.rawTcp ? SocketUrl(server.host, server.port) : Rfc2217Url(server);
    ProgramLaunch launch;
    launch.program = BinaryPath("tarnix");
    launch.args = {"0x89", file, c.lines > 0 ? "1" : "0", url};
    launch.timeLimitSeconds = HARNESS_LIMIT_S;
    ProgramRun run = RunProgram(launch);
    EXPECT_FALSE(run.timedOut) << "the run hung";
    if (c.exitCode == ANY_FAILURE) {
        EXPECT_TRUE(run.exitCode == 1 || run.exitCode == 2) << DescribeRun(run);
    } else {
        EXPECT_EQ(run.exitCode, c.exitCode) << DescribeRun(run);
    }
    EXPECT_NE(run.stderrText.find(c.saying), std::string::npos) << run.stderrText;
}

INSTANTIATE_TEST_SUITE_P(Faults, HostileServer, testing::ValuesIn(BOUND_CASES),
                         [](const testing::TestParamInfo<BoundCase>& param) {
                             return std::string(param.param.name);
                         });

class NetworkBounds : public TempDirTest {};

// A server that falls silent after the settings: the first command's reply is awaited the
// line's 5 s (measured on the server, from that command's ETX to the next frame), and the
// run ends soon after. Generous on both sides: a busy machine only adds time.
TEST_F(NetworkBounds, ReplyTimeOutIsFiveSeconds) {
    FakeRfc2217Server server = StartFakeServer(With(Answering(), [](FakeServerOptions* o) {
        o->silent = true;
        o->stopWhen = FakeWhen::AfterSettings;
    }));
    ASSERT_EQ(server.failure, "");
    ProgramLaunch launch;
    launch.program = BinaryPath("tarnix");
    launch.args = {"0x89", Write("params.txt", "one\r\n"), "1", Rfc2217Url(server)};
    launch.timeLimitSeconds = HARNESS_LIMIT_S;
    auto start = std::chrono::steady_clock::now();
    ProgramRun run = RunProgram(launch);
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(run.exitCode, 1) << DescribeRun(run);
    EXPECT_NE(run.stdoutText.find("TIMEOUT !!!"), std::string::npos) << run.stdoutText;
    FakeServerLog log = FakeServerReceived(server);
    size_t etx = log.data.find('\x03');
    ASSERT_NE(etx, std::string::npos);
    ASSERT_GT(log.dataSeconds.size(), etx + 1) << "a frame after the unanswered one (Finish)";
    double waited = log.dataSeconds[etx + 1] - log.dataSeconds[etx];
    EXPECT_GE(waited, 4.5);
    EXPECT_LT(seconds, 15.0);
}

// Settings acknowledged 2.9 s late each: an interrupt at 1 s ends the open at once, with no
// port opened (before, each late answer was awaited in turn, some 20 s).
TEST_F(NetworkBounds, InterruptEndsTheOpen) {
    FakeRfc2217Server server = StartFakeServer(With(Answering(), [](FakeServerOptions* o) {
        o->ackFault = FakeAckFault::Late;
        o->ackDelayMs = 2900;
    }));
    ASSERT_EQ(server.failure, "");
    ProgramLaunch launch;
    launch.program = BinaryPath("tarnix");
    launch.args = {"0x89", EXAMPLE, "0", Rfc2217Url(server)};
    launch.timeLimitSeconds = HARNESS_LIMIT_S;
    launch.signals = {{SIGINT, "", 1, 1000}};
    ProgramRun run = RunProgram(launch);
    EXPECT_EQ(run.exitCode, 130) << DescribeRun(run);
    EXPECT_EQ(run.stdoutText.find("Opened "), std::string::npos) << run.stdoutText;
    EXPECT_NE(run.stderrText.find("interrupted while waiting for"), std::string::npos)
        << run.stderrText;
}

// A name server on 127.0.0.1:53 that takes every query and answers none, for programs run in a
// private mount namespace whose /etc/resolv.conf names it alone: the look-up never leaves the
// machine. Needs root (the port, the namespace); empty `skip` when it runs.
struct SilentNameServer {
    int fd = -1;
    std::string skip;
    ~SilentNameServer() {
        if (fd >= 0) {
            close(fd);
        }
    }
};

void StartSilentNameServer(SilentNameServer* server) {
    if (geteuid() != 0 || std::system("unshare -m true >/dev/null 2>&1") != 0) {
        server->skip = "needs root and unshare -m for a private /etc/resolv.conf";
        return;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(53);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    server->fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (server->fd < 0 || bind(server->fd, reinterpret_cast<sockaddr*>(&address), sizeof address)) {
        server->skip = "127.0.0.1:53 is taken";
    }
}

// A name server that never answers (with a resolver willing to wait 30 s for it): the look-up
// stays within the 5 s connect limit, and an interrupt ends it at once.
TEST_F(NetworkBounds, NameLookUpKeepsTheConnectLimit) {
    SilentNameServer names;
    StartSilentNameServer(&names);
    if (!names.skip.empty()) {
        GTEST_SKIP() << names.skip;
    }
    std::string resolv =
        Write("resolv.conf", "nameserver 127.0.0.1\noptions timeout:30 attempts:1\n");
    const struct {
        int interruptAfterMs;
        int exitCode;
        const char* saying;
    } cases[] = {{-1, 2, "no answer within 5 s"}, {1000, 130, "interrupted"}};
    for (const auto& c : cases) {
        ProgramLaunch launch;
        launch.program = "/usr/bin/unshare";
        launch.args = {"-m",      "--propagation",
                       "private", "sh",
                       "-c",      "mount --bind \"$0\" /etc/resolv.conf && exec \"$@\"",
                       resolv,    BinaryPath("tarnix"),
                       "0x89",    EXAMPLE,
                       "0",       "rfc2217://module-rack.invalid:2217"};
        launch.timeLimitSeconds = HARNESS_LIMIT_S;
        if (c.interruptAfterMs >= 0) {
            launch.signals = {{SIGINT, "", 1, c.interruptAfterMs}};
        }
        ProgramRun run = RunProgram(launch);
        EXPECT_EQ(run.exitCode, c.exitCode) << DescribeRun(run);
        EXPECT_NE(run.stderrText.find(c.saying), std::string::npos) << run.stderrText;
    }
}

}  // namespace
