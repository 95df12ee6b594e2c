// The fake RFC 2217 server of network_servers.h: a thread of the test that speaks just enough
// Telnet and RFC 2217 to show a program the faults that a real server does not.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

#include "network_servers.h"

namespace tarnix {

using namespace telnet;

struct FakeServerState {
    FakeServerOptions options;
    std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now();
    int listenFd = -1;
    int wakeRead = -1;  // readable once StopFakeServer wants the thread to end
    int wakeWrite = -1;
    std::mutex mutex;
    FakeServerLog log;
};

namespace {

constexpr unsigned char ETX = 0x03, ACK = 0x06;

// What the client has set, for the answers to its requests (value 0: "tell me").
struct PortSettings {
    uint32_t baudrate = 9600;
    unsigned char datasize = 8, parity = 1, stopsize = 1;       // 1: no parity; 1 stop bit
    unsigned char flow = 1, breakState = 6, dtr = 8, rts = 11;  // none, off, on, on
};

enum class ReadState { Data, Iac, Option, Sub, SubIac };

struct Session {
    FakeServerState* server = nullptr;
    int fd = -1;
    ReadState state = ReadState::Data;
    unsigned char negotiation = 0;  // DO, DONT, WILL or WONT waiting for its option
    std::string sub;                // the subnegotiation so far, IAC IAC as one 0xFF
    PortSettings settings;
    size_t dataBytes = 0;
    size_t receivedBytes = 0;
    unsigned char lastData = 0;
    bool closing = false;           // ClosesAfter (or closeAfterBytes) has reached its count
    bool flooding = false;          // the flood has started
    size_t flooded = 0;             // bytes of flood sent
    std::string floodPending;       // the flood's bytes not yet taken by the client
    bool floodStarted = false;      // the endless subnegotiation's head has gone
    bool notReading = false;        // stopsReading has started
    bool silentNow = false;         // silent has started
    std::string lastControlAnswer;  // FakeAckFault::Duplicate: sent again before the next
    bool clientEnded = false;       // the client ended its stream; a flood goes on
};

const FakeServerOptions& Options(const Session* session) {
    return session->server->options;
}

// The faults that start at `when`.
void Trigger(Session* session, FakeWhen when) {
    const FakeServerOptions& options = Options(session);
    if (options.flood != FakeFlood::None && options.floodWhen == when) {
        session->flooding = true;
    }
    if (options.stopWhen == when) {
        session->notReading = session->notReading || options.stopsReading;
        session->silentNow = session->silentNow || options.silent;
    }
}

void SendAll(int fd, const std::string& bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
        ssize_t n = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0 && errno != EINTR) {
            return;  // the client has gone; its next read ends the session
        }
        sent += n > 0 ? static_cast<size_t>(n) : 0;
    }
}

std::string Bytes(std::initializer_list<unsigned char> bytes) {
    return std::string(bytes.begin(), bytes.end());
}

// IAC SB COM-PORT-OPTION command value IAC SE, with IAC doubled in the value.
std::string Subnegotiation(unsigned char command, const std::string& value) {
    std::string message = Bytes({IAC, SB, COM_PORT_OPTION, command});
    for (char c : value) {
        message += c;
        if (static_cast<unsigned char>(c) == IAC) {
            message += c;
        }
    }
    return message + Bytes({IAC, SE});
}

// SET-BAUDRATE .. SET-STOPSIZE: the value now in force, after setting a value other than 0.
std::string SettingAnswer(Session* session, unsigned char command, const std::string& value) {
    PortSettings& settings = session->settings;
    if (command == SET_BAUDRATE) {
        uint32_t asked = 0;
        std::memcpy(&asked, value.data(), std::min<size_t>(4, value.size()));
        settings.baudrate = asked != 0 ? ntohl(asked) : settings.baudrate;
        uint32_t wire = htonl(settings.baudrate);
        return std::string(reinterpret_cast<const char*>(&wire), 4);
    }
    unsigned char asked = value.empty() ? 0 : static_cast<unsigned char>(value[0]);
    unsigned char* setting = command == SET_DATASIZE ? &settings.datasize
                             : command == SET_PARITY ? &settings.parity
                                                     : &settings.stopsize;
    if (asked != 0) {
        bool oneStopBit =
            command == SET_STOPSIZE && session->server->options.mode == FakeMode::OneStopBit;
        *setting = oneStopBit ? 1 : asked;
    }
    return std::string(1, static_cast<char>(*setting));
}

