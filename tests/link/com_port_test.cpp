#include "com_port.h"

#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "pty_peer.h"

namespace {

using ComPort = PtyPeer;

// Every open after the first also shows that reopening closes the open port first: the old
// descriptor's lock would refuse the new one if it were still open.
TEST_F(ComPort, OpensRawEightDataBitsNoParityTwoStopBitsAtASupportedRate) {
    const struct {
        long requested;
        long effective;
        speed_t speed;
    } rates[] = {{115200, 115200, B115200},
                 {57600, 57600, B57600},
                 {38400, 9600, B9600},  // unsupported rates fall back to 9600
                 {115201, 9600, B9600}};
    for (const auto& rate : rates) {
        EXPECT_EQ(OpenPort(rate.requested), "Opened " + slavePath_ + " with " +
                                                std::to_string(rate.effective) +
                                                " Baud succesfully !\n");
        EXPECT_EQ(EffectiveBaudRate(rate.requested), rate.effective);
        termios tio{};
        ASSERT_EQ(tcgetattr(slave_, &tio), 0);
        EXPECT_EQ(cfgetospeed(&tio), rate.speed) << rate.requested;
        EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
        EXPECT_TRUE(tio.c_cflag & CSTOPB);
        EXPECT_FALSE(tio.c_cflag & PARENB);
        EXPECT_FALSE(tio.c_cflag & CRTSCTS);
        EXPECT_TRUE(tio.c_cflag & CLOCAL);
        EXPECT_FALSE(tio.c_iflag & (IXON | IXOFF | ICRNL));
        EXPECT_FALSE(tio.c_lflag & (ICANON | ECHO | ISIG));
        EXPECT_FALSE(tio.c_oflag & OPOST);
    }
}

TEST_F(ComPort, HoldsThePortExclusively) {
    OpenPort();
    int other = open(slavePath_.c_str(), O_RDWR | O_NOCTTY);
    if (other >= 0) {  // root may open it despite TIOCEXCL; the lock still refuses
        EXPECT_NE(flock(other, LOCK_EX | LOCK_NB), 0);
        close(other);
    } else {
        EXPECT_EQ(errno, EBUSY);  // TIOCEXCL refuses everybody else
    }
}

// A failed open prints nothing on standard output; standard error names the device, the
// system's reason and a next step that fits what was given.
TEST_F(ComPort, FailedOpenNamesTheDeviceAndTheNextStep) {
    int holder = open(slavePath_.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);
    const struct {
        std::string device;  // empty: COM8
        int error;
        std::string start;
        std::vector<std::string> hints;
    } failures[] = {
        {"/dev/no-such-port",
         ENOENT,
         "COM open failed: /dev/no-such-port: No such file or directory",
         {"/dev/serial/by-id/", "dmesg"}},
        {"/dev/null", ENOTTY, "COM open failed: /dev/null: ", {"not a serial device"}},
        {slavePath_,
         EBUSY,
         "COM open failed: " + slavePath_ + ": Device or resource busy",
         {"another program holds the port"}},
        {"",
         ENOENT,
         "COM open failed: /dev/ttyS7 (COM8): No such file or directory",
         {"COM8 is /dev/ttyS7"}},
    };
    for (const auto& failure : failures) {
        if (failure.device.empty() && access("/dev/ttyS7", F_OK) == 0) {
            continue;  // this machine has a COM8
        }
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        EXPECT_EQ(failure.device.empty() ? OpenComPort(8, 115200)
                                         : OpenComDevice(failure.device.c_str(), 115200),
                  -1);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
        std::string error = testing::internal::GetCapturedStderr();
        EXPECT_EQ(error.rfind(failure.start, 0), 0u) << error;
        for (const std::string& hint : failure.hints) {
            EXPECT_NE(error.find(hint), std::string::npos) << error;
        }
        if (!failure.device.empty()) {  // a device path gets no COM-number hint
            EXPECT_EQ(error.find("COM", 1), std::string::npos) << error;
        }
        EXPECT_EQ(LastComError(), failure.error) << error;
        EXPECT_FALSE(IsComPortOpen());
    }
    close(holder);
}

TEST(ComPortAccess, RefusedPermissionPointsToTheDialoutGroup) {
    if (geteuid() == 0) {
        GTEST_SKIP() << "root may open any device; the refusal needs another user";
    }
    char path[] = "/tmp/tarnix-no-access-XXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    chmod(path, 0);
    testing::internal::CaptureStderr();
    EXPECT_EQ(OpenComDevice(path, 115200), -1);
    std::string denied = testing::internal::GetCapturedStderr();
    unlink(path);
    EXPECT_NE(denied.find("Permission denied"), std::string::npos) << denied;
    EXPECT_NE(denied.find("'dialout' group"), std::string::npos) << denied;
}

TEST_F(ComPort, ReceivesAWaitingByteAndSendsBytesInOrder) {
    OpenPort();
    WriteToLine({0x06, 0x00});
    EXPECT_EQ(ReceiveByte(), 0x06);
    uint8_t value = 0xFF;
    EXPECT_EQ(ReceiveByteChecked(&value), ReceiveResult::Byte);  // a received 0x00 is a byte
    EXPECT_EQ(value, 0x00);
    SendByte(0x02);
    SendByte(0x00);
    uint32_t written = 0;
    ASSERT_TRUE(WriteComBlock("\x03\x0A", 2, &written));
    EXPECT_EQ(written, 2u);
    EXPECT_EQ(ReadFromLine(4), (std::vector<uint8_t>{0x02, 0x00, 0x03, 0x0A}));
}

// Purging leaves nothing behind (else the discard would count 6); discarding counts.
TEST_F(ComPort, PurgeAndDiscardDropPendingInput) {
    OpenPort();
    WriteToLine({0x15, 0x15, 0x15});
    WaitUntilReadable();
    EXPECT_EQ(PurgeComInput(), 0);
    WriteToLine({0x06, 0x15, 0x06});
    WaitUntilReadable();
    EXPECT_EQ(DiscardPendingInput(), 3);
    EXPECT_EQ(DiscardPendingInput(), 0);
    WriteToLine({0x06});
    EXPECT_EQ(ReceiveByte(), 0x06);
    EXPECT_FALSE(ComPortHungUp());
}

TEST_F(ComPort, HangUpIsAReadFailureNotATimeOut) {
    OpenPort();
    close(slave_);
    slave_ = -1;
    CloseMaster();
    testing::internal::CaptureStdout();
    uint8_t value = 0xFF;
    EXPECT_EQ(ReceiveByteChecked(&value), ReceiveResult::HungUp);
    EXPECT_EQ(value, 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Read on COM-port failed with error 5.\n");
    EXPECT_TRUE(ComPortHungUp());
}

TEST(ClosedComPort, EveryOperationSaysSo) {
    ASSERT_FALSE(IsComPortOpen());
    testing::internal::CaptureStdout();
    SendByte(0x02);
    uint8_t value = 0xFF;
    EXPECT_EQ(ReceiveByteChecked(&value), ReceiveResult::NotOpen);
    EXPECT_EQ(value, 0);
    EXPECT_EQ(PurgeComInput(), -1);
    CloseComPort();
    uint32_t written = 99;
    EXPECT_FALSE(WriteComBlock("x", 1, &written));
    EXPECT_EQ(written, 0u);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "COM port not opened !\nCOM port not opened !\nCOM port not opened !\n"
              "COM port not opened !\n");
}

}  // namespace
