#include "network_port.h"

#include <chrono>
#include <cstring>
#include <deque>

#include "net_socket.h"
#include "rfc2217.h"

namespace {

constexpr int CONNECT_TIMEOUT_MS = 5000;
constexpr long NEGOTIATION_TIMEOUT_MS = 3000;
constexpr long CLOSE_TIMEOUT_MS = 2000;
constexpr long DTR_OFF_ACK_TIMEOUT_MS = 1000;
// A raw TCP port gives no sign of what the far side has passed on to the device: a pause
// before the end of the stream gives a server that closes the device at once time to write
// the last bytes.
constexpr long RAW_CLOSE_GRACE_MS = 100;
// What a closed connection reads as: the same as a device that hung up.
constexpr int CONNECTION_CLOSED = -1;

}  // namespace

// A network port's own state, kept by its c.
struct NetworkConnection {
    NetSocket socket;
    NetworkProtocol protocol = NetworkProtocol::None;
    TelnetDecoder decoder;
    std::deque<uint8_t> arrived;  // data read from the connection and not yet taken
    // DTR off, ready for the release from a signal handler, which may not build it.
    uint8_t dtrOff[16] = {};
    size_t dtrOffLength = 0;
};

void NetworkConnectionDeleter::operator()(NetworkConnection* connection) const {
    delete connection;
}

namespace {

int Send(NetworkConnection& c, const std::vector<uint8_t>& bytes) {
    return bytes.empty() ? 0 : SendToSocket(c.socket, bytes.data(), bytes.size());
}

// Reads what the connection holds into c.arrived (Telnet decoded and answered); the
// acknowledgements go to *acks when given. 0, CONNECTION_CLOSED, or the system's error.
int TakeArrivedBytes(NetworkConnection& c, std::vector<ComPortMessage>* acks) {
    uint8_t buffer[4096];
    int error = 0;
    long count = ReceiveFromSocket(c.socket, buffer, sizeof buffer, &error);
    if (count <= 0) {
        return count == 0 ? CONNECTION_CLOSED : error;
    }
    if (c.protocol == NetworkProtocol::RawTcp) {
        c.arrived.insert(c.arrived.end(), buffer, buffer + count);
        return 0;
    }
    ServerBytesResult decoded = DecodeServerBytes(&c.decoder, buffer, static_cast<size_t>(count));
    c.arrived.insert(c.arrived.end(), decoded.data.begin(), decoded.data.end());
    if (acks != nullptr) {
        acks->insert(acks->end(), decoded.acks.begin(), decoded.acks.end());
    }
    return Send(c, decoded.answers);
}

long MillisecondsLeft(std::chrono::steady_clock::time_point deadline) {
    auto left = deadline - std::chrono::steady_clock::now();
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(left).count());
}

void ForgetConnection(Port& port) {
    if (port.network) {
        CloseSocket(&port.network->socket);
    }
    port.network.reset();
}

}  // namespace

