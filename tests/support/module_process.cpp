#include "module_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "run_against_module.h"

namespace tarnix {

namespace {

using Clock = std::chrono::steady_clock;

}  // namespace

Spawned Spawn(const std::vector<std::string>& argv, const std::string& errFile) {
    Spawned spawned;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    int fds[2] = {-1, -1};
    EXPECT_EQ(pipe2(fds, O_CLOEXEC), 0);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    posix_spawn_file_actions_addopen(&actions, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    std::vector<char*> args;
    for (const std::string& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);
    EXPECT_EQ(posix_spawn(&spawned.pid, args[0], &actions, nullptr, args.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    spawned.stdoutPipe = fds[0];
    return spawned;
}

int WaitFor(pid_t pid, std::chrono::seconds limit) {
    if (pid <= 0) {
        return -1;  // nothing started; kill() of it would reach other processes
    }
    Clock::time_point deadline = Clock::now() + limit;
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (Clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            ADD_FAILURE() << "process " << pid << " killed at the time limit";
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string ReadAll(int fd) {
    std::string text;
    char buffer[4096];
    ssize_t got = 0;
    while ((got = read(fd, buffer, sizeof buffer)) > 0) {
        text.append(buffer, static_cast<size_t>(got));
    }
    return text;
}

ModuleProcess StartModule(const std::string& dir, std::vector<std::string> args) {
    static int count = 0;
    // The emulator is a Linux program, also when the programs under test run under Wine.
    args.insert(args.begin(), std::string(TARNIX_BIN_DIR) + "/tarnix-module");
    ModuleProcess module;
    module.process = Spawn(args, dir + "/module" + std::to_string(++count) + ".err");
    std::string line;
    char c = 0;
    while (read(module.process.stdoutPipe, &c, 1) == 1 && c != '\n') {
        line += c;
    }
    const std::string ready = "Module ready on ";
    EXPECT_EQ(line.rfind(ready, 0), 0u) << line;
    module.port = line.substr(std::min(line.size(), ready.size()));
    return module;
}

void FinishModule(ModuleProcess* module, bool stop) {
    // A module that never started has no process: kill(-1) would end every process there is.
    if (module->process.pid <= 0) {
        ADD_FAILURE() << "the module process did not start";
        return;
    }
    if (stop) {
        kill(module->process.pid, SIGTERM);
    }
    module->verdict = ReadAll(module->process.stdoutPipe);
    close(module->process.stdoutPipe);
    module->exitStatus = WaitFor(module->process.pid, std::chrono::seconds(30));
}

}  // namespace tarnix
