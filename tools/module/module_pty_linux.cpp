// The module's line on Linux: the pseudo-terminal pair (ptsname_r), a serial device, and the
// loop that serves it, timing replies with ppoll. A port to another POSIX system replaces this
// file.

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <deque>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <termios.h>
#include <unistd.h>

#include "line_pacer.h"
#include "module_pty.h"
#include "module_session.h"

namespace tarnix {

namespace {

enum class ReadOutcome { Served, Nothing, HungUp, Failed };
enum class LoopStep { Continue, Stop, Failed };

std::string SystemError(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

void CloseFd(int* fd) {
    if (*fd >= 0) {
        close(*fd);
        *fd = -1;
    }
}

bool MakeRaw(int fd, bool twoStopBits, std::string* error) {
    termios settings{};
    if (tcgetattr(fd, &settings) != 0) {
        *error = SystemError("tcgetattr");
        return false;
    }
    cfmakeraw(&settings);
    cfsetispeed(&settings, B115200);
    cfsetospeed(&settings, B115200);
    settings.c_cflag |= CLOCAL | CREAD;
    if (twoStopBits) {
        settings.c_cflag |= CSTOPB;
    }
    settings.c_cc[VMIN] = 1;
    settings.c_cc[VTIME] = 0;
    if (tcsetattr(fd, TCSANOW, &settings) != 0) {
        *error = SystemError("tcsetattr");
        return false;
    }
    return true;
}

bool SetNonBlocking(int fd, std::string* error) {
    int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) {
        *error = SystemError("fcntl");
        return false;
    }
    return true;
}

// Replies waiting for their time, in the order they are ready to go.
struct ScheduledReply {
    int64_t readyNs = 0;
    std::vector<uint8_t> bytes;
    size_t sent = 0;
};

struct Server {
    ModulePty* pty = nullptr;
    ModuleSession session;
    LinePacer pacer;
    int64_t spinNs = 0;  // the last part of a reply's wait, spent awake
    std::vector<uint8_t> buffer = std::vector<uint8_t>(65536);
    int stopFd = -1;
    std::deque<ScheduledReply> scheduled;
};

int64_t NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Writes the whole reply; waits for room in the line's buffer but gives up when a stop is asked
// for. False, with errno kept, when the write itself failed (EIO: the program closed the port).
bool WriteReply(int fd, const std::vector<uint8_t>& reply, int stopFd) {
    size_t done = 0;
    while (done < reply.size()) {
        ssize_t n = write(fd, reply.data() + done, reply.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && errno != EAGAIN) {
            return false;
        }
        pollfd fds[2] = {{fd, POLLOUT, 0}, {stopFd, POLLIN, 0}};
        if (poll(fds, stopFd >= 0 ? 2 : 1, -1) < 0 && errno != EINTR) {
            return false;
        }
        if (stopFd >= 0 && (fds[1].revents & POLLIN)) {
            return true;
        }
    }
    return true;
}

void Schedule(Server* server, int64_t readyNs, std::vector<uint8_t> bytes) {
    auto later =
        std::find_if(server->scheduled.begin(), server->scheduled.end(),
                     [readyNs](const ScheduledReply& entry) { return entry.readyNs > readyNs; });
    server->scheduled.insert(later, ScheduledReply{readyNs, std::move(bytes), 0});
}

// Parses what arrived at nowNs byte by byte, so that each reply is timed from the end of the
// frame it answers; a late reply counts its delay from there too.
void ServeBytes(Server* server, const uint8_t* bytes, size_t count, int64_t nowNs) {
    ModuleSession* session = &server->session;
    std::vector<uint8_t> reply;
    for (size_t i = 0; i < count; ++i) {
        int64_t arrivedNs = PaceInboundByte(&server->pacer, nowNs);
        FeedModuleBytes(session, bytes + i, 1, &reply);
        int64_t readyNs = arrivedNs + server->pacer.latencyNs;
        if (!reply.empty()) {
            Schedule(server, readyNs, std::move(reply));
            reply.clear();
        }
        for (DelayedReply& late : session->delayed) {
            Schedule(server, readyNs + int64_t{late.delayMs} * 1000000, std::move(late.bytes));
        }
        session->delayed.clear();
    }
}

// When the next scheduled byte would have wholly arrived at the program.
int64_t NextByteDue(const Server& server) {
    return NextOutboundByteEnd(server.pacer, server.scheduled.front().readyNs);
}

// Sends every reply byte that is due. A write refused because the program has closed the port
// is left to the next read, which sees the hang-up.
bool SendDueReplies(Server* server, int64_t nowNs, std::string* error) {
    std::vector<uint8_t> due;
    while (!server->scheduled.empty() && NextByteDue(*server) <= nowNs) {
        ScheduledReply& head = server->scheduled.front();
        PaceOutboundByte(&server->pacer, head.readyNs);
        due.push_back(head.bytes[head.sent++]);
        if (head.sent == head.bytes.size()) {
            server->scheduled.pop_front();
        }
    }
    if (due.empty() || WriteReply(server->pty->masterFd, due, server->stopFd) || errno == EIO) {
        return true;
    }
    *error = SystemError("write");
    return false;
}

ReadOutcome ReadAndServe(Server* server, std::string* error) {
    ModulePty* pty = server->pty;
    ModuleLog* log = server->session.log;
    ssize_t n = read(pty->masterFd, server->buffer.data(), server->buffer.size());
    if (n > 0) {
        if (!log->programConnected) {
            log->programConnected = true;
            // From now on a hang-up on the master means the program closed the port.
            CloseFd(&pty->slaveFd);
        }
        ServeBytes(server, server->buffer.data(), static_cast<size_t>(n), NowNs());
        return ReadOutcome::Served;
    }
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
        return ReadOutcome::Nothing;
    }
    if (log->programConnected && (n == 0 || errno == EIO)) {
        return ReadOutcome::HungUp;
    }
    *error = n == 0 ? std::string("end of input on the module's line") : SystemError("read");
    return ReadOutcome::Failed;
}

// After a stop: parses what is still waiting, answering at once, until the line is empty.
void DrainPendingInput(Server* server) {
    std::string ignored;
    server->pacer = LinePacer{};  // the program is gone: no line time to keep
    ReadOutcome outcome = ReadOutcome::Served;
    while (outcome == ReadOutcome::Served) {
        outcome = ReadAndServe(server, &ignored);
        SendDueReplies(server, NowNs(), &ignored);
        server->scheduled.clear();  // late replies: the program is gone
    }
    server->session.log->hungUp = outcome == ReadOutcome::HungUp;
}

// How long poll may sleep: until the next reply byte is due (less the part spent awake), or for
// ever.
timespec* TimeToNextReply(const Server& server, timespec* wait) {
    if (server.scheduled.empty()) {
        return nullptr;
    }
    int64_t ns = std::max<int64_t>(0, NextByteDue(server) - server.spinNs - NowNs());
    wait->tv_sec = static_cast<time_t>(ns / 1000000000);
    wait->tv_nsec = static_cast<long>(ns % 1000000000);
    return wait;
}

// Bounded by the spin time: poll has slept through all of the wait but that.
void SpinUntil(int64_t dueNs) {
    while (NowNs() < dueNs) {
    }
}

// One wait on the line and the stop descriptor, then whatever has become due: reading and
// answering, sending replies in time, or the last reads after a stop.
LoopStep ServeOnce(Server* server, std::string* error) {
    int stopFd = server->stopFd;
    pollfd fds[2] = {{server->pty->masterFd, POLLIN, 0}, {stopFd, POLLIN, 0}};
    timespec wait{};
    if (ppoll(fds, stopFd >= 0 ? 2 : 1, TimeToNextReply(*server, &wait), nullptr) < 0) {
        if (errno == EINTR) {
            return LoopStep::Continue;
        }
        *error = SystemError("poll");
        return LoopStep::Failed;
    }
    if (stopFd >= 0 && fds[1].revents != 0) {
        DrainPendingInput(server);
        return LoopStep::Stop;
    }
    if (fds[0].revents == 0 && server->spinNs > 0 && !server->scheduled.empty()) {
        SpinUntil(NextByteDue(*server));
    }
    ReadOutcome outcome = fds[0].revents != 0 ? ReadAndServe(server, error) : ReadOutcome::Nothing;
    if (outcome == ReadOutcome::HungUp) {
        server->session.log->hungUp = true;
        return LoopStep::Stop;
    }
    bool ok = outcome != ReadOutcome::Failed && SendDueReplies(server, NowNs(), error);
    return ok ? LoopStep::Continue : LoopStep::Failed;
}

}  // namespace

