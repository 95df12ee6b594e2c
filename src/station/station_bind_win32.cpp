// Why an address cannot be served, on Windows: Winsock's own reason for a bind of our own.

// winsock2.h before windows.h, which would bring the old winsock.h.
#include <winsock2.h>
#include <ws2tcpip.h>

#include "net_socket.h"
#include "station_bind.h"

namespace tarnix {

namespace {

// Only SO_EXCLUSIVEADDRUSE: Windows' SO_REUSEADDR would let a second station take over the
// address of a running one instead of being told that it is in use.
void SetExclusiveAddressUse(SOCKET socket) {
    BOOL yes = TRUE;
    setsockopt(socket, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&yes),
               sizeof yes);
}

std::string ReasonFromBinding(const addrinfo* found) {
    std::string reason = "the address could not be taken";
    for (const addrinfo* at = found; at != nullptr; at = at->ai_next) {
        SOCKET socket = ::socket(at->ai_family, at->ai_socktype, at->ai_protocol);
        if (socket == INVALID_SOCKET) {
            reason = SocketErrorText(WSAGetLastError());
            continue;
        }
        SetExclusiveAddressUse(socket);
        bool bound = bind(socket, at->ai_addr, static_cast<int>(at->ai_addrlen)) == 0;
        reason = bound ? reason : SocketErrorText(WSAGetLastError());
        closesocket(socket);
    }
    return reason;
}

}  // namespace

std::string BindFailureReason(const std::string& host, int port) {
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) {
        return "Winsock could not be started";
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE;
    addrinfo* found = nullptr;
    int resolved = getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
    std::string reason = resolved != 0 ? SocketErrorText(resolved) : ReasonFromBinding(found);
    if (found != nullptr) {
        freeaddrinfo(found);
    }
    WSACleanup();
    return reason;
}

// The HTTP library hands over its SOCKET as the int of the shared declaration: a kernel handle,
// whose value has 32 significant bits also on 64-bit Windows, so none is lost on the way.
void SetListenSocketOptions(int socket) {
    SetExclusiveAddressUse(static_cast<SOCKET>(socket));
}

}  // namespace tarnix
