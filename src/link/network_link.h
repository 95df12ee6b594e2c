#pragma once
// The steps of a network port (rfc2217:// and socket://) on one connection, the same on every
// platform: the socket calls are net_socket.h, the Telnet logic rfc2217.h. A link is a plain
// value: the port that is open keeps it, and every step is given the link it works on.
//
// Everything a server can do is bounded here. Each wait ends at its deadline however many bytes
// arrive meanwhile, and at an interrupt (interrupts.h) within 50 ms; what is received is held
// up to NET_INBOX_BYTES; a server that sends more than a module ever would, or that stops
// reading, breaks the protocol: the link then fails every later wait at once with a protocol
// fault (said once on standard error), as a port whose device has gone; sending still goes on
// after a fault of what the server sent (the Finish that releases the module, the DTR off), not
// after one of sending.

#include <cstddef>
#include <cstdint>
#include <string>

#include "net_socket.h"
#include "network_address.h"
#include "port_backend.h"
#include "rfc2217.h"

namespace tarnix {

// The bounds of a network port, one home each (README, "Reliability").
inline constexpr long NET_CONNECT_TIMEOUT_MS = 5000;      // name look-up and connect, together
inline constexpr long NET_NEGOTIATION_TIMEOUT_MS = 3000;  // Telnet options; then all settings
inline constexpr long NET_WRITE_TIMEOUT_MS = 5000;        // for the far side to take what is sent
inline constexpr long NET_CLOSE_TIMEOUT_MS = 2000;  // DTR off answered and the far side closed
// A raw TCP port gives no sign of what the far side has passed on to the device: a pause
// before the end of the stream gives a server that closes the device at once time to write
// the last bytes.
inline constexpr long NET_RAW_CLOSE_GRACE_MS = 100;
// The device's bytes received and not yet taken. A module answers a command with one byte, an
// information query with some 260: more than this is no module.
inline constexpr size_t NET_INBOX_BYTES = 4096;
// What one discard of stray input (before each command, and at the open's purge) reads before
// it calls the server's sending a flood.
inline constexpr size_t NET_DISCARD_LIMIT_BYTES = 65536;

// The received data, a ring of fixed size.
struct NetworkInbox {
    uint8_t bytes[NET_INBOX_BYTES] = {};
    size_t start = 0;
    size_t count = 0;
};

struct NetworkLink {
    NetSocket socket;
    NetworkProtocol protocol = NetworkProtocol::None;
    std::string name;  // the URL, for the fault's line
    TelnetDecoder decoder;
    NetworkInbox inbox;
    bool opened = false;  // the open has ended: faults are said, Telnet BINARY must stay on
    // Once set, every wait fails with it. A fault of what the server sends leaves sending
    // possible (so that the module is still released); one of sending (`sendFailed`) does not.
    int faultError = 0;
    std::string fault;  // that fault in words
    bool sendFailed = false;
    // DTR off, ready for the release from a signal handler, which may not build it.
    uint8_t dtrOff[16] = {};
    size_t dtrOffLength = 0;
};

// Why a network port could not be opened: the system's error number (0 when the far side
// answered wrongly, or when an interrupt ended the open) and the words for the message.
struct LinkOpenFailure {
    int error = 0;
    std::string reason;
    bool interrupted = false;
};

// Connects (NET_CONNECT_TIMEOUT_MS), and for RFC 2217 agrees on the options
// (NET_NEGOTIATION_TIMEOUT_MS; Telnet BINARY both ways is required) and sets the far side to
// `baud` 8N2, no flow control, DTR and RTS off: all settings sent at once and each checked
// against its own acknowledgement, all within NET_NEGOTIATION_TIMEOUT_MS. False, with nothing
// left open, when any of it fails.
bool OpenNetworkLink(NetworkLink* link, const NetworkAddress& address, long baud,
                     LinkOpenFailure* failure);

// PURGE-DATA (RFC 2217), then what has arrived is discarded (see DiscardLinkInput).
PortResult PurgeLinkInput(NetworkLink* link);
// Waits at most `timeoutMs` for one byte of the device.
PortWait WaitForLinkByte(NetworkLink* link, long timeoutMs);
// Discards what has arrived without waiting; more than NET_DISCARD_LIMIT_BYTES at once is a
// protocol fault (hungUp).
PortDiscard DiscardLinkInput(NetworkLink* link);
// Sends the device's bytes (each 0xFF doubled for RFC 2217) within NET_WRITE_TIMEOUT_MS; a
// far side that takes nothing meanwhile is a protocol fault. `call` names the failure.
PortResult SendLinkData(NetworkLink* link, const uint8_t* data, size_t length, const char* call);
bool NetworkLinkIsOpen(const NetworkLink& link);
// DTR off (RFC 2217) and its answer awaited, then the connection closed in order: the far
// side gets the end of what was sent before it sees the connection end, so that the last
// command (Finish) still reaches the module. At most NET_CLOSE_TIMEOUT_MS in all, less as soon
// as the far side has answered and closed; an interrupt ends it.
void CloseNetworkLink(NetworkLink* link);
// DTR off (RFC 2217) as far as the socket takes it at once, then the close. Async-signal-safe.
void ReleaseNetworkLinkAtOnce(NetworkLink* link);
// The errors of a connection that is gone, a protocol fault among them.
bool IsNetworkLinkLost(int error);

}  // namespace tarnix
