#pragma once
// The TCP connection of a network port: the socket calls, one implementation file per
// platform (net_socket_posix.cpp, net_socket_win32.cpp). Nothing here prints; each call says
// how it ended. The Telnet and RFC 2217 logic on top of it is the same on every platform
// (network_port.cpp).

#include <cstddef>
#include <cstdint>
#include <string>

// A connected socket; -1 when none.
struct NetSocket {
    long long handle = -1;
};

struct SocketResult {
    bool ok = false;
    int error = 0;       // the system's error number (errno / WSAGetLastError())
    std::string reason;  // the system's text, with what failed ("connect to 127.0.0.1 port 9")
};

// Resolves `host` and connects to the first of its addresses that answers within `timeoutMs`,
// with TCP_NODELAY set: stop-and-wait sends small frames and must not wait for Nagle.
SocketResult ConnectTcp(const std::string& host, uint16_t port, int timeoutMs, NetSocket* socket);

enum class SocketWaitEnd { Readable, TimedOut, Failed, Interrupted };

struct SocketWait {
    SocketWaitEnd end;
    int error;
};

// Waits at most `timeoutMs` for something to read (or the connection's end). An interrupt
// (TakeInterruptForWait of interrupts.h, when `interruptEndsWait`) ends the wait at once.
SocketWait WaitSocketReadable(const NetSocket& socket, long timeoutMs, bool interruptEndsWait);

// Reads what has arrived, at most `capacity` bytes: the count, 0 when the far side closed the
// connection, -1 on failure with *error set.
long ReceiveFromSocket(const NetSocket& socket, uint8_t* buffer, size_t capacity, int* error);

// Sends every byte; 0, or the system's error number.
int SendToSocket(const NetSocket& socket, const uint8_t* data, size_t length);

// Ends the sending direction (the far side reads the end of the data), keeping the socket.
void ShutDownSending(const NetSocket& socket);

// Closes the connection. Async-signal-safe on POSIX: the second interrupt's handler calls it.
void CloseSocket(NetSocket* socket);

// The error a connection that the far side closed is reported with (ECONNRESET,
// WSAECONNRESET).
int ClosedConnectionError();

// True for the errors with which a connection reports that the far side has gone.
bool IsConnectionLost(int error);