bool OpenModulePty(ModulePty* pty, std::string* error) {
    *pty = ModulePty{};
    pty->masterFd = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (pty->masterFd < 0) {
        *error = SystemError("posix_openpt");
        return false;
    }
    char name[128];
    if (grantpt(pty->masterFd) != 0 || unlockpt(pty->masterFd) != 0 ||
        ptsname_r(pty->masterFd, name, sizeof name) != 0) {
        *error = SystemError("preparing the pseudo-terminal");
        CloseModulePty(pty);
        return false;
    }
    pty->slavePath = name;
    pty->slaveFd = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (pty->slaveFd < 0) {
        *error = SystemError("open " + pty->slavePath);
        CloseModulePty(pty);
        return false;
    }
    // Raw at once, so nothing the program sends before it sets its own mode is echoed back.
    if (!MakeRaw(pty->slaveFd, true, error) || !SetNonBlocking(pty->masterFd, error)) {
        CloseModulePty(pty);
        return false;
    }
    return true;
}

bool OpenModuleDevice(const std::string& path, ModulePty* pty, std::string* error) {
    *pty = ModulePty{};
    pty->masterFd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (pty->masterFd < 0) {
        *error = SystemError("open " + path);
        return false;
    }
    pty->slavePath = path;
    if (!MakeRaw(pty->masterFd, true, error)) {
        CloseModulePty(pty);
        return false;
    }
    return true;
}

