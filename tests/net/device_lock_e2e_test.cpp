// Never two writers on one device: tarnix against ser2net serving the emulated module's
// pseudo-terminal over RFC 2217, and tarnix's own lock file in the system's lock directory
// (stale ones replaced, none left after an interrupt).
//
// Debian's ser2net 4.3 (libgensio 2.6, built without UUCP locking) neither writes nor reads lock
// files, takes no flock and sets no TIOCEXCL. So where ser2net serves a device the test writes
// the lock file that a ser2net built with UUCP locking writes; and ser2net is kept off a device
// that tarnix holds only when it is not root (TIOCEXCL), as the test runs it.

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "device_lock.h"
#include "module_process.h"
#include "network_servers.h"
#include "run_against_module.h"
#include "temp_dir_test.h"
#include "update_file_builder.h"

using namespace tarnix;

namespace {

const std::string EXAMPLE = TARNIX_SOURCE_DIR "/examples/display-config.upd";
// Long enough for the test to act while the first run waits for its Start reply.
const std::string START_REPLY_LATE = "start:1:4000";

std::string LockText(long pid) {
    char text[16];
    snprintf(text, sizeof text, "%10ld\n", pid);
    return text;
}

ProgramRun RunTarnix(const std::vector<std::string>& args, std::vector<SignalAt> signals = {}) {
    ProgramLaunch launch;
    launch.program = BinaryPath("tarnix");
    launch.args = args;
    launch.stdinText = "\n";
    launch.timeLimitSeconds = 60;
    launch.signals = std::move(signals);
    return RunProgram(launch);
}

// Polls until `done` holds, at most 10 s.
template <typename Condition>
bool Await(Condition done) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

bool ProcessHasOpen(pid_t pid, const std::string& path) {
    std::string fds = "/proc/" + std::to_string(pid) + "/fd/";
    for (int fd = 0; fd < 64; ++fd) {
        char target[256] = {};
        if (readlink((fds + std::to_string(fd)).c_str(), target, sizeof target - 1) > 0 &&
            path == target) {
            return true;
        }
    }
    return false;
}

// The module's port and its lock file in the system's lock directory, which tarnix uses: the
// test needs to write there, and removes what it wrote.
class DeviceLockE2e : public TempDirTest {
protected:
    void SetUp() override {
        if (access(SystemLockDirectory().c_str(), W_OK) != 0) {
            GTEST_SKIP() << "the lock directory " << SystemLockDirectory()
                         << " cannot be written by this user: run the test as root";
        }
        TempDirTest::SetUp();
    }

    void TearDown() override {
        if (!written_.empty() && ReadFileBytes(lockFile_) == written_) {
            unlink(lockFile_.c_str());
        }
        TempDirTest::TearDown();
    }

    void StartModuleWith(std::vector<std::string> args) {
        module_ = StartModule(dir_, std::move(args));
        lockFile_ = SystemLockDirectory() + "/" + LockFileName(module_.port);
        // A test beside this one may have had a pseudo-terminal of the same number until a
        // moment ago: its program closes the device first and then removes the lock.
        ASSERT_TRUE(Await([this] { return access(lockFile_.c_str(), F_OK) != 0; }))
            << "left by someone else: " << lockFile_;
    }

    void WriteLock(long pid) {
        written_ = LockText(pid);
        ASSERT_TRUE(WriteFileBytes(lockFile_, written_));
    }

    std::string Verdict() {
        FinishModule(&module_, true);
        return module_.verdict;
    }