// SET-CONTROL: requests (0, 4, 7, 10) are answered with the state, settings with themselves.
std::string ControlAnswer(PortSettings* settings, unsigned char asked) {
    unsigned char* group = asked <= 3    ? &settings->flow
                           : asked <= 6  ? &settings->breakState
                           : asked <= 9  ? &settings->dtr
                           : asked <= 12 ? &settings->rts
                                         : nullptr;
    bool request = asked == 0 || asked == 4 || asked == 7 || asked == 10;
    if (group != nullptr && !request) {
        *group = asked;
    }
    return std::string(1, static_cast<char>(group != nullptr && request ? *group : asked));
}

// A client that ends its stream without waiting for this answer leaves a server free to close
// the device before it has passed on the last bytes.
void NoteEndBeforeDtrOffAnswer(Session* session) {
    int delay = session->server->options.dtrOffAnswerDelayMs;
    if (delay <= 0) {
        return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(delay));
    char byte = 0;
    bool ended = recv(session->fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT) == 0;
    std::lock_guard<std::mutex> lock(session->server->mutex);
    session->server->log.endedBeforeDtrOffAnswer = ended;
}

// Sends the answer, as the server's ack fault has it.
void SendAnswer(Session* session, unsigned char command, const std::string& value,
                std::string answer) {
    const FakeServerOptions& options = Options(session);
    bool dtrOff = command == SET_CONTROL && value == Bytes({CONTROL_DTR_OFF});
    bool rtsOff = command == SET_CONTROL && value == Bytes({12});
    if (options.ackFault == FakeAckFault::Missing && dtrOff) {
        return;
    }
    if (options.ackFault == FakeAckFault::WrongParity && command == SET_PARITY) {
        answer = Bytes({3});
    }
    if (options.ackFault == FakeAckFault::Late) {
        // Ended early by StopFakeServer, so that a stopped server does not linger.
        pollfd wake{session->server->wakeRead, POLLIN, 0};
        poll(&wake, 1, options.ackDelayMs);
    }
    std::string message = Subnegotiation(command + SERVER_OFFSET, answer);
    if (options.ackFault == FakeAckFault::Duplicate && command == SET_CONTROL) {
        // A stale copy of the previous SET-CONTROL answer goes just before this one.
        SendAll(session->fd, session->lastControlAnswer);
        session->lastControlAnswer = message;
    }
    SendAll(session->fd, message);
    if (rtsOff) {
        Trigger(session, FakeWhen::AfterSettings);
    }
}

// The answer to one COM-PORT-OPTION command (option byte, command, value), or none.
void OnCommand(Session* session, const std::string& sub) {
    {
        std::lock_guard<std::mutex> lock(session->server->mutex);
        session->server->log.commands.push_back(sub.substr(1));
    }
    if (sub.size() < 2 || session->server->options.mode == FakeMode::NeverAcknowledges) {
        return;
    }
    unsigned char command = static_cast<unsigned char>(sub[1]);
    std::string value = sub.substr(2);
    std::string answer;
    if (command >= SET_BAUDRATE && command <= SET_STOPSIZE) {
        answer = SettingAnswer(session, command, value);
    } else if (command == SET_CONTROL) {
        answer = ControlAnswer(&session->settings, value.empty() ? 0 : value[0]);
        if (value == Bytes({CONTROL_DTR_OFF})) {
            NoteEndBeforeDtrOffAnswer(session);
        }
    } else if (command == SIGNATURE) {
        answer = "tarnix fake RFC 2217 server";
    } else if (command == SET_LINESTATE_MASK || command == SET_MODEMSTATE_MASK ||
               command == PURGE_DATA) {
        answer = value;
    } else {
        return;  // FLOWCONTROL-SUSPEND/-RESUME and what RFC 2217 lacks: no answer
    }
    SendAnswer(session, command, value, answer);
}

