// The TCP connection of a network port on Windows: Winsock, a non-blocking connect bounded by
// select(), and waits in short slices so that an interrupt is seen (a console event cannot
// wake select()).

#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>

#include "interrupts.h"
#include "net_socket.h"

namespace {

constexpr long WAIT_SLICE_MS = 50;

// Winsock is started once for the process, the first time a connection is made.
bool StartWinsock() {
    static bool started = false;
    if (!started) {
        WSADATA data;
        started = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }
    return started;
}

std::string ErrorText(int error) {
    char text[256] = "";
    DWORD length =
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                       static_cast<DWORD>(error), 0, text, sizeof text, nullptr);
    while (length > 0 && (text[length - 1] == '\n' || text[length - 1] == '\r')) {
        text[--length] = '\0';
    }
    return length > 0 ? std::string(text) : "error " + std::to_string(error);
}

SocketResult Failure(int error, const std::string& what) {
    return {false, error, what + ": " + ErrorText(error)};
}

// Waits for the non-blocking connect to finish; 0, or why it failed.
int FinishConnect(SOCKET s, int timeoutMs) {
    fd_set writable, failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(s, &writable);
    FD_SET(s, &failed);
    timeval limit{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    int ready = select(0, nullptr, &writable, &failed, &limit);
    if (ready == 0) {
        return WSAETIMEDOUT;
    }
    if (ready < 0) {
        return WSAGetLastError();
    }
    int error = 0;
    int length = sizeof error;
    getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length);
    return FD_ISSET(s, &failed) && error == 0 ? WSAECONNREFUSED : error;
}

int ConnectTo(const addrinfo* address, int timeoutMs, SOCKET* s) {
    *s = socket(address->ai_family, address->ai_socktype, address->ai_protocol);
    if (*s == INVALID_SOCKET) {
        return WSAGetLastError();
    }
    u_long nonBlocking = 1;
    ioctlsocket(*s, FIONBIO, &nonBlocking);
    int error = 0;
    if (connect(*s, address->ai_addr, static_cast<int>(address->ai_addrlen)) != 0) {
        error = WSAGetLastError();
        error = error == WSAEWOULDBLOCK ? FinishConnect(*s, timeoutMs) : error;
    }
    if (error == 0) {
        nonBlocking = 0;
        ioctlsocket(*s, FIONBIO, &nonBlocking);
        BOOL on = TRUE;
        setsockopt(*s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
        return 0;
    }
    closesocket(*s);
    *s = INVALID_SOCKET;
    return error;
}

}  // namespace

SocketResult ConnectTcp(const std::string& host, uint16_t port, int timeoutMs, NetSocket* socket) {
    if (!StartWinsock()) {
        return Failure(WSAGetLastError(), "WSAStartup");
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* addresses = nullptr;
    int lookup = getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &addresses);
    if (lookup != 0) {
        return Failure(lookup, "look up " + host);
    }
    int error = WSAHOST_NOT_FOUND;
    SOCKET s = INVALID_SOCKET;
    for (const addrinfo* address = addresses; address != nullptr; address = address->ai_next) {
        error = ConnectTo(address, timeoutMs, &s);
        if (error == 0) {
            break;
        }
    }
    freeaddrinfo(addresses);
    if (error != 0) {
        return Failure(error, "connect to " + host + " port " + std::to_string(port));
    }
    socket->handle = static_cast<long long>(s);
    return {true, 0, ""};
}

SocketWait WaitSocketReadable(const NetSocket& socket, long timeoutMs, bool interruptEndsWait) {
    SOCKET s = static_cast<SOCKET>(socket.handle);
    long left = timeoutMs;
    for (;;) {
        if (interruptEndsWait && TakeInterruptForWait()) {
            return {SocketWaitEnd::Interrupted, 0};
        }
        long slice = std::min(left, WAIT_SLICE_MS);
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(s, &readable);
        timeval limit{static_cast<long>(slice / 1000), static_cast<long>(slice % 1000) * 1000};
        int ready = select(0, &readable, nullptr, nullptr, &limit);
        if (ready < 0) {
            return {SocketWaitEnd::Failed, WSAGetLastError()};
        }
        if (ready > 0) {
            return {SocketWaitEnd::Readable, 0};
        }
        left -= slice;
        if (left <= 0) {
            return {SocketWaitEnd::TimedOut, 0};
        }
    }
}

long ReceiveFromSocket(const NetSocket& socket, uint8_t* buffer, size_t capacity, int* error) {
    int count = recv(static_cast<SOCKET>(socket.handle), reinterpret_cast<char*>(buffer),
                     static_cast<int>(std::min<size_t>(capacity, 1 << 20)), 0);
    if (count < 0) {
        *error = WSAGetLastError();
        return -1;
    }
    return count;
}

int SendToSocket(const NetSocket& socket, const uint8_t* data, size_t length) {
    size_t sent = 0;
    while (sent < length) {
        int count =
            send(static_cast<SOCKET>(socket.handle), reinterpret_cast<const char*>(data + sent),
                 static_cast<int>(std::min<size_t>(length - sent, 1 << 20)), 0);
        if (count <= 0) {
            return count == 0 ? WSAECONNRESET : WSAGetLastError();
        }
        sent += static_cast<size_t>(count);
    }
    return 0;
}

void CloseSocket(NetSocket* socket) {
    if (socket->handle >= 0) {
        closesocket(static_cast<SOCKET>(socket->handle));
        socket->handle = -1;
    }
}

bool IsConnectionLost(int error) {
    return error == WSAECONNRESET || error == WSAECONNABORTED || error == WSAENOTCONN ||
           error == WSAESHUTDOWN || error == WSAETIMEDOUT;
}

int ClosedConnectionError() {
    return WSAECONNRESET;
}

void ShutDownSending(const NetSocket& socket) {
    shutdown(static_cast<SOCKET>(socket.handle), SD_SEND);
}