    ModuleProcess module_;
    std::string lockFile_;
    std::string written_;
};

class Ser2netLock : public DeviceLockE2e {
protected:
    void SetUp() override {
        if (!ServerUnavailable(ServerKind::Ser2net).empty()) {
            GTEST_SKIP() << ServerUnavailable(ServerKind::Ser2net);
        }
        DeviceLockE2e::SetUp();
    }
};

// ser2net carries a run to the module; a local run on the same device meanwhile is refused as
// busy, names ser2net, and sends nothing: the module sees the one update whole.
TEST_F(Ser2netLock, ALocalRunIsRefusedWhileSer2netServesTheDevice) {
    StartModuleWith({"--expect", EXAMPLE, "--late", START_REPLY_LATE});
    NetworkServer server = StartSer2net({.dir = dir_, .ptyPaths = {module_.port}});
    ASSERT_EQ(server.failure, "");
    ProgramRun remote;
    std::thread remoteRun([&] { remote = RunTarnix({"0x89", EXAMPLE, "0", Rfc2217Url(server)}); });
    bool served = Await([&] { return ProcessHasOpen(server.process.pid, module_.port); });
    if (served) {
        WriteLock(server.process.pid);
    }
    ProgramRun local = RunTarnix({"0x89", EXAMPLE, "0", module_.port});
    remoteRun.join();
    ASSERT_TRUE(served) << "ser2net never opened " << module_.port << ServerLog(server);

    EXPECT_EQ(local.exitCode, 2) << DescribeRun(local);
    EXPECT_NE(
        local.stderrText.find("COM open failed: " + module_.port +
                              ": Device or resource busy (held by ser2net, process " +
                              std::to_string(server.process.pid) + "; end it and try again)\n"),
        std::string::npos)
        << local.stderrText;
    EXPECT_EQ(local.stdoutText.find("Opened"), std::string::npos) << local.stdoutText;
    EXPECT_EQ(remote.exitCode, 0) << DescribeRun(remote);
    StopNetworkServer(&server);
    std::string verdict = Verdict();
    EXPECT_NE(verdict.find("image arrived whole"), std::string::npos) << verdict;
    EXPECT_NE(verdict.find("protocol errors: 0"), std::string::npos) << verdict;
}

// A local run holds the device (its lock file names it); a ser2net that is not root cannot open
// it, so the run through ser2net fails to open and sends nothing.
TEST_F(Ser2netLock, ARunThatHoldsTheDeviceKeepsAnUnprivilegedSer2netOff) {
    StartModuleWith({"--expect", EXAMPLE, "--late", START_REPLY_LATE});
    ASSERT_EQ(chmod(module_.port.c_str(), 0666), 0);
    ASSERT_EQ(chmod(dir_.c_str(), 0755), 0);  // ser2net reads its configuration there
    NetworkServer server = StartSer2net(
        {.dir = dir_, .ptyPaths = {module_.port}, .modemLinesLibrary = "", .user = "65534:65534"});
    ASSERT_EQ(server.failure, "");
    ProgramRun local;
    std::thread localRun([&] { local = RunTarnix({"0x89", EXAMPLE, "0", module_.port}); });
    bool locked = Await([&] { return ReadFileBytes(lockFile_).size() == 11; });
    std::string lockText = ReadFileBytes(lockFile_);
    ProgramRun remote = RunTarnix({"0x89", EXAMPLE, "0", Rfc2217Url(server)});
    localRun.join();

    ASSERT_TRUE(locked) << "no lock file " << lockFile_ << DescribeRun(local);
    EXPECT_EQ(remote.exitCode, 2) << DescribeRun(remote);
    EXPECT_NE(remote.stderrText.find("COM open failed: " + Rfc2217Url(server)), std::string::npos)
        << remote.stderrText;
    // ser2net tells the client "Device open failure" and closes the connection; where in the
    // negotiation the client sees that depends on timing, so only the refusal is checked.
    EXPECT_EQ(local.exitCode, 0) << DescribeRun(local);
    EXPECT_EQ(access(lockFile_.c_str(), F_OK), -1) << "left behind: " << lockFile_;
    StopNetworkServer(&server);
    std::string verdict = Verdict();
    EXPECT_NE(verdict.find("image arrived whole"), std::string::npos) << verdict;
    EXPECT_NE(verdict.find("protocol errors: 0"), std::string::npos) << verdict;
}

TEST_F(DeviceLockE2e, AStaleLockIsReplacedAndSaidOnce) {
    StartModuleWith({"--expect", EXAMPLE});
    pid_t ended = fork();
    if (ended == 0) {
        _exit(0);
    }
    ASSERT_EQ(waitpid(ended, nullptr, 0), ended);
    WriteLock(ended);
    ProgramRun run = RunTarnix({"0x89", EXAMPLE, "0", module_.port});

    EXPECT_EQ(run.exitCode, 0) << DescribeRun(run);
    std::string notice = "removed the stale lock file " + lockFile_ + " of process " +
                         std::to_string(ended) + ", which has ended\n";
    size_t said = run.stderrText.find(notice);
    EXPECT_NE(said, std::string::npos) << run.stderrText;
    EXPECT_EQ(run.stderrText.find(notice, said + 1), std::string::npos) << run.stderrText;
    EXPECT_EQ(access(lockFile_.c_str(), F_OK), -1) << "left behind: " << lockFile_;
}

struct InterruptCase {
    const char* name;
    std::vector<SignalAt> signals;
    const char* saying;
};

void PrintTo(const InterruptCase& c, std::ostream* os) {
    *os << c.name;
}

class InterruptedRun : public DeviceLockE2e, public testing::WithParamInterface<InterruptCase> {};

// The module leaves a Data command and the End command unanswered: the first SIGINT comes
// during the one wait, the second during the other and ends the program in its signal handler.
TEST_P(InterruptedRun, LeavesNoLockFile) {
    // 20 records of 16 bytes; with BlockSize 256 no Program command among the first 16.
    std::vector<std::string> lines = MakeRecordLines(0x1000, PatternBytes(20 * 16, 5));
    lines.push_back(MakeEndRecord());
    std::string file = Write("records.upd", BuildUpdateFile(256, lines));
    StartModuleWith({"--silent", "data:4", "--silent", "end:1"});
    std::atomic<bool> running{true};
    std::atomic<bool> seen{false};
    std::thread watch([&] {
        while (running && !seen) {
            seen = access(lockFile_.c_str(), F_OK) == 0;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    });
    ProgramRun run = RunTarnix({"0x89", file, "0", module_.port}, GetParam().signals);
    running = false;
    watch.join();

    EXPECT_TRUE(seen) << "no lock file " << lockFile_ << " while it ran";
    EXPECT_EQ(run.exitCode, 130) << DescribeRun(run);
    EXPECT_NE(run.stderrText.find(GetParam().saying), std::string::npos) << run.stderrText;
    EXPECT_EQ(access(lockFile_.c_str(), F_OK), -1) << "left behind: " << lockFile_;
}

const std::string PROGRESS = "Writing User configuration...";

INSTANTIATE_TEST_SUITE_P(
    Interrupts, InterruptedRun,
    testing::Values(InterruptCase{"OneSigint",
                                  {{SIGINT, PROGRESS, 4, 300}},
                                  "tarnix: interrupted by SIGINT; module released\n"},
                    InterruptCase{"SecondSigint",
                                  {{SIGINT, PROGRESS, 4, 300}, {SIGINT, "", 1, 600}},
                                  "tarnix: interrupted again by SIGINT; ended at once\n"}),
    [](const auto& param) { return std::string(param.param.name); });

}  // namespace
