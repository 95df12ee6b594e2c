#pragma once
// A pseudo-terminal whose slave the code under test opens as its port; the test plays the
// module on the master side.

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "port.h"
#include "port_choice.h"
#include "port_texts.h"

namespace tarnix {

class PtyPeer : public testing::Test {
protected:
    void SetUp() override {
        char name[256] = {};
        ASSERT_EQ(openpty(&master_, &slave_, name, nullptr, nullptr), 0);
        slavePath_ = name;
        termios tio{};
        ASSERT_EQ(tcgetattr(slave_, &tio), 0);
        cfmakeraw(&tio);
        ASSERT_EQ(tcsetattr(slave_, TCSANOW, &tio), 0);
    }

    void TearDown() override {
        if (port_ && PortIsOpen(*port_)) {
            ClosePort(*port_);
        }
        CloseMaster();
        if (slave_ >= 0) {
            close(slave_);
        }
    }

    void CloseMaster() {
        if (master_ >= 0) {
            close(master_);
            master_ = -1;
        }
    }

    // Opens the slave through the port layer (closing the port the test had open) and returns
    // what the program prints for it.
    std::string OpenSlave(long baud = 115200) {
        if (port_) {
            ClosePort(*port_);
        }
        PortChoice choice;
        choice.devicePath = slavePath_;
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        PortOpening opening = tarnix::OpenPort(choice, LineAtRate(baud));
        if (opening.port) {
            PrintPortOpened(*opening.port);
        } else {
            PrintOpenFailure(opening.failure);
        }
        std::string printed = testing::internal::GetCapturedStdout();
        std::string error = testing::internal::GetCapturedStderr();
        EXPECT_TRUE(opening.port) << printed << error;
        port_ = std::move(opening.port);
        return printed;
    }

    // Reads exactly `count` bytes from the master, failing the test after 2 s.
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
                ADD_FAILURE() << "read from master failed";
                break;
            }
            bytes.insert(bytes.end(), buffer, buffer + n);
        }
        return bytes;
    }

    void WriteToLine(const std::vector<uint8_t>& bytes) {
        ASSERT_EQ(write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }

    // Waits until what the master wrote has reached the slave's input queue.
    void WaitUntilReadable() {
        pollfd pfd{slave_, POLLIN, 0};
        ASSERT_EQ(poll(&pfd, 1, 2000), 1);
    }

    std::unique_ptr<Port> port_;
    int master_ = -1;
    int slave_ = -1;
    std::string slavePath_;
};

}  // namespace tarnix
