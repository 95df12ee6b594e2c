#pragma once

#include <sys/types.h>

#include <cstddef>
#include <iosfwd>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace tarnix {

// Servers for the tests of the network ports (rfc2217://HOST:PORT, socket://HOST:PORT): two
// real RFC 2217 servers that carry a program's connection to the emulated module's
// pseudo-terminal, ser2net and pyserial's PortManager (tests/support/rfc2217_server.py), and a
// fake one for the faults that the real ones never show. Every server listens on the loopback
// address only (127.0.0.1, or ::1 when asked) and is stopped when its struct goes: SIGTERM,
// then SIGKILL after 3 s, also when the test fails on the way. A server process is also killed
// when the thread that started it ends, so start it from the test's own thread.

// A TCP port that was free on 127.0.0.1 a moment ago (bound to port 0, read, closed); -1 when
// no socket could be bound.
int FreeLoopbackPort();

// "rfc2217://127.0.0.1:4000", "rfc2217://[::1]:4000"; SocketUrl likewise with "socket://".
std::string Rfc2217Url(const std::string& host, int port);
std::string SocketUrl(const std::string& host, int port);

// A started process, stopped (SIGTERM, then SIGKILL after 3 s) and waited for when it goes.
struct ServerProcess {
    pid_t pid = -1;
    std::string ended;  // how it ended, once stopped: "exit status 0", "signal 9"

    ServerProcess() = default;
    ServerProcess(ServerProcess&& other) noexcept;
    ServerProcess& operator=(ServerProcess&& other) noexcept;
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;
    ~ServerProcess();
};

// Ends the process (see ServerProcess) unless it has ended already; sets `ended`.
void StopServerProcess(ServerProcess* process);

enum class ServerKind { Ser2net, Pyserial };

// "ser2net" or "pyserial", for test names and messages; PrintTo for GoogleTest's parameters.
const char* ServerName(ServerKind kind);
void PrintTo(ServerKind kind, std::ostream* os);

// Empty when the server can be run here; otherwise why not, naming the Debian package to
// install (for GTEST_SKIP).
std::string ServerUnavailable(ServerKind kind);

// Debian's /usr/bin/python3 when it has pyserial (python3-serial); else empty. A python3
// earlier on PATH (pyenv) may not have it.
std::string PyserialPython();

// The modem-line library of tests/wine, built without sanitizers so that it loads into
// ser2net and python3.
std::string ModemLinesLibrary();

struct ServerOptions {
    std::string dir;                    // the test's temporary folder: config and logs go there
    std::vector<std::string> ptyPaths;  // one served port per pseudo-terminal, in this order
    std::string host = "127.0.0.1";     // the loopback address to listen on: or "::1"
    // ser2net only: beside each RFC 2217 port a raw TCP port (socket://) to the same
    // pseudo-terminal, which it opens with rawLineSettings since a raw client sets none.
    bool rawPorts = false;
    std::string rawLineSettings = "115200n82";
    // Preloaded into the server, so that DTR and RTS work on a pseudo-terminal (ser2net does
    // not acknowledge SET-CONTROL DTR/RTS without it) and every change is logged in
    // NetworkServer::modemLogPath as "DTR=1 RTS=0" lines. Empty: not preloaded.
    std::string modemLinesLibrary = ModemLinesLibrary();
    // ser2net only: the user to run it as, "UID:GID" (setpriv, when the test is root), as a
    // service that is not root runs; empty: as the test. It must be able to read options.dir
    // and open the pseudo-terminals, and modemLinesLibrary is best left empty then.
    std::string user{};
};

struct ServedPort {
    std::string ptyPath;
    int rfc2217Port = 0;
    int rawPort = 0;  // 0 without ServerOptions::rawPorts
};

