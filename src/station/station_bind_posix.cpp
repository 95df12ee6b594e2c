#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "station_bind.h"

namespace tarnix {

std::string BindFailureReason(const std::string& host, int port) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE;
    addrinfo* found = nullptr;
    int resolved = getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
    if (resolved != 0) {
        return gai_strerror(resolved);
    }
    std::string reason = "the address could not be taken";
    for (addrinfo* at = found; at != nullptr; at = at->ai_next) {
        int fd = socket(at->ai_family, at->ai_socktype | SOCK_CLOEXEC, at->ai_protocol);
        if (fd < 0) {
            reason = strerror(errno);
            continue;
        }
        int yes = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        bool bound = bind(fd, at->ai_addr, at->ai_addrlen) == 0;
        reason = bound ? reason : strerror(errno);
        close(fd);
    }
    freeaddrinfo(found);
    return reason;
}

void SetListenSocketOptions(int socket) {
    int yes = 1;
    setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
}

}  // namespace tarnix
