#include "scripted_peer.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

namespace tarnix {

namespace {

constexpr uint8_t STX = 0x02;
constexpr uint8_t ETX = 0x03;
constexpr uint8_t ACK = 0x06;

struct Peer {
    const PeerScript& script;
    PeerRun* result;
    int master = -1;
    std::vector<uint8_t> frame;

    bool FrameComplete() const {
        return (frame.size() == 2 && frame[1] == 'S') || (frame.size() >= 3 && frame.back() == ETX);
    }

    std::vector<uint8_t> ReplyFor(size_t index) const {
        if (index < script.replies.size()) {
            return script.replies[index];
        }
        return frame[1] == 'F' ? std::vector<uint8_t>{} : std::vector<uint8_t>{ACK};
    }

    // False once the line is closed.
    bool Take(uint8_t byte) {
        result->received.push_back(byte);
        if (frame.empty() && byte != STX) {
            return true;  // outside any frame
        }
        frame.push_back(byte);
        if (!FrameComplete()) {
            return true;
        }
        size_t index = result->frames.size();
        result->frames.push_back(frame);
        frame.clear();
        if (static_cast<int>(index) == script.hangUpAtFrame) {
            close(master);
            master = -1;
            return false;
        }
        std::vector<uint8_t> reply = ReplyFor(index);
        return reply.empty() ||
               write(master, reply.data(), reply.size()) == static_cast<ssize_t>(reply.size());
    }

    // Serves until the line is closed or `stop` is readable; then takes what is still waiting.
    void Serve(int stop) {
        bool stopping = false;
        while (master >= 0) {
            pollfd fds[2] = {{master, POLLIN, 0}, {stop, POLLIN, 0}};
            if (poll(fds, 2, stopping ? 0 : -1) < 0 && errno != EINTR) {
                return;
            }
            stopping = stopping || fds[1].revents != 0;
            if (!(fds[0].revents & POLLIN)) {
                if (stopping) {
                    return;
                }
                continue;
            }
            uint8_t buffer[512];
            ssize_t count = read(master, buffer, sizeof buffer);
            if (count <= 0) {
                return;
            }
            for (ssize_t i = 0; i < count; ++i) {
                if (!Take(buffer[i])) {
                    return;
                }
            }
        }
    }
};

}  // namespace

PeerRun RunAgainstScriptedPeer(const ProgramLaunch& launch, const PeerScript& script) {
    PeerRun result;
    int master = -1;
    int slave = -1;
    char name[256] = {};
    int stop[2] = {-1, -1};
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0 || pipe(stop) != 0) {
        result.run.failure = std::string("openpty: ") + std::strerror(errno);
        return result;
    }
    fcntl(master, F_SETFD, FD_CLOEXEC);
    fcntl(slave, F_SETFD, FD_CLOEXEC);
    termios tio{};
    tcgetattr(slave, &tio);
    cfmakeraw(&tio);
    tcsetattr(slave, TCSANOW, &tio);
    Peer peer{script, &result, master, {}};
    // The slave stays open here for the whole run, so the line never hangs up on its own.
    std::thread thread([&] { peer.Serve(stop[0]); });
    result.run = RunOnPort(launch, name);
    (void)!write(stop[1], "x", 1);
    thread.join();
    int exclusive = 0;
    result.exclusiveAfterRun = ioctl(slave, TIOCGEXCL, &exclusive) == 0 && exclusive != 0;
    if (peer.master >= 0) {
        close(peer.master);
    }
    close(slave);
    close(stop[0]);
    close(stop[1]);
    return result;
}

std::string FrameCommands(const PeerRun& run) {
    std::string commands;
    for (const std::vector<uint8_t>& frame : run.frames) {
        commands.push_back(static_cast<char>(frame[1]));
    }
    return commands;
}

}  // namespace tarnix
