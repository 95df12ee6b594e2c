#pragma once
// The service operations in-process on a pseudo-terminal: the port layer opens the slave, the
// test plays the module on the master side (from a thread where the module must answer while
// the operation runs).

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "com_port.h"

class ServicePty : public testing::Test {
protected:
    void SetUp() override {
        char name[256] = {};
        ASSERT_EQ(openpty(&master_, &slave_, name, nullptr, nullptr), 0);
        termios tio{};
        ASSERT_EQ(tcgetattr(slave_, &tio), 0);
        cfmakeraw(&tio);
        ASSERT_EQ(tcsetattr(slave_, TCSANOW, &tio), 0);
        testing::internal::CaptureStdout();
        int opened = OpenComDevice(name, 115200);
        std::string printed = testing::internal::GetCapturedStdout();
        ASSERT_EQ(opened, 0) << printed;
    }

    void TearDown() override {
        if (IsComPortOpen()) {
            testing::internal::CaptureStdout();
            CloseComPort();
            testing::internal::GetCapturedStdout();
        }
        for (int fd : {master_, slave_}) {
            if (fd >= 0) {
                close(fd);
            }
        }
    }

    // Reads exactly `count` bytes from the line, failing the test after 2 s without data.
    std::vector<uint8_t> ReadFromLine(size_t count) {
        std::vector<uint8_t> bytes;
        while (bytes.size() < count) {
            pollfd pfd{master_, POLLIN, 0};
            if (poll(&pfd, 1, 2000) <= 0) {
                ADD_FAILURE() << "only " << bytes.size() << " of " << count << " bytes arrived";
                break;
            }
            uint8_t buffer[512];
            ssize_t n = read(master_, buffer, std::min(sizeof buffer, count - bytes.size()));
            if (n <= 0) {
                ADD_FAILURE() << "read from the master failed";
                break;
            }
            bytes.insert(bytes.end(), buffer, buffer + n);
        }
        return bytes;
    }

    // True when nothing more arrives within a fifth of a second.
    bool LineIsQuiet() {
        pollfd pfd{master_, POLLIN, 0};
        return poll(&pfd, 1, 200) == 0;
    }

    void WriteToLine(const std::vector<uint8_t>& bytes) {
        ASSERT_EQ(write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }

    // Waits until what the master wrote has reached the port's input queue.
    void WaitUntilReadable() {
        pollfd pfd{slave_, POLLIN, 0};
        ASSERT_EQ(poll(&pfd, 1, 2000), 1);
    }

    int master_ = -1;
    int slave_ = -1;
};
