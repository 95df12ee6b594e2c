// The port's writes under a storm of signals: an interval timer interrupts the writing thread
// every 100 microseconds while the module's side drains the line slowly, so writes block, come
// back cut short or fail with EINTR. Every byte must still arrive, once and in order.

#include "com_port.h"

#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/time.h>
#include <time.h>

#include <atomic>
#include <thread>

#include "pty_peer.h"

namespace {

std::atomic<unsigned long> signalsCaught{0};

void CountSignal(int) {
    signalsCaught++;
}

// The pattern has period 251, so a lost, doubled or reordered byte shows at its position.
std::vector<uint8_t> Pattern(size_t count) {
    std::vector<uint8_t> bytes(count);
    for (size_t i = 0; i < count; ++i) {
        bytes[i] = static_cast<uint8_t>(i % 251);
    }
    return bytes;
}

class WriteLoops : public PtyPeer {
protected:
    void SetUp() override {
        PtyPeer::SetUp();
        OpenPort();
    }

    void TearDown() override {
        StopStorm();
        if (reader_.joinable()) {
            reader_.join();
        }
        PtyPeer::TearDown();
    }

    // SIGALRM every 100 us, its handler installed without SA_RESTART so that a blocked write
    // really returns early instead of being restarted by the kernel.
    void StartStorm() {
        struct sigaction action {};
        action.sa_handler = CountSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = 0;
        ASSERT_EQ(sigaction(SIGALRM, &action, &previous_), 0);
        itimerval storm{{0, 100}, {0, 100}};
        ASSERT_EQ(setitimer(ITIMER_REAL, &storm, nullptr), 0);
        storming_ = true;
        signalsCaught = 0;
    }

    void StopStorm() {
        if (!storming_) {
            return;
        }
        itimerval off{};
        setitimer(ITIMER_REAL, &off, nullptr);
        sigaction(SIGALRM, &previous_, nullptr);
        storming_ = false;
    }

    // The module's side reads `count` bytes in small pieces with a pause after each, on a
    // thread that never takes the signals, so the writer keeps meeting a full line.
    void StartSlowReader(size_t count) {
        sigset_t alarm;
        sigemptyset(&alarm);
        sigaddset(&alarm, SIGALRM);
        sigset_t old;
        pthread_sigmask(SIG_BLOCK, &alarm, &old);  // the new thread inherits the mask
        reader_ = std::thread([this, count] { received_ = ReadSlowly(count); });
        pthread_sigmask(SIG_SETMASK, &old, nullptr);
    }

    std::vector<uint8_t> ReadSlowly(size_t count) {
        std::vector<uint8_t> bytes;
        const timespec pause{0, 50 * 1000};
        while (bytes.size() < count) {
            pollfd pfd{master_, POLLIN, 0};
            if (poll(&pfd, 1, 5000) <= 0) {
                break;  // the writer gave up; the comparison shows what is missing
            }
            uint8_t buffer[256];
            ssize_t n = read(master_, buffer, std::min(sizeof buffer, count - bytes.size()));
            if (n <= 0) {
                break;
            }
            bytes.insert(bytes.end(), buffer, buffer + n);
            nanosleep(&pause, nullptr);
        }
        return bytes;
    }

    // Joins the reader and checks that it got exactly `expected`.
    void ExpectReceived(const std::vector<uint8_t>& expected) {
        reader_.join();
        ASSERT_EQ(received_.size(), expected.size());
        EXPECT_TRUE(received_ == expected) << "bytes arrived changed or out of order";
    }

    std::thread reader_;
    std::vector<uint8_t> received_;
    struct sigaction previous_ {};
    bool storming_ = false;
};

TEST_F(WriteLoops, BlockWriteDeliversEveryByteInOrderThroughASignalStorm) {
    const std::vector<uint8_t> block = Pattern(1 << 20);
    StartSlowReader(block.size());
    StartStorm();
    uint32_t written = 0;
    bool succeeded = WriteComBlock(block.data(), static_cast<uint32_t>(block.size()), &written);
    StopStorm();
    EXPECT_GT(signalsCaught.load(), 0u);
    EXPECT_TRUE(succeeded) << "error " << LastComError();
    EXPECT_EQ(written, block.size());
    ExpectReceived(block);
}

TEST_F(WriteLoops, SingleByteSendsDeliverEveryByteInOrderThroughASignalStorm) {
    // More than the pseudo-terminal buffers, so that the sends block.
    const std::vector<uint8_t> bytes = Pattern(256 * 1024);
    testing::internal::CaptureStdout();
    StartSlowReader(bytes.size());
    StartStorm();
    for (uint8_t byte : bytes) {
        SendByte(byte);
    }
    StopStorm();
    std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_GT(signalsCaught.load(), 0u);
    EXPECT_EQ(printed.substr(0, 200), "");  // no "TransmitCommChar failed" line
    ExpectReceived(bytes);
}

}  // namespace