// The options it wants were asked for at the start, so an answer to them needs no reply; any
// other option is refused.
void OnNegotiation(Session* session, unsigned char negotiation, unsigned char option) {
    bool wanted =
        option == COM_PORT_OPTION || (option == BINARY && !Options(session).refusesBinary);
    if (wanted) {
        return;
    }
    if (negotiation == WILL || negotiation == DO) {
        SendAll(
            session->fd,
            Bytes({IAC, static_cast<unsigned char>(negotiation == WILL ? DONT : WONT), option}));
    }
}

void OnData(Session* session, unsigned char byte) {
    FakeServerState* server = session->server;
    {
        std::lock_guard<std::mutex> lock(server->mutex);
        server->log.data += static_cast<char>(byte);
        server->log.dataSeconds.push_back(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - server->started)
                .count());
    }
    ++session->dataBytes;
    if (session->dataBytes == server->options.faultAfterDataBytes) {
        Trigger(session, FakeWhen::AfterDataBytes);  // this byte's answer included
    }
    if (byte == ETX && !session->silentNow) {
        SendAll(session->fd, Bytes({ACK}));
    }
    if (byte == 'F' && session->lastData == 0x02) {
        Trigger(session, FakeWhen::AfterFinish);
    }
    session->lastData = byte;
    session->closing = server->options.mode == FakeMode::ClosesAfter &&
                       session->dataBytes >= server->options.closeAfterDataBytes;
}

void OnSubByte(Session* session, unsigned char byte) {
    if (session->state == ReadState::Sub) {
        if (byte == IAC) {
            session->state = ReadState::SubIac;
        } else {
            session->sub += static_cast<char>(byte);
        }
        return;
    }
    session->state = ReadState::Sub;
    if (byte == IAC) {
        session->sub += static_cast<char>(byte);
    } else if (byte == SE) {
        session->state = ReadState::Data;
        if (!session->sub.empty() &&
            static_cast<unsigned char>(session->sub[0]) == COM_PORT_OPTION) {
            OnCommand(session, session->sub);
        }
        session->sub.clear();
    }
}

void OnByte(Session* session, unsigned char byte) {
    if (Options(session).rawTcp) {
        return OnData(session, byte);
    }
    switch (session->state) {
        case ReadState::Data:
            if (byte == IAC) {
                session->state = ReadState::Iac;
            } else {
                OnData(session, byte);
            }
            break;
        case ReadState::Iac:
            session->state = byte == SB ? ReadState::Sub : ReadState::Data;
            if (byte == IAC) {
                OnData(session, byte);
            } else if (byte >= WILL && byte <= DONT) {
                session->negotiation = byte;
                session->state = ReadState::Option;
            }
            break;  // other Telnet commands (NOP, ...) are ignored
        case ReadState::Option:
            session->state = ReadState::Data;
            OnNegotiation(session, session->negotiation, byte);
            break;
        default:
            OnSubByte(session, byte);
            break;
    }
}

// Whether fd became readable before the wake pipe did.
bool AwaitReadable(FakeServerState* server, int fd) {
    pollfd fds[2] = {{fd, POLLIN, 0}, {server->wakeRead, POLLIN, 0}};
    while (poll(fds, 2, -1) < 0) {
        if (errno != EINTR) {
            return false;
        }
    }
    return (fds[1].revents & POLLIN) == 0;
}

// The flood's next bytes: whole Telnet sequences, so that a cut chunk is still sound.
std::string FloodChunk(Session* session) {
    std::string unit;
    switch (Options(session).flood) {
        case FakeFlood::Nop:
            unit = Bytes({IAC, 241});
            break;
        case FakeFlood::Notifications:
            unit = Bytes({IAC, SB, COM_PORT_OPTION, 106, 0x60, IAC, SE});
            break;
        case FakeFlood::EndlessSubnegotiation:
            unit = "x";
            if (!session->floodStarted) {
                session->floodStarted = true;
                return Bytes({IAC, SB, COM_PORT_OPTION, 106}) + std::string(65536, 'x');
            }
            break;
        case FakeFlood::BinaryToggles:
            unit = Bytes({IAC, WONT, BINARY, IAC, WILL, BINARY});
            break;
        default:
            unit = "x";
            break;
    }
    // Large, so that the client's side of the connection is never empty while it lasts.
    std::string chunk;
    while (chunk.size() < 65536) {
        chunk += unit;
    }
    return chunk;
}