namespace {

// Reads until `done` holds or the time is up; false with *failure set otherwise.
template <typename Done>
bool ReadUntil(NetworkConnection& c, Done done, const char* waitingFor,
               NetworkOpenFailure* failure) {
    auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(NEGOTIATION_TIMEOUT_MS);
    std::vector<ComPortMessage> acks;
    while (!done(acks)) {
        SocketWait wait = WaitSocketReadable(c.socket, MillisecondsLeft(deadline), false);
        if (wait.end != SocketWaitEnd::Readable) {
            *failure = {wait.error, std::string("no answer to ") + waitingFor + " within " +
                                        std::to_string(NEGOTIATION_TIMEOUT_MS / 1000) + " s"};
            return false;
        }
        int error = TakeArrivedBytes(c, &acks);
        if (error != 0) {
            *failure = {
                error == CONNECTION_CLOSED ? 0 : error,
                std::string("the server closed the connection while waiting for ") + waitingFor};
            return false;
        }
    }
    return true;
}

bool AgreeOnComPortOption(NetworkConnection& c, NetworkOpenFailure* failure) {
    StartTelnetDecoder(&c.decoder);
    if (Send(c, TelnetClientGreeting()) != 0) {
        *failure = {0, "the Telnet greeting could not be sent"};
        return false;
    }
    bool ok = ReadUntil(
        c,
        [&c](const std::vector<ComPortMessage>&) {
            return c.decoder.ours[TELNET_OPTION_COM_PORT] != TelnetOptionState::Asked;
        },
        "the COM-PORT-OPTION (RFC 2217)", failure);
    if (ok && c.decoder.ours[TELNET_OPTION_COM_PORT] != TelnetOptionState::On) {
        *failure = {0,
                    "the server refused the COM-PORT-OPTION (RFC 2217): is it a raw TCP "
                    "port? then write socket://"};
        return false;
    }
    return ok;
}

// Each setting is sent and its acknowledgement awaited before the next: a line that is not
// set as asked is never used.
bool ApplySetting(NetworkConnection& c, const ComPortMessage& step, NetworkOpenFailure* failure) {
    if (Send(c, ComPortSubnegotiation(step)) != 0) {
        *failure = {0, "the setting " + DescribeComPortStep(step) + " could not be sent"};
        return false;
    }
    std::string mismatch;
    bool answered = ReadUntil(
        c,
        [&](const std::vector<ComPortMessage>& acks) {
            for (const ComPortMessage& ack : acks) {
                if (ack.command == step.command) {
                    mismatch = DescribeAckMismatch(step, ack);
                    return true;
                }
            }
            return false;
        },
        ("its acknowledgement of " + DescribeComPortStep(step)).c_str(), failure);
    if (answered && !mismatch.empty()) {
        *failure = {0, mismatch + ": the far side cannot set the line as the module needs it"};
        return false;
    }
    return answered;
}

void PrepareDtrOff(NetworkConnection& c) {
    std::vector<uint8_t> bytes =
        ComPortSubnegotiation({COM_PORT_SET_CONTROL, {COM_PORT_CONTROL_DTR_OFF}});
    c.dtrOffLength = std::min(bytes.size(), sizeof c.dtrOff);
    std::memcpy(c.dtrOff, bytes.data(), c.dtrOffLength);
}

bool SetUpRfc2217(NetworkConnection& c, long baud, NetworkOpenFailure* failure) {
    if (!AgreeOnComPortOption(c, failure)) {
        return false;
    }
    for (const ComPortMessage& step : OpenSettingsSteps(static_cast<uint32_t>(baud))) {
        if (!ApplySetting(c, step, failure)) {
            return false;
        }
    }
    PrepareDtrOff(c);
    return true;
}

}  // namespace

bool OpenNetworkConnection(Port& port, const NetworkAddress& address, NetworkOpenFailure* failure) {
    ForgetConnection(port);
    port.network.reset(new NetworkConnection);
    NetworkConnection& c = *port.network;
    SocketResult connected = ConnectTcp(address.host, address.port, CONNECT_TIMEOUT_MS, &c.socket);
    if (!connected.ok) {
        *failure = {connected.error, connected.reason};
        ForgetConnection(port);
        return false;
    }
    c.protocol = address.protocol;
    if (address.protocol == NetworkProtocol::Rfc2217 && !SetUpRfc2217(c, port.line.baud, failure)) {
        ForgetConnection(port);
        return false;
    }
    c.arrived.clear();
    port.ops = &NETWORK_PORT_OPS;
    return true;
}

namespace {

// Sends the data as the far side must read it: in RFC 2217 every 0xFF doubled.
int SendData(NetworkConnection& c, const uint8_t* data, size_t length) {
    if (c.protocol == NetworkProtocol::RawTcp) {
        return SendToSocket(c.socket, data, length);
    }
    return Send(c, EscapedData(data, length));
}

int ErrorOf(int taken) {
    return taken == CONNECTION_CLOSED ? ClosedConnectionError() : taken;
}

// Takes what has arrived without waiting; false when the connection failed or closed.
bool TakeWaitingBytes(NetworkConnection& c, int* error) {
    for (;;) {
        SocketWait wait = WaitSocketReadable(c.socket, 0, false);
        if (wait.end == SocketWaitEnd::TimedOut) {
            return true;
        }
        if (wait.end != SocketWaitEnd::Readable) {
            *error = wait.error;
            return false;
        }
        int taken = TakeArrivedBytes(c, nullptr);
        if (taken != 0) {
            *error = ErrorOf(taken);
            return false;
        }
    }
}

}  // namespace

