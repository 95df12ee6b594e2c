// The port's writes under a storm of signals: an interval timer interrupts the writing thread
// every 100 microseconds while the module's side drains the line slowly, so writes block, come
// back cut short or fail with EINTR. Every byte must still arrive, once and in order.

#include "port.h"

#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/time.h>
#include <time.h>

#include <atomic>
#include <ostream>
#include <thread>

#include "pty_peer.h"

using namespace tarnix;

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

// Both ways onto the line: one block write, and byte by byte as the frames go out. Both send
// more than the pseudo-terminal buffers, so that the writes block.
struct StormCase {
    const char* name;
    size_t count;
    void (*send)(Port& port, const std::vector<uint8_t>& bytes);
};

void PrintTo(const StormCase& c, std::ostream* os) {
    *os << c.name;
}

void SendAsBlock(Port& port, const std::vector<uint8_t>& bytes) {
    uint32_t written = 0;
    PortResult result =
        WriteBlock(port, bytes.data(), static_cast<uint32_t>(bytes.size()), &written);
    EXPECT_TRUE(Succeeded(result)) << "error " << result.error;
    EXPECT_EQ(written, bytes.size());
}

void SendByteByByte(Port& port, const std::vector<uint8_t>& bytes) {
    PortNotes notes;
    SendFrame(port, {bytes, {}}, &notes);
    EXPECT_TRUE(notes.empty()) << "a send failed with error " << notes.front().error;
}

class WriteLoops : public PtyPeer, public testing::WithParamInterface<StormCase> {
protected:
    void SetUp() override {
        PtyPeer::SetUp();
        OpenSlave();
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
        ASSERT_EQ(sigaction(SIGALRM, &action, &previous_), 0);
        signalsCaught = 0;
        itimerval storm{{0, 100}, {0, 100}};
        ASSERT_EQ(setitimer(ITIMER_REAL, &storm, nullptr), 0);
    }

    // Also safe before StartStorm: previous_ then holds the default action.
    void StopStorm() {
        itimerval off{};
        setitimer(ITIMER_REAL, &off, nullptr);
        sigaction(SIGALRM, &previous_, nullptr);
    }

    // The module's side reads `count` bytes in small pieces with a pause after each, on a
    // thread that never takes the signals, so the writer keeps meeting a full line.
    void StartSlowReader(size_t count) {
        sigset_t alarm;
        sigemptyset(&alarm);
        sigaddset(&alarm, SIGALRM);
        sigset_t old;
        pthread_sigmask(SIG_BLOCK, &alarm, &old);  // the new thread inherits the mask
        reader_ = std::thread([this, count] {
            const timespec pause{0, 50 * 1000};
            while (received_.size() < count) {
                pollfd pfd{master_, POLLIN, 0};
                if (poll(&pfd, 1, 5000) <= 0) {
                    break;  // the writer gave up; the comparison shows what is missing
                }
                uint8_t buffer[256];
                ssize_t n =
                    read(master_, buffer, std::min(sizeof buffer, count - received_.size()));
                if (n <= 0) {
                    break;
                }
                received_.insert(received_.end(), buffer, buffer + n);
                nanosleep(&pause, nullptr);
            }
        });
        pthread_sigmask(SIG_SETMASK, &old, nullptr);
    }

    std::thread reader_;
    std::vector<uint8_t> received_;
    struct sigaction previous_ {};
};

TEST_P(WriteLoops, DeliverEveryByteInOrderThroughASignalStorm) {
    const std::vector<uint8_t> bytes = Pattern(GetParam().count);
    testing::internal::CaptureStdout();
    StartSlowReader(bytes.size());
    StartStorm();
    GetParam().send(*port_, bytes);
    StopStorm();
    std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_GT(signalsCaught.load(), 0u);
    EXPECT_EQ(printed.substr(0, 200), "");  // no failure line
    reader_.join();
    ASSERT_EQ(received_.size(), bytes.size());
    EXPECT_TRUE(received_ == bytes) << "bytes arrived changed or out of order";
}

INSTANTIATE_TEST_SUITE_P(Ways, WriteLoops,
                         testing::Values(StormCase{"BlockWrite", 1 << 20, SendAsBlock},
                                         StormCase{"SingleByteSends", 256 * 1024, SendByteByByte}),
                         [](const auto& testInfo) { return std::string(testInfo.param.name); });

}  // namespace
