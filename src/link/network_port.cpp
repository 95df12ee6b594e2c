#include "network_port.h"

#include <chrono>
#include <cstring>
#include <deque>

#include "net_socket.h"
#include "rfc2217.h"

namespace {

constexpr int CONNECT_TIMEOUT_MS = 5000;
constexpr long NEGOTIATION_TIMEOUT_MS = 3000;
constexpr long READ_TIMEOUT_MS = 5000;
constexpr long CLOSE_TIMEOUT_MS = 2000;
constexpr long DTR_OFF_ACK_TIMEOUT_MS = 1000;
// A raw TCP port gives no sign of what the far side has passed on to the device: a pause
// before the end of the stream gives a server that closes the device at once time to write
// the last bytes.
constexpr long RAW_CLOSE_GRACE_MS = 100;
// What a closed connection reads as: the same as a device that hung up.
constexpr int CONNECTION_CLOSED = -1;

// The one open network port of the process, like the device handle of a local port.
struct NetworkPort {
    NetSocket socket;
    NetworkProtocol protocol = NetworkProtocol::None;
    TelnetDecoder decoder;
    std::deque<uint8_t> arrived;  // data read from the connection and not yet taken
    // DTR off, ready for the release from a signal handler, which may not build it.
    uint8_t dtrOff[16] = {};
    size_t dtrOffLength = 0;
};
NetworkPort Port;

int Send(const std::vector<uint8_t>& bytes) {
    return bytes.empty() ? 0 : SendToSocket(Port.socket, bytes.data(), bytes.size());
}

// Reads what the connection holds into Port.arrived (Telnet decoded and answered); the
// acknowledgements go to *acks when given. 0, CONNECTION_CLOSED, or the system's error.
int TakeArrivedBytes(std::vector<ComPortMessage>* acks) {
    uint8_t buffer[4096];
    int error = 0;
    long count = ReceiveFromSocket(Port.socket, buffer, sizeof buffer, &error);
    if (count <= 0) {
        return count == 0 ? CONNECTION_CLOSED : error;
    }
    if (Port.protocol == NetworkProtocol::RawTcp) {
        Port.arrived.insert(Port.arrived.end(), buffer, buffer + count);
        return 0;
    }
    ServerBytesResult decoded =
        DecodeServerBytes(&Port.decoder, buffer, static_cast<size_t>(count));
    Port.arrived.insert(Port.arrived.end(), decoded.data.begin(), decoded.data.end());
    if (acks != nullptr) {
        acks->insert(acks->end(), decoded.acks.begin(), decoded.acks.end());
    }
    return Send(decoded.answers);
}

long MillisecondsLeft(std::chrono::steady_clock::time_point deadline) {
    auto left = deadline - std::chrono::steady_clock::now();
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(left).count());
}

void ForgetNetworkPort() {
    CloseSocket(&Port.socket);
    Port = NetworkPort{};
}

}  // namespace

