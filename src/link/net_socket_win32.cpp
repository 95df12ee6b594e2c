// The socket calls of a network port on Windows: Winsock with a non-blocking socket, getaddrinfo
// on a helper thread, and waits in short slices so that an interrupt is seen (a console event
// cannot wake select()).

#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>

#include "interrupts.h"
#include "net_socket.h"

namespace tarnix {

// Shared by the caller and the look-up's thread, each holding one reference; whichever lets
// go last frees it. The caller reads the result only after `ended` is set, which the thread does
// once it has written it; after that the thread touches nothing but its own reference.
struct AddressLookUp {
    LONG references = 2;
    HANDLE ended = nullptr;
    std::string host;
    std::string service;
    int status = 0;
    addrinfo* result = nullptr;
};

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

void FreeLookUp(AddressLookUp* lookUp) {
    if (lookUp->result != nullptr) {
        freeaddrinfo(lookUp->result);
    }
    if (lookUp->ended != nullptr) {
        CloseHandle(lookUp->ended);
    }
    delete lookUp;
}

void LetGoOfLookUp(AddressLookUp* lookUp) {
    if (InterlockedDecrement(&lookUp->references) == 0) {
        FreeLookUp(lookUp);
    }
}

DWORD WINAPI LookUpOnThread(LPVOID argument) {
    auto* lookUp = static_cast<AddressLookUp*>(argument);
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* result = nullptr;
    int status = getaddrinfo(lookUp->host.c_str(), lookUp->service.c_str(), &hints, &result);
    lookUp->status = status;
    lookUp->result = status == 0 ? result : nullptr;
    SetEvent(lookUp->ended);
    LetGoOfLookUp(lookUp);
    return 0;
}

// Waits in slices for the socket to be ready: to read, or (`write`) to send or to have its
// connect ended either way.
SocketWait WaitSocket(const NetSocket& socket, bool write, long timeoutMs, bool interruptEndsWait) {
    SOCKET s = static_cast<SOCKET>(socket.handle);
    long left = timeoutMs;
    for (;;) {
        if (interruptEndsWait && TakeInterruptForWait()) {
            return {SocketWaitEnd::Interrupted, 0};
        }
        long slice = std::min(left, WAIT_SLICE_MS);
        fd_set ready, failed;
        FD_ZERO(&ready);
        FD_ZERO(&failed);
        FD_SET(s, &ready);
        FD_SET(s, &failed);
        timeval limit{static_cast<long>(slice / 1000), static_cast<long>(slice % 1000) * 1000};
        int count = write ? select(0, nullptr, &ready, &failed, &limit)
                          : select(0, &ready, nullptr, nullptr, &limit);
        if (count < 0) {
            return {SocketWaitEnd::Failed, WSAGetLastError()};
        }
        if (count > 0) {
            return {SocketWaitEnd::Readable, 0};
        }
        left -= slice;
        if (left <= 0) {
            return {SocketWaitEnd::TimedOut, 0};
        }
    }
}

}  // namespace

AddressLookUp* StartAddressLookUp(const std::string& host, uint16_t port, int* error) {
    if (!StartWinsock()) {
        *error = WSAGetLastError();
        return nullptr;
    }
    auto* lookUp = new AddressLookUp;
    lookUp->ended = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    lookUp->host = host;
    lookUp->service = std::to_string(port);
    HANDLE thread = lookUp->ended == nullptr
                        ? nullptr
                        : CreateThread(nullptr, 0, LookUpOnThread, lookUp, 0, nullptr);
    if (thread == nullptr) {
        *error = static_cast<int>(GetLastError());
        FreeLookUp(lookUp);
        return nullptr;
    }
    CloseHandle(thread);
    return lookUp;
}

bool AwaitAddressLookUp(AddressLookUp* lookUp, long timeoutMs) {
    return WaitForSingleObject(lookUp->ended, static_cast<DWORD>(std::max(timeoutMs, 0L))) ==
           WAIT_OBJECT_0;
}

bool TakeLookedUpAddresses(AddressLookUp* lookUp, std::vector<ResolvedAddress>* addresses,
                           int* error, std::string* failure) {
    for (const addrinfo* a = lookUp->result; a != nullptr; a = a->ai_next) {
        addresses->push_back(
            {a->ai_family, a->ai_socktype, a->ai_protocol,
             std::string(reinterpret_cast<const char*>(a->ai_addr), a->ai_addrlen)});
    }
    int status = lookUp->status;
    LetGoOfLookUp(lookUp);
    if (status != 0) {
        *error = status;
        *failure = SocketErrorText(status);
        return false;
    }
    return true;
}

// The thread may still be waiting for the answer: it frees the look-up when it ends.
void AbandonAddressLookUp(AddressLookUp* lookUp) {
    LetGoOfLookUp(lookUp);
}

