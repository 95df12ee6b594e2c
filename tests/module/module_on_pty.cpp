#include "module_on_pty.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace tarnix {

namespace {

constexpr int REPLY_WAIT_MS = 3000;

}  // namespace

void ModuleOnPty::StartModule(const ModuleConfig& config) {
    config_ = config;
    std::string error;
    ASSERT_TRUE(OpenModulePty(&pty_, &error)) << error;
    ASSERT_TRUE(SendBytesBeforeStart(&pty_, config_, &log_, &error)) << error;
    ASSERT_EQ(pipe2(stopPipe_, O_CLOEXEC), 0);
    programFd_ = open(pty_.slavePath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(programFd_, 0);
    module_ = std::thread([this] {
        std::string runError;
        EXPECT_TRUE(RunModule(&pty_, config_, &log_, stopPipe_[0], &runError)) << runError;
    });
}

void ModuleOnPty::Send(const std::vector<uint8_t>& bytes) {
    ASSERT_EQ(write(programFd_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
}

std::vector<uint8_t> ModuleOnPty::Receive(size_t count) {
    std::vector<uint8_t> bytes;
    while (bytes.size() < count) {
        pollfd ready{programFd_, POLLIN, 0};
        if (poll(&ready, 1, REPLY_WAIT_MS) <= 0) {
            break;
        }
        uint8_t buffer[512];
        ssize_t n = read(programFd_, buffer, std::min(sizeof buffer, count - bytes.size()));
        if (n <= 0) {
            break;
        }
        bytes.insert(bytes.end(), buffer, buffer + n);
    }
    return bytes;
}

const ModuleLog& ModuleOnPty::StopModule() {
    if (programFd_ >= 0) {
        close(programFd_);
        programFd_ = -1;
    }
    if (module_.joinable()) {
        EXPECT_EQ(write(stopPipe_[1], "x", 1), 1);
        module_.join();
    }
    return log_;
}

void ModuleOnPty::TearDown() {
    StopModule();
    for (int& fd : stopPipe_) {
        if (fd >= 0) {
            close(fd);
            fd = -1;
        }
    }
    CloseModulePty(&pty_);
}

std::vector<uint8_t> Bytes(const std::string& text) {
    return std::vector<uint8_t>(text.begin(), text.end());
}

std::vector<uint8_t> Concat(std::vector<uint8_t> first, const std::vector<uint8_t>& second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

}  // namespace tarnix