namespace {

// Reads until `done` holds or the time is up; false with *failure set otherwise.
template <typename Done>
bool ReadUntil(Done done, const char* waitingFor, NetworkOpenFailure* failure) {
    auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(NEGOTIATION_TIMEOUT_MS);
    std::vector<ComPortMessage> acks;
    while (!done(acks)) {
        SocketWait wait = WaitSocketReadable(Port.socket, MillisecondsLeft(deadline), false);
        if (wait.end != SocketWaitEnd::Readable) {
            *failure = {wait.error, std::string("no answer to ") + waitingFor + " within " +
                                        std::to_string(NEGOTIATION_TIMEOUT_MS / 1000) + " s"};
            return false;
        }
        int error = TakeArrivedBytes(&acks);
        if (error != 0) {
            *failure = {
                error == CONNECTION_CLOSED ? 0 : error,
                std::string("the server closed the connection while waiting for ") + waitingFor};
            return false;
        }
    }
    return true;
}

bool AgreeOnComPortOption(NetworkOpenFailure* failure) {
    StartTelnetDecoder(&Port.decoder);
    if (Send(TelnetClientGreeting()) != 0) {
        *failure = {0, "the Telnet greeting could not be sent"};
        return false;
    }
    bool ok = ReadUntil(
        [](const std::vector<ComPortMessage>&) {
            return Port.decoder.ours[TELNET_OPTION_COM_PORT] != TelnetOptionState::Asked;
        },
        "the COM-PORT-OPTION (RFC 2217)", failure);
    if (ok && Port.decoder.ours[TELNET_OPTION_COM_PORT] != TelnetOptionState::On) {
        *failure = {0,
                    "the server refused the COM-PORT-OPTION (RFC 2217): is it a raw TCP "
                    "port? then write socket://"};
        return false;
    }
    return ok;
}

// Each setting is sent and its acknowledgement awaited before the next: a line that is not
// set as asked is never used.
bool ApplySetting(const ComPortMessage& step, NetworkOpenFailure* failure) {
    if (Send(ComPortSubnegotiation(step)) != 0) {
        *failure = {0, "the setting " + DescribeComPortStep(step) + " could not be sent"};
        return false;
    }
    std::string mismatch;
    bool answered = ReadUntil(
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

void PrepareDtrOff() {
    std::vector<uint8_t> bytes =
        ComPortSubnegotiation({COM_PORT_SET_CONTROL, {COM_PORT_CONTROL_DTR_OFF}});
    Port.dtrOffLength = std::min(bytes.size(), sizeof Port.dtrOff);
    std::memcpy(Port.dtrOff, bytes.data(), Port.dtrOffLength);
}

bool SetUpRfc2217(long baud, NetworkOpenFailure* failure) {
    if (!AgreeOnComPortOption(failure)) {
        return false;
    }
    for (const ComPortMessage& step : OpenSettingsSteps(static_cast<uint32_t>(baud))) {
        if (!ApplySetting(step, failure)) {
            return false;
        }
    }
    PrepareDtrOff();
    return true;
}

}  // namespace

bool OpenNetworkConnection(const NetworkAddress& address, long baud, NetworkOpenFailure* failure) {
    ForgetNetworkPort();
    SocketResult connected =
        ConnectTcp(address.host, address.port, CONNECT_TIMEOUT_MS, &Port.socket);
    if (!connected.ok) {
        *failure = {connected.error, connected.reason};
        return false;
    }
    Port.protocol = address.protocol;
    if (address.protocol == NetworkProtocol::Rfc2217 && !SetUpRfc2217(baud, failure)) {
        ForgetNetworkPort();
        return false;
    }
    Port.arrived.clear();
    return true;
}

namespace {

// Sends the data as the far side must read it: in RFC 2217 every 0xFF doubled.
int SendData(const uint8_t* data, size_t length) {
    if (Port.protocol == NetworkProtocol::RawTcp) {
        return SendToSocket(Port.socket, data, length);
    }
    return Send(EscapedData(data, length));
}

int ErrorOf(int taken) {
    return taken == CONNECTION_CLOSED ? ClosedConnectionError() : taken;
}

// Takes what has arrived without waiting; false when the connection failed or closed.
bool TakeWaitingBytes(int* error) {
    for (;;) {
        SocketWait wait = WaitSocketReadable(Port.socket, 0, false);
        if (wait.end == SocketWaitEnd::TimedOut) {
            return true;
        }
        if (wait.end != SocketWaitEnd::Readable) {
            *error = wait.error;
            return false;
        }
        int taken = TakeArrivedBytes(nullptr);
        if (taken != 0) {
            *error = ErrorOf(taken);
            return false;
        }
    }
}

}  // namespace

// The far side's buffer is purged by PURGE-DATA; what has already arrived here goes as well.
PortResult PurgeNetworkInput() {
    if (Port.protocol == NetworkProtocol::Rfc2217 &&
        Send(ComPortSubnegotiation(PurgeReceiveStep())) != 0) {
        return PortFailure("PurgeComm", ClosedConnectionError());
    }
    int error = 0;
    bool alive = TakeWaitingBytes(&error);
    Port.arrived.clear();
    return alive ? PortSuccess() : PortFailure("PurgeComm", error);
}

PortWait WaitForNetworkByte() {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(READ_TIMEOUT_MS);
    while (Port.arrived.empty()) {
        SocketWait wait = WaitSocketReadable(Port.socket, MillisecondsLeft(deadline), true);
        if (wait.end == SocketWaitEnd::Interrupted) {
            return {PortWaitEnd::Interrupted, 0, 0};
        }
        if (wait.end == SocketWaitEnd::TimedOut) {
            return {PortWaitEnd::TimedOut, 0, 0};
        }
        int taken = wait.end == SocketWaitEnd::Failed ? wait.error : TakeArrivedBytes(nullptr);
        if (taken != 0) {
            int error = ErrorOf(taken);
            return {IsConnectionLost(error) ? PortWaitEnd::HungUp : PortWaitEnd::Failed, 0, error};
        }
    }
    uint8_t value = Port.arrived.front();
    Port.arrived.pop_front();
    return {PortWaitEnd::Byte, value, 0};
}

// What had arrived counts as discarded as much as what was still on its way in.
PortDiscard DiscardNetworkInput() {
    int error = 0;
    bool alive = TakeWaitingBytes(&error);
    long count = static_cast<long>(Port.arrived.size());
    Port.arrived.clear();
    return {count, !alive && IsConnectionLost(error)};
}

PortResult SendNetworkByte(uint8_t value) {
    int error = SendData(&value, 1);
    return error == 0 ? PortSuccess() : PortFailure("TransmitCommChar", error);
}

PortResult WriteNetworkBlock(const void* data, uint32_t length, uint32_t* written) {
    *written = 0;
    int error = SendData(static_cast<const uint8_t*>(data), length);
    if (error != 0) {
        return PortFailure("WriteFile", error);
    }
    *written = length;
    return PortSuccess();
}

bool NetworkPortIsOpen() {
    return Port.socket.handle >= 0;
}

namespace {

// The server takes the stream in order: once it has acknowledged the DTR off, it has also
// taken every byte before it (the Finish command, which has no reply). A server that closes
// the device as soon as the client's end of the stream arrives may drop what it had not yet
// passed on. One that never acknowledges costs the bounded wait.
void AwaitDtrOffAcknowledgement() {
    auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(DTR_OFF_ACK_TIMEOUT_MS);
    std::vector<ComPortMessage> acks;
    while (WaitSocketReadable(Port.socket, MillisecondsLeft(deadline), false).end ==
               SocketWaitEnd::Readable &&
           TakeArrivedBytes(&acks) == 0) {
        for (const ComPortMessage& ack : acks) {
            if (ack.command == COM_PORT_SET_CONTROL) {
                return;
            }
        }
        acks.clear();
    }
}

}  // namespace

// A socket closed with unread bytes (an acknowledgement, a notification) resets the
// connection, and the far side may drop what it had not yet passed on. So the sending side is
// shut first, and what comes is read until the far side closes too, or the time is up.
void CloseNetworkPort() {
    if (Port.socket.handle < 0) {
        return;
    }
    if (Port.dtrOffLength == 0) {
        WaitSocketReadable(Port.socket, RAW_CLOSE_GRACE_MS, false);
    } else if (SendToSocket(Port.socket, Port.dtrOff, Port.dtrOffLength) == 0) {
        AwaitDtrOffAcknowledgement();
    }
    ShutDownSending(Port.socket);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(CLOSE_TIMEOUT_MS);
    uint8_t buffer[512];
    int error = 0;
    while (WaitSocketReadable(Port.socket, MillisecondsLeft(deadline), false).end ==
               SocketWaitEnd::Readable &&
           ReceiveFromSocket(Port.socket, buffer, sizeof buffer, &error) > 0) {
    }
    ForgetNetworkPort();
}

// Only async-signal-safe calls: the prepared DTR off, then the close.
void ReleaseNetworkPortAtOnce() {
    if (Port.socket.handle < 0) {
        return;
    }
    if (Port.dtrOffLength > 0) {
        SendToSocket(Port.socket, Port.dtrOff, Port.dtrOffLength);
    }
    CloseSocket(&Port.socket);
}

bool IsNetworkHangUpError(int error) {
    return IsConnectionLost(error);
}
