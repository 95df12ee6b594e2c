#pragma once
// The TCP connection of a network port. ConnectTcp (net_connect.cpp) is the same on every
// platform; the socket calls under it are one implementation file per platform
// (net_socket_posix.cpp, net_socket_win32.cpp). Nothing here prints; each call says how it
// ended. Every wait here ends at its time limit whatever arrives meanwhile, and, where the
// caller asks, at an interrupt (TakeInterruptForWait of interrupts.h) within 50 ms. The Telnet
// and RFC 2217 logic on top of it is network_link.h.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tarnix {

// A connected socket; -1 when none. The socket never blocks: every wait is a bounded poll.
struct NetSocket {
    long long handle = -1;
};

struct SocketResult {
    bool ok = false;
    int error = 0;       // the system's error number (errno / WSAGetLastError())
    std::string reason;  // the system's text, with what failed ("connect to 127.0.0.1 port 9")
    bool interrupted = false;  // an interrupt ended it
};

// Resolves `host` and connects to the first of its addresses that answers, all within
// `timeoutMs` (a name server that does not answer included: the look-up runs on a helper
// thread that is left behind at the limit), with TCP_NODELAY set: stop-and-wait sends small
// frames and must not wait for Nagle. An interrupt ends it.
SocketResult ConnectTcp(const std::string& host, uint16_t port, long timeoutMs, NetSocket* socket);

enum class SocketWaitEnd { Readable, TimedOut, Failed, Interrupted };

struct SocketWait {
    SocketWaitEnd end;
    int error;
};

// Waits at most `timeoutMs` (0: only looks) for something to read (or the connection's end).
SocketWait WaitSocketReadable(const NetSocket& socket, long timeoutMs, bool interruptEndsWait);

// Waits at most `timeoutMs` until the socket takes more to send (or a connect has finished);
// Readable stands for ready.
SocketWait WaitSocketWritable(const NetSocket& socket, long timeoutMs, bool interruptEndsWait);

// Reads what has arrived, at most `capacity` bytes, without waiting: the count; 0 when the far
// side closed the connection; -1 with *error set on failure, or with *error 0 when nothing was
// there after all.
long ReceiveFromSocket(const NetSocket& socket, uint8_t* buffer, size_t capacity, int* error);

enum class SendEnd {
    Sent,         // every byte
    TimedOut,     // the far side took nothing more within the limit
    Interrupted,  // an interrupt ended the wait for room
    Failed,       // `error` says why
};

struct SocketSend {
    SendEnd end;
    int error;
    size_t sent;  // the bytes the system took
};

// Sends every byte, waiting at most `timeoutMs` in all for the far side to take them.
SocketSend SendToSocket(const NetSocket& socket, const uint8_t* data, size_t length, long timeoutMs,
                        bool interruptEndsWait);

// Sends what the system takes at once, without waiting; async-signal-safe.
void SendToSocketAtOnce(const NetSocket& socket, const uint8_t* data, size_t length);

// Ends the sending direction (the far side reads the end of the data), keeping the socket.
void ShutDownSending(const NetSocket& socket);

// Closes the connection. Async-signal-safe on POSIX: the second interrupt's handler calls it.
void CloseSocket(NetSocket* socket);

// The error a connection that the far side closed is reported with (ECONNRESET,
// WSAECONNRESET); the one of a wait that ran out (ETIMEDOUT, WSAETIMEDOUT); the one of a
// far side that broke the protocol (EPROTO; Windows: ERROR_INVALID_DATA).
int ClosedConnectionError();
int TimedOutError();
int ProtocolFaultError();

// True for the errors with which a connection reports that the far side has gone.
bool IsConnectionLost(int error);

// ---- The platform's pieces of ConnectTcp (net_connect.cpp)

// One address of a host, as the system's look-up gave it.
struct ResolvedAddress {
    int family = 0;
    int socketType = 0;
    int protocol = 0;
    std::string bytes;  // the system's socket address
};

// A look-up under way on its helper thread.
struct AddressLookUp;

// Starts resolving host and port; nullptr with *error set when no thread could be started.
AddressLookUp* StartAddressLookUp(const std::string& host, uint16_t port, int* error);
// Waits at most `timeoutMs` for the look-up; true once it has ended.
bool AwaitAddressLookUp(AddressLookUp* lookUp, long timeoutMs);
// The addresses of an ended look-up, or its error (*error, and in words); the look-up is gone
// after it.
bool TakeLookedUpAddresses(AddressLookUp* lookUp, std::vector<ResolvedAddress>* addresses,
                           int* error, std::string* failure);
// Leaves a look-up that has not ended: its thread frees what it has when the system answers.
void AbandonAddressLookUp(AddressLookUp* lookUp);

// A non-blocking socket for the address with its connect started: 0, or why not.
int StartConnect(const ResolvedAddress& address, NetSocket* socket);
// After the socket became writable: 0 when the connect succeeded, or why it failed.
int ConnectOutcome(const NetSocket& socket);
void SetNoDelay(const NetSocket& socket);

// The system's text for an error number.
std::string SocketErrorText(int error);

}  // namespace tarnix
