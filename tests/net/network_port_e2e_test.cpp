// The programs on ports reached over the network, against two independent real RFC 2217
// servers (ser2net and pyserial's port manager) carrying the connection to an emulated module,
// and against a fake server for the faults that real servers do not show.

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "module_process.h"
#include "network_servers.h"
#include "run_against_module.h"
#include "temp_dir_test.h"
#include "update_file_builder.h"

using namespace tarnix;

namespace {

const std::string EXAMPLE = TARNIX_SOURCE_DIR "/examples/display-config.upd";

// The module's pseudo-terminal as the test holds it open as well: its settings outlast the
// server's close, and they start at 9600 8N1, so only the program's commands can have set
// 115200 8N2.
struct HeldPty {
    int fd = -1;
    ~HeldPty() {
        if (fd >= 0) {
            close(fd);
        }
    }
};

bool HoldAt9600_8N1(const std::string& path, HeldPty* held) {
    held->fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios settings{};
    if (held->fd < 0 || tcgetattr(held->fd, &settings) != 0) {
        return false;
    }
    cfsetispeed(&settings, B9600);
    cfsetospeed(&settings, B9600);
    settings.c_cflag = (settings.c_cflag & ~(CSIZE | CSTOPB | PARENB)) | CS8;
    return tcsetattr(held->fd, TCSANOW, &settings) == 0;
}

std::string LineSettings(const HeldPty& held) {
    termios settings{};
    if (tcgetattr(held.fd, &settings) != 0) {
        return "unknown";
    }
    std::string text = cfgetospeed(&settings) == B115200 ? "115200 " : "other-rate ";
    text += (settings.c_cflag & CSIZE) == CS8 ? "8" : "?";
    text += (settings.c_cflag & PARENB) ? "E" : "N";
    text += (settings.c_cflag & CSTOPB) ? "2" : "1";
    return text;
}

ProgramRun RunWith(const std::string& program, const std::vector<std::string>& args,
                   int timeLimitSeconds = 60) {
    ProgramLaunch launch;
    launch.program = BinaryPath(program);
    launch.args = args;
    launch.timeLimitSeconds = timeLimitSeconds;
    return RunProgram(launch);
}

class NetworkPort : public TempDirTest, public testing::WithParamInterface<ServerKind> {
protected:
    void SetUp() override {
        std::string missing = ServerUnavailable(GetParam());
        if (!missing.empty()) {
            GTEST_SKIP() << missing;
        }
        TempDirTest::SetUp();
    }

    // One module behind the server; the test holds its pseudo-terminal.
    void Serve(std::vector<std::string> moduleArgs) {
        module_ = StartModule(dir_, std::move(moduleArgs));
        ASSERT_TRUE(HoldAt9600_8N1(module_.port, &held_)) << module_.port;
        server_ = StartNetworkServer(GetParam(), {.dir = dir_, .ptyPaths = {module_.port}});
        ASSERT_EQ(server_.failure, "");
    }

    // The module's verdict, once the program has let the port go.
    std::string Verdict() {
        StopNetworkServer(&server_);
        FinishModule(&module_, true);
        return module_.verdict;
    }

