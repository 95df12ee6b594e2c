// The servers of network_servers.h, checked without our programs: pyserial's own RFC 2217
// client sets 115200 8N2 through ser2net and through the pyserial server and sends bytes both
// ways over a pseudo-terminal of the test's; a minimal exchange written here goes through each
// mode of the fake server.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <future>
#include <ostream>
#include <string>
#include <vector>

#include "module_process.h"
#include "network_servers.h"
#include "temp_dir_test.h"

using namespace tarnix;

using namespace telnet;

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// pyserial's client: ARGV URL HEX COUNT sends HEX at 115200 8N2, prints the hex of the COUNT
// bytes that come back, lowers DTR, then RTS, and closes.
const char* const CLIENT = R"(import sys
import serial
port = serial.serial_for_url(sys.argv[1], baudrate=115200, bytesize=8, parity="N", stopbits=2,
                             timeout=10)
port.write(bytes.fromhex(sys.argv[2]))
reply = port.read(int(sys.argv[3]))
port.dtr = False
port.rts = False
port.close()
print(reply.hex())
)";

// The test's own pseudo-terminal: the server opens the slave, the test plays the module on the
// master and keeps the slave open as well, to read its termios.
struct PtyPair {
    int master = -1;
    int slave = -1;
    std::string path;
    ~PtyPair() {
        close(master);
        close(slave);
    }
};

bool OpenPty(PtyPair* pty) {
    pty->master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    char name[128] = {};
    if (pty->master < 0 || grantpt(pty->master) != 0 || unlockpt(pty->master) != 0 ||
        ptsname_r(pty->master, name, sizeof name) != 0) {
        return false;
    }
    pty->path = name;
    pty->slave = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios raw{};
    if (pty->slave < 0 || tcgetattr(pty->slave, &raw) != 0) {
        return false;
    }
    cfmakeraw(&raw);
    return tcsetattr(pty->slave, TCSANOW, &raw) == 0;
}

// Reads until `count` bytes, the end of input or the time limit.
std::string ReadFor(int fd, size_t count, milliseconds limit, bool* ended = nullptr) {
    std::string bytes;
    Clock::time_point deadline = Clock::now() + limit;
    while (bytes.size() < count && Clock::now() < deadline) {
        pollfd ready{fd, POLLIN, 0};
        if (poll(&ready, 1, 20) <= 0) {
            continue;
        }
        char buffer[256];
        ssize_t got = read(fd, buffer, std::min(sizeof buffer, count - bytes.size()));
        if (got <= 0) {
            if (ended != nullptr) {
                *ended = true;
            }
            break;
        }
        bytes.append(buffer, static_cast<size_t>(got));
    }
    return bytes;
}

std::string Hex(const std::string& bytes) {
    std::string text;
    char digits[3];
    for (unsigned char c : bytes) {
        std::snprintf(digits, sizeof digits, "%02x", c);
        text += digits;
    }
    return text;
}

std::string Bytes(std::initializer_list<unsigned char> bytes) {
    return std::string(bytes.begin(), bytes.end());
}

