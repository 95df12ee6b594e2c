// UUCP lock files in a lock directory of the test's own: taken whole under the device's names,
// refused while a live process holds one, replaced when its process has ended, removed again,
// and read even where they cannot be written.

#include "device_lock.h"

#include <dirent.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

using namespace tarnix;

namespace {

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteText(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

bool Exists(const std::string& path) {
    struct stat status {};
    return lstat(path.c_str(), &status) == 0;
}

std::vector<std::string> Entries(const std::string& dir) {
    std::vector<std::string> names;
    DIR* entries = opendir(dir.c_str());
    for (dirent* entry = entries ? readdir(entries) : nullptr; entry != nullptr;
         entry = readdir(entries)) {
        if (strcmp(entry->d_name, ".") != 0 && strcmp(entry->d_name, "..") != 0) {
            names.push_back(entry->d_name);
        }
    }
    if (entries != nullptr) {
        closedir(entries);
    }
    return names;
}

std::string PidText(long pid) {
    char text[16];
    snprintf(text, sizeof text, "%10ld\n", pid);
    return text;
}

// A folder with a device file "ttyFAKE" and a link "usb-x" to it, as /dev/serial/by-id has,
// and a lock directory "lock"; a process named ser2net that lives until the test ends.
class DeviceLockTest : public testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/tarnix-lock-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        device_ = dir_ + "/ttyFAKE";
        link_ = dir_ + "/usb-x";
        lockDir_ = dir_ + "/lock";
        WriteText(device_, "");
        ASSERT_EQ(symlink("ttyFAKE", link_.c_str()), 0);
        ASSERT_EQ(mkdir(lockDir_.c_str(), 0755), 0);
    }

    void TearDown() override {
        if (holder_ > 0) {
            kill(holder_, SIGKILL);
            waitpid(holder_, nullptr, 0);
        }
        std::system(("rm -rf '" + dir_ + "'").c_str());
    }

    pid_t LiveSer2net() {
        holder_ = fork();
        if (holder_ == 0) {
            prctl(PR_SET_NAME, "ser2net");
            pause();
            _exit(0);
        }
        // Until its name is set the holder might still be read as the test itself.
        for (int i = 0;
             i < 500 && ReadText("/proc/" + std::to_string(holder_) + "/comm") != "ser2net\n";
             ++i) {
            usleep(2000);
        }
        return holder_;
    }

    std::string LockPath(const std::string& name) { return lockDir_ + "/" + name; }

    std::string dir_, device_, link_, lockDir_;
    pid_t holder_ = -1;
};