int StartConnect(const ResolvedAddress& address, NetSocket* socket) {
    SOCKET s = ::socket(address.family, address.socketType, address.protocol);
    if (s == INVALID_SOCKET) {
        return WSAGetLastError();
    }
    socket->handle = static_cast<long long>(s);
    u_long nonBlocking = 1;
    ioctlsocket(s, FIONBIO, &nonBlocking);
    const auto* where = reinterpret_cast<const sockaddr*>(address.bytes.data());
    if (connect(s, where, static_cast<int>(address.bytes.size())) != 0) {
        int error = WSAGetLastError();
        return error == WSAEWOULDBLOCK ? 0 : error;
    }
    return 0;
}

// select() reports a failed connect in its third set only; SO_ERROR may still read 0.
int ConnectOutcome(const NetSocket& socket) {
    SOCKET s = static_cast<SOCKET>(socket.handle);
    int error = 0;
    int length = sizeof error;
    getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length);
    if (error != 0) {
        return error;
    }
    fd_set writable;
    FD_ZERO(&writable);
    FD_SET(s, &writable);
    timeval now{0, 0};
    return select(0, nullptr, &writable, nullptr, &now) > 0 ? 0 : WSAECONNREFUSED;
}

void SetNoDelay(const NetSocket& socket) {
    BOOL on = TRUE;
    setsockopt(static_cast<SOCKET>(socket.handle), IPPROTO_TCP, TCP_NODELAY,
               reinterpret_cast<const char*>(&on), sizeof on);
}

std::string SocketErrorText(int error) {
    char text[256] = "";
    DWORD length =
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                       static_cast<DWORD>(error), 0, text, sizeof text, nullptr);
    while (length > 0 && (text[length - 1] == '\n' || text[length - 1] == '\r')) {
        text[--length] = '\0';
    }
    return length > 0 ? std::string(text) : "error " + std::to_string(error);
}

SocketWait WaitSocketReadable(const NetSocket& socket, long timeoutMs, bool interruptEndsWait) {
    return WaitSocket(socket, false, timeoutMs, interruptEndsWait);
}

SocketWait WaitSocketWritable(const NetSocket& socket, long timeoutMs, bool interruptEndsWait) {
    return WaitSocket(socket, true, timeoutMs, interruptEndsWait);
}

long ReceiveFromSocket(const NetSocket& socket, uint8_t* buffer, size_t capacity, int* error) {
    int count = recv(static_cast<SOCKET>(socket.handle), reinterpret_cast<char*>(buffer),
                     static_cast<int>(std::min<size_t>(capacity, 1 << 20)), 0);
    if (count < 0) {
        int failure = WSAGetLastError();
        *error = failure == WSAEWOULDBLOCK ? 0 : failure;
        return -1;
    }
    return count;
}

SocketSend SendToSocket(const NetSocket& socket, const uint8_t* data, size_t length, long timeoutMs,
                        bool interruptEndsWait) {
    DWORD start = GetTickCount();
    size_t sent = 0;
    while (sent < length) {
        int count =
            send(static_cast<SOCKET>(socket.handle), reinterpret_cast<const char*>(data + sent),
                 static_cast<int>(std::min<size_t>(length - sent, 1 << 20)), 0);
        if (count > 0) {
            sent += static_cast<size_t>(count);
            continue;
        }
        int error = count == 0 ? WSAECONNRESET : WSAGetLastError();
        if (error != WSAEWOULDBLOCK) {
            return {SendEnd::Failed, error, sent};
        }
        long left = timeoutMs - static_cast<long>(GetTickCount() - start);
        SocketWait wait = left > 0 ? WaitSocketWritable(socket, left, interruptEndsWait)
                                   : SocketWait{SocketWaitEnd::TimedOut, 0};
        if (wait.end == SocketWaitEnd::TimedOut) {
            return {SendEnd::TimedOut, WSAETIMEDOUT, sent};
        }
        if (wait.end == SocketWaitEnd::Interrupted) {
            return {SendEnd::Interrupted, WSAEINTR, sent};
        }
        if (wait.end == SocketWaitEnd::Failed) {
            return {SendEnd::Failed, wait.error, sent};
        }
    }
    return {SendEnd::Sent, 0, sent};
}

void SendToSocketAtOnce(const NetSocket& socket, const uint8_t* data, size_t length) {
    send(static_cast<SOCKET>(socket.handle), reinterpret_cast<const char*>(data),
         static_cast<int>(std::min<size_t>(length, 1 << 20)), 0);
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

int TimedOutError() {
    return WSAETIMEDOUT;
}

int ProtocolFaultError() {
    return ERROR_INVALID_DATA;
}

void ShutDownSending(const NetSocket& socket) {
    shutdown(static_cast<SOCKET>(socket.handle), SD_SEND);
}

}  // namespace tarnix
