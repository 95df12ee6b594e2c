// The socket calls of a network port on POSIX systems: getaddrinfo on a helper thread, a
// non-blocking socket whose every wait is a poll() that the interrupt's self-pipe wakes, and
// the retry loops of posix_io.h.

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>

#include "interrupts.h"
#include "interrupts_posix.h"
#include "net_socket.h"
#include "posix_io.h"

namespace tarnix {

// Shared by the caller and the look-up's thread; whichever of them is last frees it.
struct AddressLookUp {
    std::mutex mutex;
    std::condition_variable ended;
    bool done = false;
    bool abandoned = false;
    std::string host;
    std::string service;
    int status = 0;
    addrinfo* result = nullptr;
};

namespace {

void LookUpOnThread(AddressLookUp* lookUp) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* result = nullptr;
    int status = getaddrinfo(lookUp->host.c_str(), lookUp->service.c_str(), &hints, &result);
    std::unique_lock<std::mutex> lock(lookUp->mutex);
    if (lookUp->abandoned) {
        lock.unlock();
        if (status == 0) {
            freeaddrinfo(result);
        }
        delete lookUp;
        return;
    }
    lookUp->status = status;
    lookUp->result = status == 0 ? result : nullptr;
    lookUp->done = true;
    lookUp->ended.notify_all();
}

SocketWait WaitSocket(const NetSocket& socket, short events, long timeoutMs,
                      bool interruptEndsWait) {
    Deadline deadline = DeadlineAfter(timeoutMs);
    for (;;) {
        if (interruptEndsWait && TakeInterruptForWait()) {
            return {SocketWaitEnd::Interrupted, 0};
        }
        pollfd fds[2] = {{static_cast<int>(socket.handle), events, 0},
                         {interruptEndsWait ? InterruptWakeDescriptor() : -1, POLLIN, 0}};
        PollOutcome outcome =
            PollRetrying(fds, 2, deadline, interruptEndsWait ? TakeInterruptForWait : nullptr);
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
            return {SocketWaitEnd::Readable, 0};  // ready, or the end of the connection
        }
        if (MillisecondsLeft(deadline) <= 0) {
            return {SocketWaitEnd::TimedOut, 0};
        }
    }
}

}  // namespace

AddressLookUp* StartAddressLookUp(const std::string& host, uint16_t port, int* error) {
    auto* lookUp = new AddressLookUp;
    lookUp->host = host;
    lookUp->service = std::to_string(port);
    try {
        std::thread(LookUpOnThread, lookUp).detach();
    } catch (const std::system_error& failure) {
        delete lookUp;
        *error = failure.code().value();
        return nullptr;
    }
    return lookUp;
}

bool AwaitAddressLookUp(AddressLookUp* lookUp, long timeoutMs) {
    std::unique_lock<std::mutex> lock(lookUp->mutex);
    return lookUp->ended.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                  [lookUp] { return lookUp->done; });
}

bool TakeLookedUpAddresses(AddressLookUp* lookUp, std::vector<ResolvedAddress>* addresses,
                           int* error, std::string* failure) {
    for (const addrinfo* a = lookUp->result; a != nullptr; a = a->ai_next) {
        addresses->push_back(
            {a->ai_family, a->ai_socktype, a->ai_protocol,
             std::string(reinterpret_cast<const char*>(a->ai_addr), a->ai_addrlen)});
    }
    int status = lookUp->status;
    if (lookUp->result != nullptr) {
        freeaddrinfo(lookUp->result);
    }
    delete lookUp;
    if (status != 0) {
        *error = ENOENT;
        *failure = gai_strerror(status);
        return false;
    }
    return true;
}

void AbandonAddressLookUp(AddressLookUp* lookUp) {
    std::unique_lock<std::mutex> lock(lookUp->mutex);
    if (!lookUp->done) {
        lookUp->abandoned = true;  // the thread frees it
        return;
    }
    lock.unlock();
    std::vector<ResolvedAddress> unused;
    int error = 0;
    std::string failure;
    TakeLookedUpAddresses(lookUp, &unused, &error, &failure);
}