struct NetworkServer {
    ServerKind kind = ServerKind::Ser2net;
    std::string host;
    std::vector<ServedPort> ports;  // as ServerOptions::ptyPaths
    ServerProcess process;
    std::string configPath;    // ser2net's YAML file
    std::string logPath;       // the server's standard output and standard error
    std::string modemLogPath;  // empty without ServerOptions::modemLinesLibrary
    std::string failure;       // why the server could not be started (with its log); else empty
};

// ser2net (Debian's /usr/sbin/ser2net, 4.3) in the foreground with a YAML file written into
// options.dir: per pseudo-terminal "telnet(rfc2217),tcp,HOST,PORT" to
// "serialdev,PTY,9600n81,local" (kickolduser, chardelay off), on free ports. Returns once
// ser2net listens on every port (it is not connected to for that: a connection would open the
// pseudo-terminal), at most 10 s; tries other ports twice when one was taken meanwhile.
// ser2net opens the pseudo-terminal when a client connects and closes it when the client
// leaves; it raises DTR and RTS at the open and raises them again at the close, so its
// modem-line log ends with "DTR=1 RTS=1" whatever the client did last.
NetworkServer StartSer2net(const ServerOptions& options);

// tests/support/rfc2217_server.py: one process for all the pseudo-terminals, each on its own
// port; returns once it printed "ready", at most 10 s. It opens a pseudo-terminal only while a
// client is connected, and lowers DTR and RTS before it closes it.
NetworkServer StartPyserialServer(const ServerOptions& options);

NetworkServer StartNetworkServer(ServerKind kind, const ServerOptions& options);

// Ends the server now (it also ends when the struct goes).
void StopNetworkServer(NetworkServer* server);

// The URL of the index-th served port.
std::string Rfc2217Url(const NetworkServer& server, std::size_t index = 0);
std::string SocketUrl(const NetworkServer& server, std::size_t index = 0);

// The server's log, and the lines of its modem-line log ("DTR=0 RTS=0").
std::string ServerLog(const NetworkServer& server);
std::vector<std::string> ModemLogLines(const NetworkServer& server);

// ---- The fake RFC 2217 server ----

// On every connection it asks for the options at once (IAC DO COM-PORT-OPTION, IAC WILL
// BINARY, IAC DO BINARY), refuses every other option, and answers each ETX data byte with ACK
// (0x06) as a module that takes every frame. Per mode:
enum class FakeMode {
    NeverAcknowledges,  // answers no COM-PORT-OPTION command at all
    OneStopBit,         // answers every command with the value asked, but SET-STOPSIZE with 1
    ClosesAfter,        // answers as asked; after closeAfterDataBytes data bytes it closes the
                        // connection and stops listening: a server that goes away
    Answers,            // answers as asked; the faults below change that
};

// What a flood sends, without end or for floodBytes bytes, as fast as the client takes it, also
// after the client has ended its stream.
enum class FakeFlood {
    None,
    Data,                   // data bytes ('x')
    Nop,                    // IAC NOP
    Notifications,          // NOTIFY-LINESTATE subnegotiations
    EndlessSubnegotiation,  // IAC SB COM-PORT-OPTION and then never IAC SE
    BinaryToggles,          // IAC WONT BINARY, IAC WILL BINARY, ...
};

// When a flood starts, or the server stops reading or answering data.
enum class FakeWhen {
    Connect,         // at once, during the option negotiation
    AfterSettings,   // once the last setting of an open (SET-CONTROL RTS off) is answered
    AfterDataBytes,  // after faultAfterDataBytes data bytes
    AfterFinish,     // after the Finish command (STX 'F')
};

// How the answers to COM-PORT-OPTION commands go wrong.
enum class FakeAckFault {
    None,
    Late,         // each answer ackDelayMs late
    Missing,      // the answer to SET-CONTROL DTR off never comes
    WrongParity,  // SET-PARITY answered with even parity
    Duplicate,    // each SET-CONTROL answer sent twice, and the first one once more at the end
};