void CloseModulePty(ModulePty* pty) {
    CloseFd(&pty->slaveFd);
    CloseFd(&pty->masterFd);
}

bool SendBytesBeforeStart(ModulePty* pty, const ModuleConfig& config, ModuleLog* log,
                          std::string* error) {
    const std::vector<uint8_t>& bytes = config.bytesBeforeStart;
    if (bytes.empty()) {
        return true;
    }
    if (!WriteReply(pty->masterFd, bytes, -1)) {
        *error = SystemError("write");
        return false;
    }
    log->sent.insert(log->sent.end(), bytes.begin(), bytes.end());
    return true;
}

bool RunModule(ModulePty* pty, const ModuleConfig& config, ModuleLog* log, int stopFd,
               std::string* error) {
    Server server;
    server.pty = pty;
    server.stopFd = stopFd;
    StartModuleSession(&server.session, &config, log);
    StartLinePacer(&server.pacer, config);
    server.spinNs = int64_t{config.spinUs} * 1000;
    if (server.pacer.byteNs > 0 || server.pacer.latencyNs > 0) {
        // Replies are timed to the microsecond; the default 50 us slack would add up over
        // thousands of frames. Only a finer wake-up is lost if this fails.
        (void)prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    }
    LoopStep step = LoopStep::Continue;
    while (step == LoopStep::Continue) {
        step = ServeOnce(&server, error);
    }
    FinishModuleSession(&server.session);
    return step != LoopStep::Failed;
}

}  // namespace tarnix