// Sends the flood until the connection takes no more for now, so that the client's side is
// never empty while the flood lasts, or a round's worth has gone (so that what the client sends
// is still read meanwhile); false once the client has gone.
bool FloodSome(Session* session) {
    const FakeServerOptions& options = Options(session);
    for (size_t round = 0; round < 4 * 65536;) {
        if (session->floodPending.empty()) {
            if (options.floodBytes != 0 && session->flooded >= options.floodBytes) {
                session->flooding = false;
                return true;
            }
            session->floodPending = FloodChunk(session);
        }
        ssize_t n = send(session->fd, session->floodPending.data(), session->floodPending.size(),
                         MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n < 0) {
            return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
        }
        session->floodPending.erase(0, static_cast<size_t>(n));
        session->flooded += static_cast<size_t>(n);
        round += static_cast<size_t>(n);
    }
    return true;
}

// Takes what arrived; false once the client has gone.
bool ReadSome(Session* session) {
    FakeServerState* server = session->server;
    char buffer[4096];
    ssize_t got = recv(session->fd, buffer, sizeof buffer, 0);
    if (got == 0 && session->flooding) {
        session->clientEnded = true;  // a flood that goes on after the client's end of stream
        return true;
    }
    if (got <= 0) {
        return false;
    }
    for (ssize_t i = 0; i < got && !session->closing; ++i) {
        {
            std::lock_guard<std::mutex> lock(server->mutex);
            server->log.received += buffer[i];
        }
        OnByte(session, static_cast<unsigned char>(buffer[i]));
        size_t closeAfter = server->options.closeAfterBytes;
        session->closing =
            session->closing || (closeAfter != 0 && ++session->receivedBytes >= closeAfter);
        if (session->notReading) {
            break;  // the rest of what was read counts as never read
        }
    }
    return true;
}

// One round of the session: false once it has ended (the client gone, the test stopping it).
bool ServeRound(Session* session) {
    short events =
        static_cast<short>((session->notReading ? 0 : POLLIN) | (session->flooding ? POLLOUT : 0));
    pollfd fds[2] = {{session->fd, events, 0}, {session->server->wakeRead, POLLIN, 0}};
    // A server that stops reading answers blindly every 50 us, so that the client fills the
    // connection's buffers in a moment.
    timespec blindPace{0, 50000};
    int ready = ppoll(fds, 2, session->notReading ? &blindPace : nullptr, nullptr);
    if (ready < 0) {
        return errno == EINTR;
    }
    if ((fds[1].revents & POLLIN) != 0 || (fds[0].revents & (POLLERR | POLLHUP)) != 0) {
        return false;
    }
    if (session->notReading) {
        // A module that keeps answering frames it never got: the client
        // keeps sending.
        const std::string acks(2, static_cast<char>(ACK));
        if (send(session->fd, acks.data(), acks.size(), MSG_DONTWAIT | MSG_NOSIGNAL) < 0 &&
            errno != EAGAIN) {
            return false;
        }
    }
    if ((fds[0].revents & POLLOUT) != 0 && !FloodSome(session)) {
        return false;
    }
    return (fds[0].revents & POLLIN) == 0 || ReadSome(session);
}

// Reads and answers until the client leaves, the test stops the server or the server closes.
void ServeConnection(FakeServerState* server, int fd) {
    Session session;
    session.server = server;
    session.fd = fd;
    if (!server->options.rawTcp) {
        std::string greeting = Bytes({IAC, DO, COM_PORT_OPTION});
        if (!server->options.refusesBinary) {
            greeting += Bytes({IAC, WILL, BINARY, IAC, DO, BINARY});
        }
        SendAll(fd, greeting);
    }
    Trigger(&session, FakeWhen::Connect);
    while (!session.closing && ServeRound(&session)) {
    }
    if (session.closing) {
        // The listener first, so that the client finds no server when it sees the close.
        close(std::exchange(server->listenFd, -1));
        std::lock_guard<std::mutex> lock(server->mutex);
        server->log.closedByServer = true;
    }
    close(fd);
}