// Runs the client script (bounded by timeout(1)); its standard output.
std::string RunClient(const std::string& script, const std::string& url, const std::string& hex,
                      size_t replyBytes) {
    std::string command = "timeout 30 " + PyserialPython() + " '" + script + "' '" + url + "' " +
                          hex + " " + std::to_string(replyBytes) + " 2>&1";
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    char buffer[256];
    for (size_t got = 0; pipe != nullptr && (got = fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
        output.append(buffer, got);
    }
    if (pipe != nullptr) {
        pclose(pipe);
    }
    return output;
}

int ConnectLoopback(const std::string& host, int port) {
    bool v6 = host == "::1";
    sockaddr_in6 address6{};
    sockaddr_in address4{};
    address6.sin6_family = AF_INET6;
    address6.sin6_port = htons(static_cast<uint16_t>(port));
    address4.sin_family = AF_INET;
    address4.sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(v6 ? AF_INET6 : AF_INET, host.c_str(),
              v6 ? static_cast<void*>(&address6.sin6_addr) : &address4.sin_addr);
    int fd = socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    auto* address =
        v6 ? reinterpret_cast<sockaddr*>(&address6) : reinterpret_cast<sockaddr*>(&address4);
    if (fd >= 0 && connect(fd, address, v6 ? sizeof address6 : sizeof address4) != 0) {
        close(fd);
        fd = -1;
    }
    return fd;
}

// The pseudo-terminal's line: "115200 8N2".
std::string LineSettings(int fd) {
    termios mode{};
    if (tcgetattr(fd, &mode) != 0) {
        return "no termios";
    }
    std::string speed = cfgetospeed(&mode) == B115200 ? "115200"
                        : cfgetospeed(&mode) == B9600 ? "9600"
                                                      : "other";
    std::string bits = (mode.c_cflag & CSIZE) == CS8 ? "8" : "not 8";
    std::string parity = (mode.c_cflag & PARENB) != 0 ? "parity" : "N";
    return speed + " " + bits + parity + ((mode.c_cflag & CSTOPB) != 0 ? "2" : "1");
}

// Whether the log has "DTR=0 RTS=1" and after it "DTR=0 RTS=0": the client's DTR, then RTS.
bool LoweredDtrThenRts(const std::vector<std::string>& lines) {
    auto dtr = std::find(lines.begin(), lines.end(), "DTR=0 RTS=1");
    return dtr != lines.end() && std::find(dtr, lines.end(), "DTR=0 RTS=0") != lines.end();
}

// Empty when the server and pyserial's client can be run here.
std::string Unavailable(ServerKind kind) {
    std::string why = ServerUnavailable(kind);
    return why.empty() ? ServerUnavailable(ServerKind::Pyserial) : why;
}

class RealServer : public TempDirTest, public testing::WithParamInterface<ServerKind> {
protected:
    void SetUp() override {
        if (std::string why = Unavailable(GetParam()); !why.empty()) {
            GTEST_SKIP() << why;
        }
        TempDirTest::SetUp();
        ASSERT_TRUE(OpenPty(&pty_));
    }
    PtyPair pty_;
};

class Ser2netRawPort : public TempDirTest {
protected:
    void SetUp() override {
        if (std::string why = ServerUnavailable(ServerKind::Ser2net); !why.empty()) {
            GTEST_SKIP() << why;
        }
        TempDirTest::SetUp();
        ASSERT_TRUE(OpenPty(&pty_));
    }
    PtyPair pty_;
};

// Both ways through the server, with the line set as the client asked; DTR and RTS as well.
TEST_P(RealServer, SetsTheLineAndRelaysBothWays) {
    ServerOptions options;
    options.dir = dir_;
    options.ptyPaths = {pty_.path};
    NetworkServer server = StartNetworkServer(GetParam(), options);
    ASSERT_EQ(server.failure, "");
    std::string script = Write("client.py", CLIENT);
    std::future<std::string> client = std::async(
        std::launch::async, [&] { return RunClient(script, Rfc2217Url(server), "02ff4103", 3); });

    EXPECT_EQ(Hex(ReadFor(pty_.master, 4, milliseconds(15000))), "02ff4103");
    EXPECT_EQ(LineSettings(pty_.slave), "115200 8N2");
    ASSERT_EQ(write(pty_.master,
                    "\xff"
                    "ok",
                    3),
              3);
    EXPECT_EQ(client.get(), "ff6f6b\n") << ServerLog(server);
    EXPECT_TRUE(LoweredDtrThenRts(ModemLogLines(server))) << ReadFileBytes(server.modemLogPath);
}

// ser2net's raw port: the bytes as they are, on a line set from the configuration.
TEST_F(Ser2netRawPort, RelaysBothWays) {
    ServerOptions options;
    options.dir = dir_;
    options.ptyPaths = {pty_.path};
    options.rawPorts = true;
    NetworkServer server = StartSer2net(options);
    ASSERT_EQ(server.failure, "");
    ASSERT_EQ(SocketUrl(server).rfind("socket://127.0.0.1:", 0), 0u);
    int socket = ConnectLoopback("127.0.0.1", server.ports[0].rawPort);
    ASSERT_GE(socket, 0);
    ASSERT_EQ(write(socket, "\x02\xff", 2), 2);
    EXPECT_EQ(Hex(ReadFor(pty_.master, 2, milliseconds(10000))), "02ff");
    EXPECT_EQ(LineSettings(pty_.slave), "115200 8N2");
    ASSERT_EQ(write(pty_.master, "\xff", 1), 1);
    EXPECT_EQ(Hex(ReadFor(socket, 1, milliseconds(10000))), "ff");
    close(socket);
}

// The emulated module behind the server gets the client's bytes and ends by itself when the
// client leaves (the server closes the pseudo-terminal), as an end-to-end test needs it to.
TEST_P(RealServer, ModuleEndsWhenTheClientLeaves) {
    ModuleProcess module = StartModule(dir_, {});
    ASSERT_FALSE(module.port.empty());
    ServerOptions options;
    options.dir = dir_;
    options.ptyPaths = {module.port};
    NetworkServer server = StartNetworkServer(GetParam(), options);
    ASSERT_EQ(server.failure, "");
    std::string script = Write("client.py", CLIENT);
    EXPECT_EQ(RunClient(script, Rfc2217Url(server), "0268656c6c6f03", 0), "\n");
    FinishModule(&module);  // a module that does not see the client leave is killed: a failure
    const std::string& verdict = module.verdict;
    // STX 'h': the module took the bytes as a frame with an unknown command.
    EXPECT_NE(verdict.find("0x68"), std::string::npos) << verdict << ServerLog(server);
}

INSTANTIATE_TEST_SUITE_P(Servers, RealServer,
                         testing::Values(ServerKind::Ser2net, ServerKind::Pyserial),
                         [](const testing::TestParamInfo<ServerKind>& param) {
                             return std::string(ServerName(param.param));
                         });

// ---- the fake server ----

struct FakeCase {
    const char* name;
    FakeMode mode;
    size_t closeAfter;
    const char* host;
    std::string settingAnswers;  // to SET-BAUDRATE 115200 and SET-STOPSIZE 2
    std::string dataTaken;       // of the data "\x02" "A" 0xFF "\x03" "BC"
    bool closes;
};

std::string Answer(std::initializer_list<unsigned char> commandAndValue) {
    return Bytes({IAC, SB, COM_PORT_OPTION}) + Bytes(commandAndValue) + Bytes({IAC, SE});
}

const std::string BAUD_115200 = Bytes({0x00, 0x01, 0xc2, 0x00});
const std::string DATA = Bytes({0x02, 'A', 0xff, 0x03, 'B', 'C'});

std::vector<FakeCase> FakeCases() {
    std::string baud = Answer({SET_BAUDRATE + SERVER_OFFSET, 0x00, 0x01, 0xc2, 0x00});
    return {
        {"NeverAcknowledges", FakeMode::NeverAcknowledges, 0, "127.0.0.1", "", DATA, false},
        {"OneStopBit", FakeMode::OneStopBit, 0, "127.0.0.1",
         baud + Answer({SET_STOPSIZE + SERVER_OFFSET, 1}), DATA, false},
        {"ClosesAfter4", FakeMode::ClosesAfter, 4, "127.0.0.1",
         baud + Answer({SET_STOPSIZE + SERVER_OFFSET, 2}), DATA.substr(0, 4), true},
        {"ClosesAfter4OnIpv6", FakeMode::ClosesAfter, 4, "::1",
         baud + Answer({SET_STOPSIZE + SERVER_OFFSET, 2}), DATA.substr(0, 4), true},
    };
}

// What the client of the fake server sends first: its side of the negotiation (with an
// option the server must refuse), SET-BAUDRATE 115200 and SET-STOPSIZE 2.
const std::string OPENING =
    Bytes({IAC, WILL, COM_PORT_OPTION, IAC, DO, BINARY, IAC, WILL, BINARY, IAC, WILL, 24}) +
    Bytes({IAC, SB, COM_PORT_OPTION, SET_BAUDRATE}) + BAUD_115200 +
    Bytes({IAC, SE, IAC, SB, COM_PORT_OPTION, SET_STOPSIZE, 2, IAC, SE});

// What the fake server recorded of the exchange of AnswersAsItsModeSays.
void ExpectRecorded(const FakeRfc2217Server& server, const FakeCase& fake) {
    FakeServerLog log = FakeServerReceived(server);
    EXPECT_EQ(Hex(log.data), Hex(fake.dataTaken));
    EXPECT_EQ(log.commands, (std::vector<std::string>{Bytes({SET_BAUDRATE}) + BAUD_115200,
                                                      Bytes({SET_STOPSIZE, 2})}));
    EXPECT_EQ(Hex(log.received.substr(0, OPENING.size())), Hex(OPENING));
    EXPECT_EQ(log.connections, 1);
    EXPECT_EQ(log.closedByServer, fake.closes);
}

void PrintTo(const FakeCase& fake, std::ostream* os) {
    *os << fake.name;
}

class FakeServer : public testing::TestWithParam<FakeCase> {};

// The negotiation, the two settings, then the data: what comes back, what the server recorded.
TEST_P(FakeServer, AnswersAsItsModeSays) {
    const FakeCase& fake = GetParam();
    FakeRfc2217Server server = StartFakeServer({fake.mode, fake.closeAfter, fake.host});
    if (!server.failure.empty() && std::string(fake.host) == "::1") {
        GTEST_SKIP() << server.failure;
    }
    ASSERT_EQ(server.failure, "");
    std::string urlHost = std::string(fake.host) == "::1" ? "[::1]" : fake.host;
    EXPECT_EQ(Rfc2217Url(server), "rfc2217://" + urlHost + ":" + std::to_string(server.port));
    int socket = ConnectLoopback(fake.host, server.port);
    ASSERT_GE(socket, 0);
    EXPECT_EQ(Hex(ReadFor(socket, 9, milliseconds(5000))),
              Hex(Bytes({IAC, DO, COM_PORT_OPTION, IAC, WILL, BINARY, IAC, DO, BINARY})));

    ASSERT_EQ(write(socket, OPENING.data(), OPENING.size()), ssize_t(OPENING.size()));
    std::string expected = Bytes({IAC, DONT, 24}) + fake.settingAnswers;
    EXPECT_EQ(Hex(ReadFor(socket, expected.size(), milliseconds(5000))), Hex(expected));
    EXPECT_EQ(Hex(ReadFor(socket, 1, milliseconds(200))), "") << "more than the answers";

    std::string escaped = Bytes({0x02, 'A', IAC, IAC, 0x03, 'B', 'C'});
    ASSERT_EQ(write(socket, escaped.data(), escaped.size()), 7);
    EXPECT_EQ(Hex(ReadFor(socket, 1, milliseconds(5000))), "06");
    bool ended = false;
    EXPECT_EQ(Hex(ReadFor(socket, 1, milliseconds(fake.closes ? 5000 : 200), &ended)), "");
    EXPECT_EQ(ended, fake.closes);
    close(socket);
    ExpectRecorded(server, fake);
    if (fake.closes) {
        EXPECT_LT(ConnectLoopback(fake.host, server.port), 0) << "still listening after it closed";
    }
}

INSTANTIATE_TEST_SUITE_P(Modes, FakeServer, testing::ValuesIn(FakeCases()),
                         [](const testing::TestParamInfo<FakeCase>& param) {
                             return std::string(param.param.name);
                         });

}  // namespace