    ModuleProcess module_;
    HeldPty held_;
    NetworkServer server_;
};

TEST_P(NetworkPort, RecordUpdateArrivesWholeOnALineSetTo115200_8N2) {
    Serve({"--expect", EXAMPLE});
    std::string url = Rfc2217Url(server_);
    // A server may set the line back when it lets it go: the settings are watched meanwhile.
    std::string settingsSeen;
    std::atomic<bool> running{true};
    std::thread watch([&] {
        while (running) {
            std::string now = LineSettings(held_);
            if (now == "115200 8N2") {
                settingsSeen = now;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    });
    ProgramRun run = RunWith("tarnix", {"0x89", EXAMPLE, "0", url});
    running = false;
    watch.join();
    EXPECT_EQ(run.exitCode, 0) << DescribeRun(run);
    EXPECT_NE(run.stdoutText.find("Opened " + url + " with 115200 Baud succesfully !\n"),
              std::string::npos)
        << run.stdoutText;
    EXPECT_NE(run.stderrText.find("tarnix: completed: module 0x89 on " + url + ";"),
              std::string::npos)
        << run.stderrText;
    EXPECT_EQ(settingsSeen, "115200 8N2");
    // The open lowered both through the server (what the server does at its own close is its
    // own affair: ser2net raises them again; the close's DTR off is checked on the fake server).
    std::vector<std::string> lines = ModemLogLines(server_);
    EXPECT_NE(std::find(lines.begin(), lines.end(), "DTR=0 RTS=0"), lines.end())
        << ServerLog(server_);
    std::string verdict = Verdict();
    EXPECT_NE(verdict.find("image arrived whole"), std::string::npos) << verdict;
    EXPECT_NE(verdict.find("Finish 1"), std::string::npos) << verdict;
}

// Module number 0xFF and a download full of 0xFF bytes: every 0xFF of the data doubled on the
// way out, and the 0xFF end marker of an information reply undoubled on the way in.
TEST_P(NetworkPort, BytesFFPassBothWays) {
    std::string lines = Write("params.txt", "first line\r\nsecond line\r\n");
    Serve({"--no-record-check", "--info-fault", "velox:marker-ff", "--text-velox", "V 1.2"});
    std::string url = Rfc2217Url(server_);
    std::string download = Write("acex.ttf", std::string(700, '\xFF') + "end");
    ProgramRun service =
        RunWith("tarnix-service", {url, "info", "flash", "status", "download", download});
    EXPECT_EQ(service.exitCode, 0) << DescribeRun(service);
    EXPECT_NE(service.stdoutText.find("VELOX-Version :\nV 1.2\n"), std::string::npos)
        << service.stdoutText;
    EXPECT_NE(service.stdoutText.find("ACEX-Download completed successfully !!!"),
              std::string::npos);
    ProgramRun update = RunWith("tarnix", {"0xFF", lines, "1", url});
    EXPECT_EQ(update.exitCode, 0) << DescribeRun(update);
    std::string verdict = Verdict();
    EXPECT_NE(verdict.find("download: 703 of 703 bytes in 3 block(s), closed"), std::string::npos)
        << verdict;
    EXPECT_NE(verdict.find("protocol errors: 0"), std::string::npos) << verdict;
}

INSTANTIATE_TEST_SUITE_P(BothServers, NetworkPort,
                         testing::Values(ServerKind::Ser2net, ServerKind::Pyserial),
                         [](const testing::TestParamInfo<ServerKind>& param) {
                             return std::string(ServerName(param.param));
                         });

class RemotePort : public TempDirTest {};

// ser2net's raw TCP port, set to 115200 8N2 by ser2net itself: the program sets nothing.
TEST_F(RemotePort, SocketFormReachesARawTcpPort) {
    if (!ServerUnavailable(ServerKind::Ser2net).empty()) {
        GTEST_SKIP() << ServerUnavailable(ServerKind::Ser2net);
    }
    ModuleProcess module = StartModule(dir_, {"--expect", EXAMPLE});
    NetworkServer server = StartSer2net({.dir = dir_, .ptyPaths = {module.port}, .rawPorts = true});
    ASSERT_EQ(server.failure, "");
    ProgramRun run = RunWith("tarnix", {"0x89", EXAMPLE, "0", SocketUrl(server)});
    EXPECT_EQ(run.exitCode, 0) << DescribeRun(run);
    StopNetworkServer(&server);
    FinishModule(&module, true);
    EXPECT_NE(module.verdict.find("image arrived whole"), std::string::npos) << module.verdict;
}

// A far side that does not set the line as asked is a port that cannot be opened, and nothing
// goes to the module; one that goes away in mid-update is a hang-up.
TEST_F(RemotePort, FaultsOfTheFarSide) {
    struct Case {
        FakeMode mode;
        int exitCode;
        std::string saying;
    };
    const Case cases[] = {
        {FakeMode::NeverAcknowledges, 2, "no acknowledgement of SET-BAUDRATE 115200 within 3 s"},
        {FakeMode::OneStopBit, 2, "SET-STOPSIZE 2 was answered with 1"},
        {FakeMode::ClosesAfter, 1, "tarnix: the port's device was disconnected or hung up"},
    };
    for (const Case& c : cases) {
        FakeRfc2217Server server = StartFakeServer({.mode = c.mode, .closeAfterDataBytes = 500});
        ASSERT_EQ(server.failure, "");
        ProgramRun run = RunWith("tarnix", {"0x89", EXAMPLE, "0", Rfc2217Url(server)}, 30);
        EXPECT_EQ(run.exitCode, c.exitCode) << DescribeRun(run);
        EXPECT_NE(run.stderrText.find(c.saying), std::string::npos) << run.stderrText;
        FakeServerLog log = FakeServerReceived(server);
        if (c.exitCode == 2) {
            EXPECT_EQ(log.data, "") << "nothing may reach the module";
        } else {
            // A hang-up is seen at once, not after a reply time-out.
            EXPECT_EQ(run.stdoutText.find("TIMEOUT"), std::string::npos) << run.stdoutText;
        }
    }
}

// The last the far side hears of a run is DTR off, as a local port's close lowers DTR. The
// stream ends only once DTR off is answered: a server may close the device at the end of the
// stream and drop what it has not passed on yet, the Finish among it.
TEST_F(RemotePort, ClosingLowersDtrFirst) {
    FakeRfc2217Server server = StartFakeServer({.mode = FakeMode::ClosesAfter,
                                                .closeAfterDataBytes = 1u << 30,
                                                .dtrOffAnswerDelayMs = 300});
    ASSERT_EQ(server.failure, "");
    std::string lines = Write("params.txt", "one\r\n");
    ProgramRun run = RunWith("tarnix", {"0x89", lines, "1", Rfc2217Url(server)}, 30);
    EXPECT_EQ(run.exitCode, 0) << DescribeRun(run);
    FakeServerLog log = FakeServerReceived(server);
    ASSERT_FALSE(log.commands.empty());
    EXPECT_EQ(log.commands.back(), std::string("\x05\x09", 2)) << "SET-CONTROL DTR off";
    EXPECT_EQ(log.data.substr(log.data.size() - 4), std::string("\x02"
                                                                "F\x89\x03",
                                                                4))
        << "Finish reached the far side before the connection ended";
    EXPECT_FALSE(log.endedBeforeDtrOffAnswer) << "the stream ended before DTR off was answered";
}

// A connection that cannot be made, over IPv4 and IPv6 loopback: exit 2 and clear words.
TEST_F(RemotePort, RefusedConnectionIsAPortThatCannotBeOpened) {
    int port = FreeLoopbackPort();
    for (const std::string& url : {Rfc2217Url("127.0.0.1", port), SocketUrl("::1", port)}) {
        ProgramRun run = RunWith("tarnix", {"0x89", EXAMPLE, "0", url}, 30);
        EXPECT_EQ(run.exitCode, 2) << DescribeRun(run);
        EXPECT_NE(run.stderrText.find("COM open failed: " + url + ": connect to "),
                  std::string::npos)
            << run.stderrText;
        EXPECT_NE(run.stderrText.find("is the server running"), std::string::npos);
    }
}

// Four modules behind two "terminal servers" and one on a local pseudo-terminal, all at once.
TEST_F(RemotePort, FleetAcrossTwoServersAndALocalPort) {
    if (!ServerUnavailable(ServerKind::Ser2net).empty()) {
        GTEST_SKIP() << ServerUnavailable(ServerKind::Ser2net);
    }
    std::vector<ModuleProcess> modules;
    for (int i = 0; i < 5; ++i) {
        modules.push_back(StartModule(dir_, {"--expect", EXAMPLE}));
    }
    std::vector<NetworkServer> servers;
    std::vector<std::string> args{"--log-dir", dir_ + "/logs", EXAMPLE};
    for (size_t s = 0; s < 2; ++s) {
        servers.push_back(StartSer2net(
            {.dir = dir_ + "/", .ptyPaths = {modules[2 * s].port, modules[2 * s + 1].port}}));
        ASSERT_EQ(servers.back().failure, "");
        args.push_back(Rfc2217Url(servers.back(), 0));
        args.push_back(Rfc2217Url(servers.back(), 1));
    }
    args.push_back(modules[4].port);
    ProgramRun fleet = RunWith("tarnix-fleet", args, 120);
    EXPECT_EQ(fleet.exitCode, 0) << DescribeRun(fleet);
    for (NetworkServer& server : servers) {
        StopNetworkServer(&server);
    }
    for (ModuleProcess& module : modules) {
        FinishModule(&module, true);
        EXPECT_NE(module.verdict.find("image arrived whole"), std::string::npos)
            << module.port << ":\n"
            << module.verdict;
    }
}

}  // namespace
