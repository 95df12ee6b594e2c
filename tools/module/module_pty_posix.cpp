#include <cerrno>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include "module_emulator.h"

namespace {

enum class ReadOutcome { Served, Nothing, HungUp, Failed };

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

// Writes the whole reply; waits for room in the line's buffer but gives up when a stop is asked
// for or the program is gone.
void WriteReply(int fd, const std::vector<uint8_t>& reply, int stopFd) {
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
            return;
        }
        pollfd fds[2] = {{fd, POLLOUT, 0}, {stopFd, POLLIN, 0}};
        if (poll(fds, stopFd >= 0 ? 2 : 1, -1) < 0 && errno != EINTR) {
            return;
        }
        if (stopFd >= 0 && (fds[1].revents & POLLIN)) {
            return;
        }
    }
}

ReadOutcome ReadAndServe(ModulePty* pty, ModuleSession* session, std::vector<uint8_t>* buffer,
                         int stopFd, std::string* error) {
    ssize_t n = read(pty->masterFd, buffer->data(), buffer->size());
    if (n > 0) {
        if (!session->log->programConnected) {
            session->log->programConnected = true;
            // From now on a hang-up on the master means the program closed the port.
            CloseFd(&pty->slaveFd);
        }
        std::vector<uint8_t> reply;
        FeedModuleBytes(session, buffer->data(), static_cast<size_t>(n), &reply);
        if (!reply.empty()) {
            WriteReply(pty->masterFd, reply, stopFd);
        }
        return ReadOutcome::Served;
    }
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
        return ReadOutcome::Nothing;
    }
    if (session->log->programConnected && (n == 0 || errno == EIO)) {
        return ReadOutcome::HungUp;
    }
    *error = n == 0 ? std::string("end of input on the module's line") : SystemError("read");
    return ReadOutcome::Failed;
}

void DrainPendingInput(ModulePty* pty, ModuleSession* session, std::vector<uint8_t>* buffer,
                       int stopFd) {
    std::string ignored;
    ReadOutcome outcome = ReadOutcome::Served;
    while (outcome == ReadOutcome::Served) {
        outcome = ReadAndServe(pty, session, buffer, stopFd, &ignored);
    }
    session->log->hungUp = outcome == ReadOutcome::HungUp;
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

bool RunModule(ModulePty* pty, const ModuleConfig& config, ModuleLog* log, int stopFd,
               std::string* error) {
    ModuleSession session;
    StartModuleSession(&session, &config, log);
    std::vector<uint8_t> buffer(65536);
    bool ok = true;
    for (;;) {
        pollfd fds[2] = {{pty->masterFd, POLLIN, 0}, {stopFd, POLLIN, 0}};
        if (poll(fds, stopFd >= 0 ? 2 : 1, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            *error = SystemError("poll");
            ok = false;
            break;
        }
        if (stopFd >= 0 && fds[1].revents != 0) {
            DrainPendingInput(pty, &session, &buffer, stopFd);
            break;
        }
        if (fds[0].revents == 0) {
            continue;
        }
        ReadOutcome outcome = ReadAndServe(pty, &session, &buffer, stopFd, error);
        if (outcome == ReadOutcome::HungUp) {
            log->hungUp = true;
            break;
        }
        if (outcome == ReadOutcome::Failed) {
            ok = false;
            break;
        }
    }
    FinishModuleSession(&session);
    return ok;
}