int StartConnect(const ResolvedAddress& address, NetSocket* socket) {
    int fd = ::socket(address.family, address.socketType | SOCK_CLOEXEC | SOCK_NONBLOCK,
                      address.protocol);
    if (fd < 0) {
        return errno;
    }
    socket->handle = fd;
    const auto* where = reinterpret_cast<const sockaddr*>(address.bytes.data());
    if (connect(fd, where, static_cast<socklen_t>(address.bytes.size())) != 0 &&
        errno != EINPROGRESS) {
        return errno;
    }
    return 0;
}

int ConnectOutcome(const NetSocket& socket) {
    int error = 0;
    socklen_t length = sizeof error;
    if (getsockopt(static_cast<int>(socket.handle), SOL_SOCKET, SO_ERROR, &error, &length) != 0) {
        return errno;
    }
    return error;
}

void SetNoDelay(const NetSocket& socket) {
    int on = 1;
    setsockopt(static_cast<int>(socket.handle), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

std::string SocketErrorText(int error) {
    return strerror(error);
}

SocketWait WaitSocketReadable(const NetSocket& socket, long timeoutMs, bool interruptEndsWait) {
    return WaitSocket(socket, POLLIN, timeoutMs, interruptEndsWait);
}

SocketWait WaitSocketWritable(const NetSocket& socket, long timeoutMs, bool interruptEndsWait) {
    return WaitSocket(socket, POLLOUT, timeoutMs, interruptEndsWait);
}

long ReceiveFromSocket(const NetSocket& socket, uint8_t* buffer, size_t capacity, int* error) {
    ReadOutcome outcome = ReadSome(static_cast<int>(socket.handle), buffer, capacity);
    switch (outcome.end) {
        case ReadEnd::Data:
            return static_cast<long>(outcome.count);
        case ReadEnd::EndOfFile:
            return 0;
        case ReadEnd::Interrupted:
            *error = 0;  // the caller's next wait looks again
            return -1;
        case ReadEnd::Failed:
            break;
    }
    *error = outcome.error == EAGAIN || outcome.error == EWOULDBLOCK ? 0 : outcome.error;
    return -1;
}

SocketSend SendToSocket(const NetSocket& socket, const uint8_t* data, size_t length, long timeoutMs,
                        bool interruptEndsWait) {
    Deadline deadline = DeadlineAfter(timeoutMs);
    size_t sent = 0;
    for (;;) {
        int error = 0;
        sent += SendAvailable(static_cast<int>(socket.handle), data + sent, length - sent, &error);
        if (sent == length) {
            return {SendEnd::Sent, 0, sent};
        }
        if (error != EAGAIN) {
            return {SendEnd::Failed, error, sent};
        }
        long left = MillisecondsLeft(deadline);
        SocketWait wait = left > 0 ? WaitSocketWritable(socket, left, interruptEndsWait)
                                   : SocketWait{SocketWaitEnd::TimedOut, 0};
        if (wait.end == SocketWaitEnd::TimedOut) {
            return {SendEnd::TimedOut, ETIMEDOUT, sent};
        }
        if (wait.end == SocketWaitEnd::Interrupted) {
            return {SendEnd::Interrupted, EINTR, sent};
        }
        if (wait.end == SocketWaitEnd::Failed) {
            return {SendEnd::Failed, wait.error, sent};
        }
    }
}

void SendToSocketAtOnce(const NetSocket& socket, const uint8_t* data, size_t length) {
    int error = 0;
    SendAvailable(static_cast<int>(socket.handle), data, length, &error);
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

int TimedOutError() {
    return ETIMEDOUT;
}

int ProtocolFaultError() {
    return EPROTO;
}

void ShutDownSending(const NetSocket& socket) {
    shutdown(static_cast<int>(socket.handle), SHUT_WR);
}

}  // namespace tarnix
