#include "network_link.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

namespace tarnix {

namespace {

using Clock = std::chrono::steady_clock;

// What a closed connection reads as: the same as a device that hung up.
constexpr int CONNECTION_CLOSED = -1;
constexpr size_t READ_CHUNK_BYTES = 4096;

Clock::time_point After(long milliseconds) {
    return Clock::now() + std::chrono::milliseconds(milliseconds);
}

long MillisecondsUntil(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? static_cast<long>(left.count()) : 0;
}

std::string Seconds(long milliseconds) {
    return std::to_string(milliseconds / 1000) + " s";
}

// The server broke the protocol: from now on every step fails with it. On an open port it is
// said at once, on standard error; a failed open says it as its reason.
int NoteFault(NetworkLink* link, int error, const std::string& what) {
    if (link->faultError != 0) {
        return link->faultError;
    }
    link->faultError = error;
    link->fault = what;
    if (link->opened) {
        fflush(stdout);
        fprintf(stderr, "Network port fault: %s: %s; the connection is given up\n",
                link->name.c_str(), what.c_str());
    }
    return error;
}

int NoteProtocolFault(NetworkLink* link, const std::string& what) {
    return NoteFault(link, ProtocolFaultError(), what);
}

void PushData(NetworkInbox* inbox, const std::vector<uint8_t>& data) {
    for (uint8_t byte : data) {
        inbox->bytes[(inbox->start + inbox->count) % NET_INBOX_BYTES] = byte;
        ++inbox->count;
    }
}

uint8_t PopData(NetworkInbox* inbox) {
    uint8_t byte = inbox->bytes[inbox->start];
    inbox->start = (inbox->start + 1) % NET_INBOX_BYTES;
    --inbox->count;
    return byte;
}

// Sends within what is left of `deadline`; 0, or the error (a fault for a far side that stopped
// taking bytes, or for a write cut by an interrupt: the frame cannot be completed).
int SendBefore(NetworkLink* link, const std::vector<uint8_t>& bytes, Clock::time_point deadline) {
    if (bytes.empty()) {
        return 0;
    }
    SocketSend sent =
        SendToSocket(link->socket, bytes.data(), bytes.size(), MillisecondsUntil(deadline), true);
    switch (sent.end) {
        case SendEnd::Sent:
            return 0;
        case SendEnd::TimedOut:
            link->sendFailed = true;
            return NoteFault(link, TimedOutError(),
                             "the server took nothing for " + Seconds(NET_WRITE_TIMEOUT_MS) +
                                 ": it has stopped reading");
        case SendEnd::Interrupted:
            link->sendFailed = true;
            return NoteFault(link, sent.error,
                             "an interrupt ended a write the server did not take");
        case SendEnd::Failed:
            break;
    }
    return sent.error;
}

// Decodes what was read: data into the inbox, acknowledgements to *acks (when given),
// negotiation answered within `deadline`. 0, or the fault.
int TakeTelnet(NetworkLink* link, const uint8_t* bytes, size_t count,
               std::vector<ComPortMessage>* acks, Clock::time_point deadline) {
    ServerBytesResult decoded = DecodeServerBytes(&link->decoder, bytes, count);
    PushData(&link->inbox, decoded.data);
    if (acks != nullptr) {
        acks->insert(acks->end(), decoded.acks.begin(), decoded.acks.end());
    }
    if (decoded.fault != nullptr) {
        return NoteProtocolFault(link, decoded.fault);
    }
    if (link->opened && BinaryStanding(link->decoder) != ComPortStanding::Agreed) {
        return NoteProtocolFault(link, "the server turned Telnet BINARY mode off");
    }
    return SendBefore(link, decoded.answers, deadline);
}

// One read of what has arrived, no more than the inbox can still hold: 0, CONNECTION_CLOSED,
// or the error. A full inbox that more data is waiting for is a protocol fault.
int ReadIntoLink(NetworkLink* link, std::vector<ComPortMessage>* acks, Clock::time_point deadline,
                 size_t* received = nullptr) {
    size_t room = std::min(READ_CHUNK_BYTES, NET_INBOX_BYTES - link->inbox.count);
    if (room == 0) {
        return NoteProtocolFault(link, "the server sent more than " +
                                           std::to_string(NET_INBOX_BYTES) +
                                           " bytes that no command asked for");
    }
    uint8_t buffer[READ_CHUNK_BYTES];
    int error = 0;
    long count = ReceiveFromSocket(link->socket, buffer, room, &error);
    if (count <= 0) {
        return count == 0 ? CONNECTION_CLOSED : error;
    }
    if (received != nullptr) {
        *received += static_cast<size_t>(count);
    }
    if (link->protocol == NetworkProtocol::RawTcp) {
        PushData(&link->inbox, std::vector<uint8_t>(buffer, buffer + count));
        return 0;
    }
    return TakeTelnet(link, buffer, static_cast<size_t>(count), acks, deadline);
}

enum class Awaited { Done, TimedOut, Interrupted, Closed, Failed };

struct AwaitOutcome {
    Awaited end;
    int error;
};

// Reads until `done` holds, the deadline passes or an interrupt comes.
template <typename Done>
AwaitOutcome AwaitLink(NetworkLink* link, Clock::time_point deadline, Done done,
                       std::vector<ComPortMessage>* acks) {
    while (!done()) {
        long left = MillisecondsUntil(deadline);
        if (left <= 0) {
            return {Awaited::TimedOut, 0};
        }
        SocketWait wait = WaitSocketReadable(link->socket, left, true);
        if (wait.end != SocketWaitEnd::Readable) {
            return {wait.end == SocketWaitEnd::Interrupted ? Awaited::Interrupted
                    : wait.end == SocketWaitEnd::TimedOut  ? Awaited::TimedOut
                                                           : Awaited::Failed,
                    wait.error};
        }
        int error = ReadIntoLink(link, acks, deadline);
        if (error != 0) {
            return {error == CONNECTION_CLOSED ? Awaited::Closed : Awaited::Failed,
                    error == CONNECTION_CLOSED ? 0 : error};
        }
    }
    return {Awaited::Done, 0};
}

// The words of an open step that did not end in time or in order; `waitingFor` without its
// article ("acknowledgement of SET-PARITY none").
bool FailOpen(const AwaitOutcome& outcome, const std::string& waitingFor,
              LinkOpenFailure* failure) {
    switch (outcome.end) {
        case Awaited::Done:
            return true;
        case Awaited::Interrupted:
            *failure = {0, "interrupted while waiting for the " + waitingFor, true};
            break;
        case Awaited::TimedOut:
            *failure = {0, "no " + waitingFor + " within " + Seconds(NET_NEGOTIATION_TIMEOUT_MS)};
            break;
        case Awaited::Closed:
            *failure = {0, "the server closed the connection while waiting for the " + waitingFor};
            break;
        case Awaited::Failed:
            *failure = {outcome.error, "the connection failed while waiting for the " + waitingFor};
            break;
    }
    return false;
}

bool FailOpenAfter(const NetworkLink& link, const AwaitOutcome& outcome,
                   const std::string& waitingFor, LinkOpenFailure* failure) {
    if (outcome.end == Awaited::Failed && link.faultError != 0) {
        *failure = {0, link.fault + ", while waiting for the " + waitingFor};
        return false;
    }
    return FailOpen(outcome, waitingFor, failure);
}

}  // namespace

namespace {

bool Rfc2217OptionsDecided(const TelnetDecoder& decoder) {
    return decoder.ours[TELNET_OPTION_COM_PORT] != TelnetOptionState::Asked &&
           BinaryStanding(decoder) != ComPortStanding::Undecided;
}

bool AgreeOnOptions(NetworkLink* link, LinkOpenFailure* failure) {
    StartTelnetDecoder(&link->decoder);
    Clock::time_point deadline = After(NET_NEGOTIATION_TIMEOUT_MS);
    if (SendBefore(link, TelnetClientGreeting(), deadline) != 0) {
        *failure = {0, "the Telnet greeting could not be sent"};
        return false;
    }
    AwaitOutcome outcome = AwaitLink(
        link, deadline, [link] { return Rfc2217OptionsDecided(link->decoder); }, nullptr);
    if (!FailOpenAfter(*link, outcome, "answer to the Telnet options (COM-PORT-OPTION, BINARY)",
                       failure)) {
        return false;
    }
    if (link->decoder.ours[TELNET_OPTION_COM_PORT] != TelnetOptionState::On) {
        *failure = {0,
                    "the server refused the COM-PORT-OPTION (RFC 2217): is it a raw TCP "
                    "port? then write socket://"};
        return false;
    }
    if (BinaryStanding(link->decoder) != ComPortStanding::Agreed) {
        *failure = {0,
                    "the server refused Telnet BINARY mode (RFC 856): bytes such as CR and NUL "
                    "would not reach the module as they are"};
        return false;
    }
    return true;
}

// All settings go out together; each acknowledgement is checked against its own setting.
bool ApplySettings(NetworkLink* link, long baud, LinkOpenFailure* failure) {
    SettingsProgress progress = StartSettings(OpenSettingsSteps(static_cast<uint32_t>(baud)));
    std::vector<uint8_t> bytes;
    for (const ComPortMessage& step : progress.steps) {
        AppendComPortSubnegotiation(step, &bytes);
    }
    Clock::time_point deadline = After(NET_NEGOTIATION_TIMEOUT_MS);
    if (SendBefore(link, bytes, deadline) != 0) {
        *failure = {0, "the line settings could not be sent"};
        return false;
    }
    std::vector<ComPortMessage> acks;
    AwaitOutcome outcome = AwaitLink(
        link, deadline,
        [&] {
            for (const ComPortMessage& ack : acks) {
                TakeSettingAck(&progress, ack);
            }
            acks.clear();
            return AllSettingsConfirmed(progress) || !progress.mismatch.empty();
        },
        &acks);
    if (!FailOpenAfter(*link, outcome, "acknowledgement of " + FirstUnconfirmedSetting(progress),
                       failure)) {
        return false;
    }
    if (!progress.mismatch.empty()) {
        *failure = {
            0, progress.mismatch + ": the far side cannot set the line as the module needs it"};
        return false;
    }
    return true;
}

void PrepareDtrOff(NetworkLink* link) {
    std::vector<uint8_t> bytes =
        ComPortSubnegotiation({COM_PORT_SET_CONTROL, {COM_PORT_CONTROL_DTR_OFF}});
    link->dtrOffLength = std::min(bytes.size(), sizeof link->dtrOff);
    std::memcpy(link->dtrOff, bytes.data(), link->dtrOffLength);
}

void ForgetLink(NetworkLink* link) {
    CloseSocket(&link->socket);
    *link = NetworkLink{};
}

}  // namespace

bool OpenNetworkLink(NetworkLink* link, const NetworkAddress& address, long baud,
                     LinkOpenFailure* failure) {
    ForgetLink(link);
    link->name = NetworkAddressName(address);
    SocketResult connected =
        ConnectTcp(address.host, address.port, NET_CONNECT_TIMEOUT_MS, &link->socket);
    if (!connected.ok) {
        *failure = {connected.error, connected.reason, connected.interrupted};
        return false;
    }
    link->protocol = address.protocol;
    if (address.protocol == NetworkProtocol::Rfc2217) {
        if (!AgreeOnOptions(link, failure) || !ApplySettings(link, baud, failure)) {
            ForgetLink(link);
            return false;
        }
        PrepareDtrOff(link);
    }
    link->opened = true;
    return true;
}

PortResult PurgeLinkInput(NetworkLink* link) {
    if (link->protocol == NetworkProtocol::Rfc2217) {
        int error = SendBefore(link, ComPortSubnegotiation(PurgeReceiveStep()),
                               After(NET_WRITE_TIMEOUT_MS));
        if (error != 0) {
            return PortFailure("PurgeComm", error);
        }
    }
    PortDiscard discarded = DiscardLinkInput(link);
    return discarded.count >= 0 && !discarded.hungUp
               ? PortSuccess()
               : PortFailure("PurgeComm",
                             link->faultError != 0 ? link->faultError : ClosedConnectionError());
}

PortWait WaitForLinkByte(NetworkLink* link, long timeoutMs) {
    if (link->faultError != 0) {
        return {PortWaitEnd::HungUp, 0, link->faultError};
    }
    AwaitOutcome outcome = AwaitLink(
        link, After(timeoutMs), [link] { return link->inbox.count > 0; }, nullptr);
    switch (outcome.end) {
        case Awaited::Done:
            return {PortWaitEnd::Byte, PopData(&link->inbox), 0};
        case Awaited::Interrupted:
            return {PortWaitEnd::Interrupted, 0, 0};
        case Awaited::TimedOut:
            return {PortWaitEnd::TimedOut, 0, 0};
        case Awaited::Closed:
            return {PortWaitEnd::HungUp, 0, ClosedConnectionError()};
        case Awaited::Failed:
            break;
    }
    bool lost = IsNetworkLinkLost(outcome.error);
    return {lost ? PortWaitEnd::HungUp : PortWaitEnd::Failed, 0, outcome.error};
}

PortDiscard DiscardLinkInput(NetworkLink* link) {
    long count = static_cast<long>(link->inbox.count);
    link->inbox = NetworkInbox{};
    size_t read = 0;
    while (link->faultError == 0) {
        SocketWait wait = WaitSocketReadable(link->socket, 0, false);
        if (wait.end == SocketWaitEnd::TimedOut) {
            return {count, false};
        }
        if (read >= NET_DISCARD_LIMIT_BYTES) {
            NoteProtocolFault(link, "the server kept sending: more than " +
                                        std::to_string(NET_DISCARD_LIMIT_BYTES) +
                                        " bytes that no command asked for");
            break;
        }
        int error = wait.end == SocketWaitEnd::Readable
                        ? ReadIntoLink(link, nullptr, After(NET_WRITE_TIMEOUT_MS), &read)
                        : wait.error;
        if (error != 0) {
            return {count, error == CONNECTION_CLOSED || IsNetworkLinkLost(error)};
        }
        count += static_cast<long>(link->inbox.count);
        link->inbox = NetworkInbox{};
    }
    return {count, true};
}

PortResult SendLinkData(NetworkLink* link, const uint8_t* data, size_t length, const char* call) {
    if (link->sendFailed) {
        return PortFailure(call, link->faultError);
    }
    std::vector<uint8_t> bytes = link->protocol == NetworkProtocol::Rfc2217
                                     ? EscapedData(data, length)
                                     : std::vector<uint8_t>(data, data + length);
    int error = SendBefore(link, bytes, After(NET_WRITE_TIMEOUT_MS));
    return error == 0 ? PortSuccess() : PortFailure(call, error);
}

bool NetworkLinkIsOpen(const NetworkLink& link) {
    return link.socket.handle >= 0;
}

namespace {

// The server takes the stream in order: once it has acknowledged the DTR off, it has also
// taken every byte before it (the Finish command, which has no reply). What else arrives is
// dropped: nobody reads it any more. False when an interrupt ended the wait.
bool AwaitDtrOffAnswer(NetworkLink* link, Clock::time_point deadline) {
    if (SendBefore(link, std::vector<uint8_t>(link->dtrOff, link->dtrOff + link->dtrOffLength),
                   deadline) != 0) {
        return true;
    }
    std::vector<ComPortMessage> acks;
    bool answered = false;
    AwaitOutcome outcome = AwaitLink(
        link, deadline,
        [&] {
            for (const ComPortMessage& ack : acks) {
                answered = answered || ack.command == COM_PORT_SET_CONTROL;
            }
            acks.clear();
            link->inbox = NetworkInbox{};
            return answered;
        },
        &acks);
    return outcome.end != Awaited::Interrupted;
}

// Reads and drops until the far side closes too, the deadline passes or an interrupt comes.
void AwaitFarSideClose(NetworkLink* link, Clock::time_point deadline) {
    uint8_t buffer[READ_CHUNK_BYTES];
    for (;;) {
        long left = MillisecondsUntil(deadline);
        if (left <= 0 ||
            WaitSocketReadable(link->socket, left, true).end != SocketWaitEnd::Readable) {
            return;
        }
        int error = 0;
        if (ReceiveFromSocket(link->socket, buffer, sizeof buffer, &error) == 0 || error != 0) {
            return;
        }
    }
}

}  // namespace

// A socket closed with unread bytes (an acknowledgement, a notification) resets the
// connection, and the far side may drop what it had not yet passed on. So the sending side is
// shut first, and what comes is read until the far side closes too.
void CloseNetworkLink(NetworkLink* link) {
    if (!NetworkLinkIsOpen(*link)) {
        return;
    }
    Clock::time_point deadline = After(NET_CLOSE_TIMEOUT_MS);
    link->inbox = NetworkInbox{};
    if (!link->sendFailed) {
        bool goOn = link->dtrOffLength > 0
                        ? AwaitDtrOffAnswer(link, deadline)
                        : WaitSocketReadable(link->socket, NET_RAW_CLOSE_GRACE_MS, true).end !=
                              SocketWaitEnd::Interrupted;
        ShutDownSending(link->socket);
        if (goOn) {
            AwaitFarSideClose(link, deadline);
        }
    }
    ForgetLink(link);
}

void ReleaseNetworkLinkAtOnce(NetworkLink* link) {
    if (link->socket.handle < 0) {
        return;
    }
    if (link->dtrOffLength > 0 && !link->sendFailed) {
        SendToSocketAtOnce(link->socket, link->dtrOff, link->dtrOffLength);
    }
    CloseSocket(&link->socket);
}

bool IsNetworkLinkLost(int error) {
    return IsConnectionLost(error) || error == ProtocolFaultError();
}

}  // namespace tarnix