struct FakeServerOptions {
    FakeMode mode = FakeMode::NeverAcknowledges;
    std::size_t closeAfterDataBytes = 0;  // ClosesAfter only
    std::string host = "127.0.0.1";       // or "::1"
    int dtrOffAnswerDelayMs = 0;          // how long the answer to SET-CONTROL DTR off waits
    // The faults of the server, for the tests of the bounds (Answers mode; all off by default).
    bool rawTcp = false;         // a plain TCP port (socket://): no Telnet at all
    bool refusesBinary = false;  // answers IAC WILL BINARY with DONT, and asks nothing
    FakeFlood flood = FakeFlood::None;
    FakeWhen floodWhen = FakeWhen::Connect;
    std::size_t floodBytes = 0;  // 0: without end
    bool stopsReading = false;   // from `stopWhen` on: reads nothing, sends an ACK a ms
    bool silent = false;         // from `stopWhen` on: leaves every ETX unanswered
    FakeWhen stopWhen = FakeWhen::AfterSettings;
    std::size_t faultAfterDataBytes = 0;  // for FakeWhen::AfterDataBytes
    FakeAckFault ackFault = FakeAckFault::None;
    int ackDelayMs = 0;               // FakeAckFault::Late
    std::size_t closeAfterBytes = 0;  // closes after this many bytes received in all (0: never)
};

// Everything the fake server received, over all its connections.
struct FakeServerLog {
    std::string received;             // every byte as it came, Telnet and RFC 2217 included
    std::string data;                 // the data bytes only, IAC IAC as one 0xFF
    std::vector<double> dataSeconds;  // when each data byte came, in seconds from the start
    // Each COM-PORT-OPTION subnegotiation, unescaped: the command byte, then its value
    // ("\x04\x02": SET-STOPSIZE 2).
    std::vector<std::string> commands;
    int connections = 0;
    bool closedByServer = false;  // ClosesAfter has closed
    // The client had ended its stream when the (delayed) answer to DTR off was due.
    bool endedBeforeDtrOffAnswer = false;
};

struct FakeServerState;

// The fake server serves one connection at a time on a thread of the test.
struct FakeRfc2217Server {
    int port = 0;
    std::string host;
    std::string failure;  // why it could not listen; else empty
    std::shared_ptr<FakeServerState> state;
    std::thread thread;

    FakeRfc2217Server() = default;
    FakeRfc2217Server(FakeRfc2217Server&&) = default;
    FakeRfc2217Server& operator=(FakeRfc2217Server&&) = delete;
    ~FakeRfc2217Server();
};

FakeRfc2217Server StartFakeServer(const FakeServerOptions& options);

// A copy of what it received so far.
FakeServerLog FakeServerReceived(const FakeRfc2217Server& server);

// Ends it now, closing a connection it has (it also ends when the struct goes).
void StopFakeServer(FakeRfc2217Server* server);

std::string Rfc2217Url(const FakeRfc2217Server& server);

// ---- RFC 2217 byte values ----
namespace telnet {
constexpr unsigned char IAC = 255, DONT = 254, DO = 253, WONT = 252, WILL = 251, SB = 250, SE = 240;
constexpr unsigned char BINARY = 0, COM_PORT_OPTION = 44;
// Client commands; the server answers with the command + SERVER_OFFSET.
constexpr unsigned char SIGNATURE = 0, SET_BAUDRATE = 1, SET_DATASIZE = 2, SET_PARITY = 3,
                        SET_STOPSIZE = 4, SET_CONTROL = 5, FLOWCONTROL_SUSPEND = 8,
                        FLOWCONTROL_RESUME = 9, SET_LINESTATE_MASK = 10, SET_MODEMSTATE_MASK = 11,
                        PURGE_DATA = 12, SERVER_OFFSET = 100;
// SET-CONTROL values.
constexpr unsigned char CONTROL_DTR_OFF = 9;
}  // namespace telnet

}  // namespace tarnix