// One connection at a time, until stopped or ClosesAfter has closed one (and the listener).
void ServeFake(std::shared_ptr<FakeServerState> server) {
    while (AwaitReadable(server.get(), server->listenFd)) {
        int fd = accept4(server->listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            continue;
        }
        int on = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        {
            std::lock_guard<std::mutex> lock(server->mutex);
            ++server->log.connections;
        }
        ServeConnection(server.get(), fd);
        if (server->listenFd < 0) {
            return;
        }
    }
}

// A listening socket on the loopback address `host` ("127.0.0.1" or "::1"), port chosen by the
// system; -1 on failure.
int ListenLoopback(const std::string& host, int* port) {
    bool v6 = host == "::1";
    sockaddr_storage address{};
    socklen_t length = v6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
    address.ss_family = v6 ? AF_INET6 : AF_INET;
    void* where = v6 ? static_cast<void*>(&reinterpret_cast<sockaddr_in6*>(&address)->sin6_addr)
                     : static_cast<void*>(&reinterpret_cast<sockaddr_in*>(&address)->sin_addr);
    int fd = socket(address.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    auto* generic = reinterpret_cast<sockaddr*>(&address);
    if (fd < 0 || inet_pton(address.ss_family, host.c_str(), where) != 1 ||
        bind(fd, generic, length) != 0 || listen(fd, 4) != 0 ||
        getsockname(fd, generic, &length) != 0) {
        if (fd >= 0) {
            close(fd);
        }
        return -1;
    }
    *port = ntohs(v6 ? reinterpret_cast<sockaddr_in6*>(&address)->sin6_port
                     : reinterpret_cast<sockaddr_in*>(&address)->sin_port);
    return fd;
}

void CloseState(FakeServerState* state) {
    for (int* fd : {&state->listenFd, &state->wakeRead, &state->wakeWrite}) {
        if (*fd >= 0) {
            close(std::exchange(*fd, -1));
        }
    }
}

}  // namespace

FakeRfc2217Server StartFakeServer(const FakeServerOptions& options) {
    FakeRfc2217Server server;
    server.host = options.host;
    server.state = std::make_shared<FakeServerState>();
    server.state->options = options;
    int wake[2] = {-1, -1};
    server.state->listenFd = ListenLoopback(options.host, &server.port);
    if (server.state->listenFd < 0 || pipe2(wake, O_CLOEXEC) != 0) {
        server.failure =
            "the fake server cannot listen on " + options.host + ": " + std::strerror(errno);
        CloseState(server.state.get());
        return server;
    }
    if (options.stopsReading) {
        // A small window, so that a client's writes are held up soon after the server stops.
        int bytes = 65536;
        setsockopt(server.state->listenFd, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
    }
    server.state->wakeRead = wake[0];
    server.state->wakeWrite = wake[1];
    server.thread = std::thread(ServeFake, server.state);
    return server;
}

FakeServerLog FakeServerReceived(const FakeRfc2217Server& server) {
    if (server.state == nullptr) {
        return {};
    }
    std::lock_guard<std::mutex> lock(server.state->mutex);
    return server.state->log;
}

void StopFakeServer(FakeRfc2217Server* server) {
    if (server->thread.joinable()) {
        char wake = 1;
        ssize_t written = write(server->state->wakeWrite, &wake, 1);
        (void)written;
        server->thread.join();
    }
    if (server->state != nullptr) {
        CloseState(server->state.get());
    }
}

FakeRfc2217Server::~FakeRfc2217Server() {
    StopFakeServer(this);
}

std::string Rfc2217Url(const FakeRfc2217Server& server) {
    return Rfc2217Url(server.host, server.port);
}

}  // namespace tarnix