TEST(LockFileName, IsThePathBelowDevWithSlashesMadeUnderscoresElseTheBaseName) {
    const struct {
        const char* device;
        const char* lockName;
    } cases[] = {
        {"/dev/ttyUSB0", "LCK..ttyUSB0"},
        {"/dev/pts/3", "LCK..pts_3"},
        {"/dev/serial/by-id/usb-FTDI_FT232R-if00-port0",
         "LCK..serial_by-id_usb-FTDI_FT232R-if00-port0"},
        {"/tmp/ports/ttyV0", "LCK..ttyV0"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(LockFileName(c.device), c.lockName);
    }
}

TEST_F(DeviceLockTest, TakesTheLinkAndItsTargetWithOurProcessIdAndRemovesBothAtRelease) {
    DeviceLockResult result = TakeDeviceLock(link_, lockDir_);
    ASSERT_EQ(result.end, DeviceLockEnd::Taken);
    EXPECT_TRUE(result.notices.empty());
    // The link lies outside /dev: its base name could be another device's, so only its target
    // is locked.
    EXPECT_NE(access(LockPath("LCK..usb-x").c_str(), F_OK), 0);
    for (const char* name : {"LCK..ttyFAKE"}) {
        EXPECT_EQ(ReadText(LockPath(name)), PidText(getpid())) << name;
        struct stat status {};
        ASSERT_EQ(stat(LockPath(name).c_str(), &status), 0);
        EXPECT_EQ(status.st_mode & 0777, 0644u) << "other users' programs read it";
    }
    // The same device by its other name is now busy, held by this very process.
    DeviceLockResult again = TakeDeviceLock(device_, lockDir_);
    EXPECT_EQ(again.end, DeviceLockEnd::Busy);
    EXPECT_EQ(again.holder.pid, getpid());

    ReleaseDeviceLock(&result.lock);
    EXPECT_FALSE(Exists(LockPath("LCK..usb-x")));
    EXPECT_FALSE(Exists(LockPath("LCK..ttyFAKE")));
    EXPECT_EQ(Entries(lockDir_), std::vector<std::string>{});  // no temporary file either
}

// Lock files as other programs write them: "%10d\n", unpadded, without a line end, a binary
// int (Kermit); each names the live process.
TEST_F(DeviceLockTest, ADeviceThatALiveProcessHoldsIsBusyWhateverItsLockFileFormat) {
    pid_t ser2net = LiveSer2net();
    int32_t binary = ser2net;
    const std::string formats[] = {PidText(ser2net), std::to_string(ser2net) + "\n",
                                   std::to_string(ser2net),
                                   std::string(reinterpret_cast<char*>(&binary), 4)};
    for (const std::string& content : formats) {
        // Held under the target's name: the link is refused, and its own lock is not left.
        WriteText(LockPath("LCK..ttyFAKE"), content);
        DeviceLockResult result = TakeDeviceLock(link_, lockDir_);
        EXPECT_EQ(result.end, DeviceLockEnd::Busy);
        EXPECT_EQ(result.holder.pid, ser2net);
        EXPECT_EQ(result.holder.program, "ser2net");
        EXPECT_EQ(result.holder.lockFile, LockPath("LCK..ttyFAKE"));
        EXPECT_FALSE(Exists(LockPath("LCK..usb-x")));
        EXPECT_EQ(ReadText(LockPath("LCK..ttyFAKE")), content);
    }
}

TEST_F(DeviceLockTest, ALockFileThatNamesNoProcessHoldsTheDeviceAllTheSame) {
    WriteText(LockPath("LCK..ttyFAKE"), "in use\n");
    DeviceLockResult result = TakeDeviceLock(device_, lockDir_);
    EXPECT_EQ(result.end, DeviceLockEnd::Busy);
    EXPECT_EQ(result.holder.pid, 0);
    EXPECT_EQ(result.holder.lockFile, LockPath("LCK..ttyFAKE"));
}

TEST_F(DeviceLockTest, ALockWhoseProcessHasEndedIsReplacedAndSaidOnce) {
    pid_t ended = fork();
    if (ended == 0) {
        _exit(0);
    }
    ASSERT_EQ(waitpid(ended, nullptr, 0), ended);
    WriteText(LockPath("LCK..ttyFAKE"), PidText(ended));

    DeviceLockResult result = TakeDeviceLock(device_, lockDir_);
    ASSERT_EQ(result.end, DeviceLockEnd::Taken);
    ASSERT_EQ(result.notices.size(), 1u);
    EXPECT_EQ(result.notices[0], "removed the stale lock file " + LockPath("LCK..ttyFAKE") +
                                     " of process " + std::to_string(ended) + ", which has ended");
    EXPECT_EQ(ReadText(LockPath("LCK..ttyFAKE")), PidText(getpid()));
    ReleaseDeviceLock(&result.lock);
    EXPECT_FALSE(Exists(LockPath("LCK..ttyFAKE")));
}

TEST_F(DeviceLockTest, ALockThatAnotherProcessTookOverIsNotRemovedAtRelease) {
    DeviceLockResult result = TakeDeviceLock(device_, lockDir_);
    ASSERT_EQ(result.end, DeviceLockEnd::Taken);
    WriteText(LockPath("LCK..ttyFAKE"), PidText(LiveSer2net()));
    ReleaseDeviceLock(&result.lock);
    EXPECT_TRUE(Exists(LockPath("LCK..ttyFAKE")));
}

// Run in a child that is not root (root writes anywhere): "Taken <notices>" or "Busy <pid>".
std::string TakeAsOrdinaryUser(const std::string& device, const std::string& lockDir) {
    int out[2];
    if (pipe(out) != 0) {
        return "no pipe";
    }
    pid_t child = fork();
    if (child == 0) {
        close(out[0]);
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) {
            _exit(1);
        }
        DeviceLockResult result = TakeDeviceLock(device, lockDir);
        std::string text = result.end == DeviceLockEnd::Busy
                               ? "Busy " + std::to_string(result.holder.pid)
                               : "Taken " + std::to_string(result.notices.size()) + " " +
                                     (result.notices.empty() ? "" : result.notices[0]);
        ssize_t written = write(out[1], text.data(), text.size());
        _exit(written == static_cast<ssize_t>(text.size()) ? 0 : 1);
    }
    close(out[1]);
    std::string text;
    char buffer[512];
    for (ssize_t got; (got = read(out[0], buffer, sizeof buffer)) > 0;) {
        text.append(buffer, static_cast<size_t>(got));
    }
    close(out[0]);
    waitpid(child, nullptr, 0);
    return text;
}

TEST_F(DeviceLockTest, ALockDirectoryThatCannotBeWrittenIsSaidOnceAndStillRead) {
    ASSERT_EQ(chmod(dir_.c_str(), 0755), 0);  // mkdtemp's 0700 would hide the device itself
    ASSERT_EQ(chmod(lockDir_.c_str(), 0555), 0);
    EXPECT_EQ(TakeAsOrdinaryUser(link_, lockDir_),
              "Taken 1 no lock file for " + link_ + ": " + lockDir_ +
                  " cannot be written (Permission denied); only flock keeps other programs off "
                  "the port");

    pid_t ser2net = LiveSer2net();
    ASSERT_EQ(chmod(lockDir_.c_str(), 0755), 0);
    WriteText(LockPath("LCK..ttyFAKE"), PidText(ser2net));
    ASSERT_EQ(chmod(lockDir_.c_str(), 0555), 0);
    EXPECT_EQ(TakeAsOrdinaryUser(link_, lockDir_), "Busy " + std::to_string(ser2net));
}

}  // namespace
