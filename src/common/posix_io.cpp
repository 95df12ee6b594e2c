// The loops around interrupted and partial system calls of the POSIX port (posix_io.h).

#include "posix_io.h"

#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

namespace tarnix {

int WriteAll(int fd, const void* data, size_t length, size_t* written) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    *written = 0;
    while (*written < length) {
        ssize_t result = write(fd, bytes + *written, length - *written);
        if (result < 0 && errno == EINTR) {
            continue;
        }
        if (result <= 0) {
            return result == 0 ? EIO : errno;
        }
        *written += static_cast<size_t>(result);
    }
    return 0;
}

int ReadFull(int fd, void* buffer, size_t capacity, size_t* count) {
    auto* bytes = static_cast<unsigned char*>(buffer);
    *count = 0;
    while (*count < capacity) {
        ssize_t result = read(fd, bytes + *count, capacity - *count);
        if (result < 0 && errno == EINTR) {
            continue;
        }
        if (result < 0) {
            return errno;
        }
        if (result == 0) {
            break;
        }
        *count += static_cast<size_t>(result);
    }
    return 0;
}

pid_t WaitPidRetrying(pid_t pid, int* status, int options) {
    pid_t result = 0;
    do {
        result = waitpid(pid, status, options);
    } while (result < 0 && errno == EINTR);
    return result;
}

size_t SendAvailable(int fd, const void* data, size_t length, int* error) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    size_t sent = 0;
    *error = 0;
    while (sent < length) {
        ssize_t result = send(fd, bytes + sent, length - sent, MSG_DONTWAIT | MSG_NOSIGNAL);
        if (result < 0 && errno == EINTR) {
            continue;
        }
        if (result < 0) {
            *error = errno == EWOULDBLOCK ? EAGAIN : errno;
            break;
        }
        sent += static_cast<size_t>(result);
    }
    return sent;
}

ReadOutcome ReadSome(int fd, void* buffer, size_t capacity) {
    ssize_t count = read(fd, buffer, capacity);
    if (count > 0) {
        return {ReadEnd::Data, static_cast<size_t>(count), 0};
    }
    if (count == 0) {
        return {ReadEnd::EndOfFile, 0, 0};
    }
    if (errno == EINTR) {
        return {ReadEnd::Interrupted, 0, EINTR};
    }
    return {ReadEnd::Failed, 0, errno};
}

Deadline DeadlineAfter(long milliseconds) {
    Deadline deadline{{}, milliseconds};
    clock_gettime(CLOCK_MONOTONIC, &deadline.start);
    return deadline;
}

long MillisecondsLeft(const Deadline& deadline) {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    long elapsed = (now.tv_sec - deadline.start.tv_sec) * 1000 +
                   (now.tv_nsec - deadline.start.tv_nsec) / 1000000;
    return deadline.limitMs - elapsed;
}

PollOutcome PollRetrying(pollfd* fds, nfds_t count, const Deadline& deadline,
                         bool (*signalEndsPoll)()) {
    for (;;) {
        long left = MillisecondsLeft(deadline);
        int ready = poll(fds, count, left > 0 ? static_cast<int>(left) : 0);
        if (ready > 0) {
            return {PollEnd::Ready, 0};
        }
        if (ready == 0) {
            return {PollEnd::TimedOut, 0};
        }
        if (errno != EINTR) {
            return {PollEnd::Failed, errno};
        }
        if (signalEndsPoll != nullptr && signalEndsPoll()) {
            return {PollEnd::Interrupted, 0};
        }
    }
}

int SleepMilliseconds(unsigned milliseconds) {
    timespec pause{static_cast<time_t>(milliseconds / 1000),
                   static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&pause, &pause) != 0) {
        if (errno != EINTR) {
            return errno;
        }
    }
    return 0;
}

}  // namespace tarnix
