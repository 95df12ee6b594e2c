#include "port.h"

#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "pty_peer.h"

using namespace tarnix;

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
        EXPECT_EQ(OpenSlave(rate.requested), "Opened " + slavePath_ + " with " +
                                                 std::to_string(rate.effective) +
                                                 " Baud succesfully !\n");
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
    OpenSlave();
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
        PortChoice choice;
        choice.comNr = 8;
        choice.devicePath = failure.device;
        PortOpening opening = OpenPort(choice, MODULE_LINE);
        EXPECT_FALSE(opening.port);
        EXPECT_EQ(opening.failure.kind, OpenFailureKind::Device);
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        PrintOpenFailure(opening.failure);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
        std::string error = testing::internal::GetCapturedStderr();
        EXPECT_EQ(error.rfind(failure.start, 0), 0u) << error;
        for (const std::string& hint : failure.hints) {
            EXPECT_NE(error.find(hint), std::string::npos) << error;
        }
        if (!failure.device.empty()) {  // a device path gets no COM-number hint
            EXPECT_EQ(error.find("COM", 1), std::string::npos) << error;
        }
        EXPECT_EQ(opening.failure.error, failure.error) << error;
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
    PortChoice choice;
    choice.devicePath = path;
    PortOpening opening = OpenPort(choice, MODULE_LINE);
    EXPECT_FALSE(opening.port);
    testing::internal::CaptureStderr();
    PrintOpenFailure(opening.failure);
    std::string denied = testing::internal::GetCapturedStderr();
    unlink(path);
    EXPECT_NE(denied.find("Permission denied"), std::string::npos) << denied;
    EXPECT_NE(denied.find("'dialout' group"), std::string::npos) << denied;
}

TEST_F(ComPort, ReceivesAWaitingByteAndSendsAFrameInOrder) {
    OpenSlave();
    WriteToLine({0x06, 0x00});
    PortNotes notes;
    EXPECT_EQ(ReceiveByte(*port_, &notes).value, 0x06);
    Received zero = ReceiveByte(*port_, &notes);
    EXPECT_EQ(zero.ended, ReceiveResult::Byte);  // a received 0x00 is a byte
    EXPECT_EQ(zero.value, 0x00);
    EXPECT_EQ(SendFrame(*port_, {{0x02, 0x00}, {0x03, 0x0A}}, &notes), 2u);
    EXPECT_EQ(ReadFromLine(4), (std::vector<uint8_t>{0x02, 0x00, 0x03, 0x0A}));
    EXPECT_TRUE(notes.empty());
}

// Purging leaves nothing behind (else the discard would count 6); discarding counts.
TEST_F(ComPort, PurgeAndDiscardDropPendingInput) {
    OpenSlave();
    WriteToLine({0x15, 0x15, 0x15});
    WaitUntilReadable();
    EXPECT_TRUE(PurgeInput(*port_).empty());
    WriteToLine({0x06, 0x15, 0x06});
    WaitUntilReadable();
    EXPECT_EQ(DiscardWaitingInput(*port_), 3u);
    EXPECT_EQ(DiscardWaitingInput(*port_), 0u);
    WriteToLine({0x06});
    PortNotes notes;
    EXPECT_EQ(ReceiveByte(*port_, &notes).value, 0x06);
    EXPECT_FALSE(port_->hungUp);
}

TEST_F(ComPort, HangUpIsAReadFailureNotATimeOut) {
    OpenSlave();
    close(slave_);
    slave_ = -1;
    CloseMaster();
    PortNotes notes;
    Received received = ReceiveByte(*port_, &notes);
    EXPECT_EQ(received.ended, ReceiveResult::HungUp);
    EXPECT_EQ(received.value, 0);
    testing::internal::CaptureStdout();
    PrintPortNotes(notes);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Read on COM-port failed with error 5.\n");
    EXPECT_TRUE(port_->hungUp);
}

// A second pseudo-terminal beside the test's own.
struct SecondPty : PtyPeer {
    void TestBody() override {}
    using PtyPeer::OpenSlave;
    using PtyPeer::port_;
    using PtyPeer::SetUp;
    using PtyPeer::TearDown;
    using PtyPeer::WriteToLine;
};

// Two ports open at once, each with its own state: a hang-up of one leaves the other whole.
TEST_F(ComPort, TwoPortsInOneProcessKeepTheirOwnState) {
    SecondPty other;
    other.SetUp();
    OpenSlave();
    other.OpenSlave();
    ASSERT_TRUE(other.port_);
    other.WriteToLine({0x06});
    close(slave_);
    slave_ = -1;
    CloseMaster();
    PortNotes notes;
    EXPECT_EQ(ReceiveByte(*port_, &notes).ended, ReceiveResult::HungUp);
    Received fromOther = ReceiveByte(*other.port_, &notes);
    EXPECT_EQ(fromOther.ended, ReceiveResult::Byte);
    EXPECT_EQ(fromOther.value, 0x06);
    EXPECT_TRUE(port_->hungUp);
    EXPECT_FALSE(other.port_->hungUp);
    other.TearDown();
}

TEST_F(ComPort, EveryOperationOnAClosedPortSaysSo) {
    OpenSlave();
    EXPECT_TRUE(ClosePort(*port_).empty());
    PortNotes notes;
    SendFrame(*port_, {{0x02}, {'x'}}, &notes);
    EXPECT_EQ(ReceiveByte(*port_, &notes).ended, ReceiveResult::NotOpen);
    PortNotes purged = PurgeInput(*port_);
    PortNotes closed = ClosePort(*port_);
    notes.insert(notes.end(), purged.begin(), purged.end());
    notes.insert(notes.end(), closed.begin(), closed.end());
    testing::internal::CaptureStdout();
    PrintPortNotes(notes);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "COM port not opened !\nCOM port not opened !\nCOM port not opened !\n"
              "COM port not opened !\n");
}

}  // namespace
