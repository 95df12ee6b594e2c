#include "com_port.h"

#include <sys/file.h>

#include <cerrno>

#include "pty_peer.h"

namespace {

using ComPort = PtyPeer;

TEST_F(ComPort, OpensRawEightDataBitsNoParityTwoStopBits) {
    EXPECT_EQ(OpenPort(115200), "Opened " + slavePath_ + " with 115200 Baud succesfully !\n");
    termios tio{};
    ASSERT_EQ(tcgetattr(slave_, &tio), 0);
    EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_TRUE(tio.c_cflag & CSTOPB);
    EXPECT_FALSE(tio.c_cflag & PARENB);
    EXPECT_FALSE(tio.c_cflag & CRTSCTS);
    EXPECT_TRUE(tio.c_cflag & CLOCAL);
    EXPECT_FALSE(tio.c_iflag & (IXON | IXOFF | ICRNL));
    EXPECT_FALSE(tio.c_lflag & (ICANON | ECHO | ISIG));
    EXPECT_FALSE(tio.c_oflag & OPOST);
    EXPECT_EQ(cfgetospeed(&tio), static_cast<speed_t>(B115200));
}

TEST_F(ComPort, UnsupportedRateFallsBackTo9600) {
    EXPECT_EQ(OpenPort(38400), "Opened " + slavePath_ + " with 9600 Baud succesfully !\n");
    termios tio{};
    ASSERT_EQ(tcgetattr(slave_, &tio), 0);
    EXPECT_EQ(cfgetospeed(&tio), static_cast<speed_t>(B9600));
    EXPECT_EQ(EffectiveBaudRate(57600), 57600);
    EXPECT_EQ(EffectiveBaudRate(115201), 9600);
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

TEST_F(ComPort, ReopeningClosesTheOpenPortFirst) {
    OpenPort();
    // The old descriptor's lock would refuse the new one if it were still open.
    EXPECT_EQ(OpenPort(), "Opened " + slavePath_ + " with 115200 Baud succesfully !\n");
}

TEST_F(ComPort, MissingDeviceFailsWithoutConsoleOutput) {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    EXPECT_EQ(OpenComDevice("/dev/no-such-port", 115200), -1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    std::string error = testing::internal::GetCapturedStderr();
    EXPECT_EQ(error.rfind("COM open failed: No such file or directory", 0), 0u) << error;
    EXPECT_EQ(LastComError(), ENOENT);
    EXPECT_FALSE(IsComPortOpen());
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

TEST_F(ComPort, PurgeDiscardsPendingInput) {
    OpenPort();
    WriteToLine({0x15, 0x15, 0x15});
    WaitUntilReadable();
    EXPECT_EQ(PurgeComInput(), 0);
    WriteToLine({0x06});
    EXPECT_EQ(ReceiveByte(), 0x06);
}

TEST_F(ComPort, DiscardingCountsWhatWasWaiting) {
    OpenPort();
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
