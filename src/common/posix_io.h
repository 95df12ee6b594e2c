#pragma once
// The system calls of the POSIX port that a signal can cut short, each with its loop in one
// place. A signal that does not end the run (SIGCONT after a stop, SIGWINCH, a profiler's timer)
// must neither lose nor repeat a byte on the line, nor shorten a wait or a pause. Each function
// returns why it ended; none prints.

#include <poll.h>
#include <sys/types.h>
#include <time.h>

#include <cstddef>

namespace tarnix {

// Writes all `length` bytes, continuing after a partial write and after a signal. *written
// receives the count written, also on failure. Returns 0, or the errno that ended the write (EIO
// when the device took nothing).
int WriteAll(int fd, const void* data, size_t length, size_t* written);

// Reads until `capacity` bytes are in or the file ends, continuing after a partial read and
// after a signal. *count receives the count read, also on failure. Returns 0, or the errno
// that ended the read.
int ReadFull(int fd, void* buffer, size_t capacity, size_t* count);

// waitpid(), resumed after a signal; its result, with errno as waitpid() left it.
pid_t WaitPidRetrying(pid_t pid, int* status, int options);

// Sends to a socket what it takes now without waiting (MSG_DONTWAIT, and MSG_NOSIGNAL: a
// closed connection is an error, not a signal), continuing after a signal. The count taken;
// *error is 0, EAGAIN when the socket takes nothing more now, or the errno that ended it.
size_t SendAvailable(int fd, const void* data, size_t length, int* error);

enum class ReadEnd {
    Data,         // `count` bytes were read
    EndOfFile,    // read() returned 0
    Interrupted,  // a signal came first (EINTR)
    Failed,       // `error` says why
};

struct ReadOutcome {
    ReadEnd end;
    size_t count;
    int error;
};

// One read() of at most `capacity` bytes. A signal is not retried here: a blocking read that
// resumed could outlast the caller's time-out, so the caller polls again instead.
ReadOutcome ReadSome(int fd, void* buffer, size_t capacity);

// A time limit that counts from the moment it was made, on the monotonic clock.
struct Deadline {
    timespec start;
    long limitMs;
};

Deadline DeadlineAfter(long milliseconds);

// What is left of the limit; 0 or less once it has passed.
long MillisecondsLeft(const Deadline& deadline);

enum class PollEnd {
    Ready,        // poll() reported at least one descriptor; see their revents
    TimedOut,     // the deadline passed with nothing to report
    Interrupted,  // a signal came and `signalEndsPoll` said that it ends the poll
    Failed,       // `error` says why
};

struct PollOutcome {
    PollEnd end;
    int error;
};

// Polls until a descriptor is ready or the deadline passes. After a signal the poll resumes with
// the time that is left, unless `signalEndsPoll` (may be null) returns true.
PollOutcome PollRetrying(pollfd* fds, nfds_t count, const Deadline& deadline,
                         bool (*signalEndsPoll)());

// Sleeps the whole time, resuming after a signal with the time that is left. Returns 0, or the
// errno that ended the pause early.
int SleepMilliseconds(unsigned milliseconds);

}  // namespace tarnix
