// The TCP connection of a network port on POSIX systems: getaddrinfo, a non-blocking connect
// bounded by poll(), and the retry loops of posix_io.h.

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "interrupts.h"
#include "interrupts_posix.h"
#include "net_socket.h"
#include "posix_io.h"

namespace {

SocketResult Failure(int error, const std::string& what) {
    return {false, error, what + ": " + strerror(error)};
}

// Waits for the non-blocking connect to finish; 0, or why it failed.
int FinishConnect(int fd, int timeoutMs) {
    pollfd pfd{fd, POLLOUT, 0};
    PollOutcome outcome = PollRetrying(&pfd, 1, DeadlineAfter(timeoutMs), nullptr);
    if (outcome.end == PollEnd::TimedOut) {
        return ETIMEDOUT;
    }
    if (outcome.end != PollEnd::Ready) {
        return outcome.error;
    }
    int error = 0;
    socklen_t length = sizeof error;
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) {
        return errno;
    }
    return error;
}

// One address: a socket, connected within the time, then blocking again with TCP_NODELAY.
int ConnectTo(const addrinfo* address, int timeoutMs, int* fd) {
    *fd = socket(address->ai_family, address->ai_socktype | SOCK_CLOEXEC, address->ai_protocol);
    if (*fd < 0) {
        return errno;
    }
    int flags = fcntl(*fd, F_GETFL);
    fcntl(*fd, F_SETFL, flags | O_NONBLOCK);
    int error = 0;
    if (connect(*fd, address->ai_addr, address->ai_addrlen) != 0) {
        error = errno == EINPROGRESS ? FinishConnect(*fd, timeoutMs) : errno;
    }
    if (error == 0) {
        fcntl(*fd, F_SETFL, flags);
        int on = 1;
        setsockopt(*fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        return 0;
    }
    close(*fd);
    *fd = -1;
    return error;
}

std::string Where(const std::string& host, uint16_t port) {
    return "connect to " + host + " port " + std::to_string(port);
}

}  // namespace

SocketResult ConnectTcp(const std::string& host, uint16_t port, int timeoutMs, NetSocket* socket) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* addresses = nullptr;
    int lookup = getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &addresses);
    if (lookup != 0) {
        return {false, ENOENT, "look up " + host + ": " + gai_strerror(lookup)};
    }
    int error = ENOENT;
    int fd = -1;
    for (const addrinfo* address = addresses; address != nullptr; address = address->ai_next) {
        error = ConnectTo(address, timeoutMs, &fd);
        if (error == 0) {
            break;
        }
    }
    freeaddrinfo(addresses);
    if (error != 0) {
        return Failure(error, Where(host, port));
    }
    socket->handle = fd;
    return {true, 0, ""};
}

namespace {

bool InterruptTakesWait() {
    return TakeInterruptForWait();
}

}  // namespace

SocketWait WaitSocketReadable(const NetSocket& socket, long timeoutMs, bool interruptEndsWait) {
    Deadline deadline = DeadlineAfter(timeoutMs);
    for (;;) {
        if (interruptEndsWait && TakeInterruptForWait()) {
            return {SocketWaitEnd::Interrupted, 0};
        }
        pollfd fds[2] = {{static_cast<int>(socket.handle), POLLIN, 0},
                         {interruptEndsWait ? InterruptWakeDescriptor() : -1, POLLIN, 0}};
        PollOutcome outcome =
            PollRetrying(fds, 2, deadline, interruptEndsWait ? InterruptTakesWait : nullptr);
        switch (outcome.end) {
            case PollEnd::TimedOut:
                return {SocketWaitEnd::TimedOut, 0};
            case PollEnd::Failed:
                return {SocketWaitEnd::Failed, outcome.error};
            case PollEnd::Interrupted:
                return {SocketWaitEnd::Interrupted, 0};
            case PollEnd::Ready:
                break;
        }
        if (fds[0].revents != 0) {
            return {SocketWaitEnd::Readable, 0};  // data, or the end of the connection
        }
    }
}

long ReceiveFromSocket(const NetSocket& socket, uint8_t* buffer, size_t capacity, int* error) {
    for (;;) {
        ssize_t count = recv(static_cast<int>(socket.handle), buffer, capacity, 0);
        if (count >= 0) {
            return static_cast<long>(count);
        }
        if (errno != EINTR) {
            *error = errno;
            return -1;
        }
    }
}

int SendToSocket(const NetSocket& socket, const uint8_t* data, size_t length) {
    size_t written = 0;
    return WriteAll(static_cast<int>(socket.handle), data, length, &written);
}

void CloseSocket(NetSocket* socket) {
    if (socket->handle >= 0) {
        close(static_cast<int>(socket->handle));
        socket->handle = -1;
    }
}

bool IsConnectionLost(int error) {
    return error == ECONNRESET || error == EPIPE || error == ENOTCONN || error == ECONNABORTED ||
           error == ETIMEDOUT;
}

int ClosedConnectionError() {
    return ECONNRESET;
}

void ShutDownSending(const NetSocket& socket) {
    shutdown(static_cast<int>(socket.handle), SHUT_WR);
}