namespace {

// The far side's buffer is purged by PURGE-DATA; what has already arrived here goes as well.
PortResult PurgeNetworkInput(Port& port) {
    NetworkConnection& c = *port.network;
    if (c.protocol == NetworkProtocol::Rfc2217 &&
        Send(c, ComPortSubnegotiation(PurgeReceiveStep())) != 0) {
        return PortFailure("PurgeComm", ClosedConnectionError());
    }
    int error = 0;
    bool alive = TakeWaitingBytes(c, &error);
    c.arrived.clear();
    return alive ? PortSuccess() : PortFailure("PurgeComm", error);
}

PortWait WaitForNetworkByte(Port& port) {
    NetworkConnection& c = *port.network;
    auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(port.line.replyTimeoutMs);
    while (c.arrived.empty()) {
        SocketWait wait = WaitSocketReadable(c.socket, MillisecondsLeft(deadline), true);
        if (wait.end == SocketWaitEnd::Interrupted) {
            return {PortWaitEnd::Interrupted, 0, 0};
        }
        if (wait.end == SocketWaitEnd::TimedOut) {
            return {PortWaitEnd::TimedOut, 0, 0};
        }
        int taken = wait.end == SocketWaitEnd::Failed ? wait.error : TakeArrivedBytes(c, nullptr);
        if (taken != 0) {
            int error = ErrorOf(taken);
            return {IsConnectionLost(error) ? PortWaitEnd::HungUp : PortWaitEnd::Failed, 0, error};
        }
    }
    uint8_t value = c.arrived.front();
    c.arrived.pop_front();
    return {PortWaitEnd::Byte, value, 0};
}

// What had arrived counts as discarded as much as what was still on its way in.
PortDiscard DiscardNetworkInput(Port& port) {
    NetworkConnection& c = *port.network;
    int error = 0;
    bool alive = TakeWaitingBytes(c, &error);
    long count = static_cast<long>(c.arrived.size());
    c.arrived.clear();
    return {count, !alive && IsConnectionLost(error)};
}

PortResult SendNetworkByte(Port& port, uint8_t value) {
    int error = SendData(*port.network, &value, 1);
    return error == 0 ? PortSuccess() : PortFailure("TransmitCommChar", error);
}

PortResult WriteNetworkBlock(Port& port, const void* data, uint32_t length, uint32_t* written) {
    *written = 0;
    int error = SendData(*port.network, static_cast<const uint8_t*>(data), length);
    if (error != 0) {
        return PortFailure("WriteFile", error);
    }
    *written = length;
    return PortSuccess();
}

bool NetworkPortIsOpen(const Port& port) {
    return port.network && port.network->socket.handle >= 0;
}

// The server takes the stream in order: once it has acknowledged the DTR off, it has also
// taken every byte before it (the Finish command, which has no reply). A server that closes
// the device as soon as the client's end of the stream arrives may drop what it had not yet
// passed on. One that never acknowledges costs the bounded wait.
void AwaitDtrOffAcknowledgement(NetworkConnection& c) {
    auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(DTR_OFF_ACK_TIMEOUT_MS);
    std::vector<ComPortMessage> acks;
    while (WaitSocketReadable(c.socket, MillisecondsLeft(deadline), false).end ==
               SocketWaitEnd::Readable &&
           TakeArrivedBytes(c, &acks) == 0) {
        for (const ComPortMessage& ack : acks) {
            if (ack.command == COM_PORT_SET_CONTROL) {
                return;
            }
        }
        acks.clear();
    }
}

// A socket closed with unread bytes (an acknowledgement, a notification) resets the
// connection, and the far side may drop what it had not yet passed on. So the sending side is
// shut first, and what comes is read until the far side closes too, or the time is up.
void CloseNetworkPort(Port& port) {
    if (!NetworkPortIsOpen(port)) {
        return;
    }
    NetworkConnection& c = *port.network;
    if (c.dtrOffLength == 0) {
        WaitSocketReadable(c.socket, RAW_CLOSE_GRACE_MS, false);
    } else if (SendToSocket(c.socket, c.dtrOff, c.dtrOffLength) == 0) {
        AwaitDtrOffAcknowledgement(c);
    }
    ShutDownSending(c.socket);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(CLOSE_TIMEOUT_MS);
    uint8_t buffer[512];
    int error = 0;
    while (WaitSocketReadable(c.socket, MillisecondsLeft(deadline), false).end ==
               SocketWaitEnd::Readable &&
           ReceiveFromSocket(c.socket, buffer, sizeof buffer, &error) > 0) {
    }
    ForgetConnection(port);
}

// Only async-signal-safe calls: the prepared DTR off, then the close.
void ReleaseNetworkPortAtOnce(Port& port) {
    NetworkConnection* connection = port.network.get();
    if (connection == nullptr || connection->socket.handle < 0) {
        return;
    }
    NetworkConnection& c = *connection;
    if (c.dtrOffLength > 0) {
        SendToSocket(c.socket, c.dtrOff, c.dtrOffLength);
    }
    CloseSocket(&c.socket);
}

bool IsNetworkHangUpError(int error) {
    return IsConnectionLost(error);
}

}  // namespace

const PortOps NETWORK_PORT_OPS{.purgeInput = PurgeNetworkInput,
                               .waitForByte = WaitForNetworkByte,
                               .discardInput = DiscardNetworkInput,
                               .sendByte = SendNetworkByte,
                               .writeBlock = WriteNetworkBlock,
                               .isOpen = NetworkPortIsOpen,
                               .close = CloseNetworkPort,
                               .releaseAtOnce = ReleaseNetworkPortAtOnce,
                               .isHangUpError = IsNetworkHangUpError};
