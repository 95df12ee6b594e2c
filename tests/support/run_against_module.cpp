#include "run_against_module.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include "module_pty.h"
#include "wine_launch.h"

namespace tarnix {

namespace {

struct ChildProcess {
    pid_t pid = -1;
    int pidFd = -1;
    int stdinFd = -1;
    int stdoutFd = -1;
    int stderrFd = -1;
};

using Clock = std::chrono::steady_clock;

void CloseFd(int* fd) {
    if (*fd >= 0) {
        close(*fd);
        *fd = -1;
    }
}

std::string ReplaceAll(std::string text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos;
         at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
    return text;
}

// Our Windows programs (BinaryPath in a Wine test run); other programs run as they are.
bool RunsUnderWine(const ProgramLaunch& launch) {
    return ProgramsRunUnderWine() && launch.program.ends_with(".exe");
}

// The one place that turns a launch into a command line; a launcher for programs built for
// another system (running them under an emulator layer) belongs here.
std::vector<std::string> BuildCommandLine(const ProgramLaunch& launch, const std::string& port) {
    if (RunsUnderWine(launch)) {
        return WineCommandLine(launch.program, launch.args, port);
    }
    std::vector<std::string> command{launch.program};
    for (const std::string& arg : launch.args) {
        command.push_back(port.empty() ? arg : ReplaceAll(arg, "{port}", port));
    }
    return command;
}

// Runs in the child between fork and exec: only async-signal-safe calls.
// `out` < 0 leaves the program without a standard output.
[[noreturn]] void ExecChild(char* const* argv, const char* directory, int in, int out, int err) {
    dup2(in, STDIN_FILENO);
    if (out >= 0) {
        dup2(out, STDOUT_FILENO);
    } else {
        close(STDOUT_FILENO);
    }
    dup2(err, STDERR_FILENO);
    signal(SIGPIPE, SIG_DFL);
    if (directory != nullptr && chdir(directory) != 0) {
        static const char message[] = "test harness: chdir failed\n";
        (void)!write(STDERR_FILENO, message, sizeof message - 1);
        _exit(127);
    }
    execv(argv[0], argv);
    static const char message[] = "test harness: exec failed\n";
    (void)!write(STDERR_FILENO, message, sizeof message - 1);
    _exit(127);
}

bool SpawnChild(const std::vector<std::string>& command, const std::string& directory,
                StdoutMode stdoutMode, ChildProcess* child, std::string* failure) {
    int in[2], out[2], err[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) {
        *failure = std::string("pipe: ") + std::strerror(errno);
        return false;
    }
    std::vector<char*> argv;
    for (const std::string& arg : command) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    const char* dir = directory.empty() ? nullptr : directory.c_str();
    pid_t pid = fork();
    if (pid == 0) {
        ExecChild(argv.data(), dir, in[0], stdoutMode == StdoutMode::Closed ? -1 : out[1], err[1]);
    }
    close(in[0]);
    close(out[1]);
    close(err[1]);
    if (pid < 0) {
        *failure = std::string("fork: ") + std::strerror(errno);
        close(in[1]);
        close(out[0]);
        close(err[0]);
        return false;
    }
    child->pid = pid;
    child->pidFd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    child->stdinFd = in[1];
    child->stdoutFd = out[0];
    if (stdoutMode != StdoutMode::Captured) {
        CloseFd(&child->stdoutFd);  // the reader is gone before the program writes
    }
    child->stderrFd = err[0];
    fcntl(child->stdinFd, F_SETFL, fcntl(child->stdinFd, F_GETFL) | O_NONBLOCK);
    return true;
}

void ReadInto(int* fd, std::string* text) {
    char buffer[65536];
    ssize_t n = read(*fd, buffer, sizeof buffer);
    if (n > 0) {
        text->append(buffer, static_cast<size_t>(n));
    } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
        CloseFd(fd);
    }
}

void WriteStdin(ChildProcess* child, const std::string& text, size_t* done) {
    ssize_t n = write(child->stdinFd, text.data() + *done, text.size() - *done);
    if (n > 0) {
        *done += static_cast<size_t>(n);
    } else if (n < 0 && errno != EINTR && errno != EAGAIN) {
        CloseFd(&child->stdinFd);  // the program is gone or closed its input
    }
    if (*done == text.size()) {
        CloseFd(&child->stdinFd);
    }
}

bool ChildExited(ChildProcess* child, ProgramRun* run) {
    int status = 0;
    if (waitpid(child->pid, &status, WNOHANG) != child->pid) {
        return false;
    }
    if (WIFEXITED(status)) {
        run->exitCode = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        run->termSignal = WTERMSIG(status);
    }
    child->pid = -1;
    return true;
}

void KillChild(ChildProcess* child, ProgramRun* run) {
    run->timedOut = true;
    kill(child->pid, SIGKILL);
    int status = 0;
    waitpid(child->pid, &status, 0);
    run->termSignal = SIGKILL;
    child->pid = -1;
}

size_t CountOccurrences(const std::string& text, const std::string& what) {
    size_t count = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++count;
    }
    return count;
}

// Sends the launch's signals in turn, each once its condition holds and its delay has passed.
struct SignalSender {
    const std::vector<SignalAt>& signals;
    size_t next = 0;
    bool scheduled = false;
    Clock::time_point due{};

    // Sends what is due; returns how long poll() may wait before the next one is due.
    std::chrono::milliseconds Serve(pid_t pid, const std::string& stdoutText,
                                    std::chrono::milliseconds left) {
        while (next < signals.size()) {
            const SignalAt& signal = signals[next];
            if (!scheduled &&
                (signal.afterStdout.empty() ||
                 CountOccurrences(stdoutText, signal.afterStdout) >= signal.occurrences)) {
                scheduled = true;
                due = Clock::now() + std::chrono::milliseconds(signal.delayMs);
            }
            if (!scheduled) {
                return left;
            }
            auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(due - Clock::now());
            if (wait.count() > 0) {
                return std::min(left, wait);
            }
            kill(pid, signal.signal);
            ++next;
            scheduled = false;
        }
        return left;
    }
};

// Feeds standard input and collects both outputs until the program has ended and closed them.
void WaitForChild(ChildProcess* child, const ProgramLaunch& launch, ProgramRun* run) {
    auto deadline = Clock::now() + std::chrono::seconds(launch.timeLimitSeconds);
    SignalSender sender{launch.signals};
    size_t stdinDone = 0;
    if (launch.stdinText.empty() && !launch.stdinKeptOpen) {
        CloseFd(&child->stdinFd);
    }
    // An input that stays open without a word: nothing to watch on it.
    int watchedStdin = launch.stdinText.empty() ? -1 : child->stdinFd;
    bool exited = false;
    for (;;) {
        exited = exited || ChildExited(child, run);
        if (exited && child->stdoutFd < 0 && child->stderrFd < 0) {
            break;
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            if (!exited) {
                KillChild(child, run);
            }
            break;
        }
        if (!exited) {
            left = sender.Serve(child->pid, run->stdoutText, left);
        }
        pollfd fds[4] = {{child->stdoutFd, POLLIN, 0},
                         {child->stderrFd, POLLIN, 0},
                         {watchedStdin, POLLOUT, 0},
                         {exited ? -1 : child->pidFd, POLLIN, 0}};
        // Without a process descriptor the exit is noticed by looking again shortly.
        bool blind = !exited && child->pidFd < 0 && child->stdoutFd < 0 && child->stderrFd < 0;
        int timeout = blind ? 1 : static_cast<int>(std::max<long>(left.count(), 0));
        if (poll(fds, 4, timeout) < 0 && errno != EINTR) {
            break;
        }
        if (fds[0].revents != 0) {
            ReadInto(&child->stdoutFd, &run->stdoutText);
        }
        if (fds[1].revents != 0) {
            ReadInto(&child->stderrFd, &run->stderrText);
        }
        if (fds[2].revents != 0) {
            WriteStdin(child, launch.stdinText, &stdinDone);
            watchedStdin = child->stdinFd;
        }
    }
    CloseFd(&child->stdinFd);
    CloseFd(&child->stdoutFd);
    CloseFd(&child->stderrFd);
    CloseFd(&child->pidFd);
}

void RunLaunch(const ProgramLaunch& launch, const std::string& port, ProgramRun* run) {
    // A program that ends before reading all its input must not take the test process with it.
    signal(SIGPIPE, SIG_IGN);
    ChildProcess child;
    if (!SpawnChild(BuildCommandLine(launch, port), launch.workingDirectory, launch.stdoutMode,
                    &child, &run->failure)) {
        return;
    }
    WaitForChild(&child, launch, run);
    if (RunsUnderWine(launch)) {
        run->stdoutText = NormaliseWineOutput(run->stdoutText);
        run->stderrText = NormaliseWineOutput(run->stderrText);
        if (!port.empty()) {
            run->portPath = WINE_PORT_NAME;
        }
    }
}

// ---- the relay behind ProgramLaunch::hook ----------------------------------------------------

// The program's pseudo-terminal on one side, the module on a socket pair on the other; the
// relay counts the module's reply bytes on their way to the program.
struct ReplyRelay {
    ModulePty programPty;
    int moduleEnd = -1;  // the relay's end of the socket pair
    int stop[2] = {-1, -1};
    unsigned replies = 0;
};

void WriteAll(int fd, const uint8_t* data, size_t count) {
    while (count > 0) {
        ssize_t n = write(fd, data, count);
        if (n > 0) {
            data += n;
            count -= static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            return;
        }
        pollfd out{fd, POLLOUT, 0};
        poll(&out, 1, 1000);
    }
}

// The module gets the master end of its "pseudo-terminal" from the socket pair.
bool OpenRelay(ReplyRelay* relay, ModulePty* modulePty, std::string* failure) {
    int ends[2];
    if (!OpenModulePty(&relay->programPty, failure)) {
        return false;
    }
    if (pipe2(relay->stop, O_CLOEXEC) != 0 ||
        socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, ends) != 0) {
        *failure = std::string("relay: ") + std::strerror(errno);
        return false;
    }
    *modulePty = ModulePty{};
    modulePty->masterFd = ends[0];
    relay->moduleEnd = ends[1];
    return true;
}

void CloseRelay(ReplyRelay* relay) {
    CloseModulePty(&relay->programPty);
    CloseFd(&relay->moduleEnd);
    CloseFd(&relay->stop[0]);
    CloseFd(&relay->stop[1]);
}

// 1: bytes passed on to the module, 0: none waiting, -1: the program hung up.
int RelayProgramBytes(ReplyRelay* relay) {
    uint8_t buffer[4096];
    ssize_t n = read(relay->programPty.masterFd, buffer, sizeof buffer);
    if (n > 0) {
        // From now on a hang-up on the master means the program closed the port.
        CloseFd(&relay->programPty.slaveFd);
        WriteAll(relay->moduleEnd, buffer, static_cast<size_t>(n));
        return 1;
    }
    return n < 0 && (errno == EAGAIN || errno == EINTR) ? 0 : -1;
}

// False when the module has closed its end.
bool RelayReplies(ReplyRelay* relay, const ProgramLaunch& launch) {
    uint8_t buffer[4096];
    ssize_t n = read(relay->moduleEnd, buffer, sizeof buffer);
    if (n <= 0) {
        return n < 0 && (errno == EAGAIN || errno == EINTR);
    }
    for (ssize_t i = 0; i < n; ++i) {
        if (++relay->replies == launch.hookAfterReplies) {
            launch.hook();
        }
        WriteAll(relay->programPty.masterFd, &buffer[i], 1);
    }
    return true;
}

// Until the program hangs up (the module is then told so) or a stop is asked for, after which
// what the program still sent is passed on.
void RunRelay(ReplyRelay* relay, const ProgramLaunch& launch) {
    for (;;) {
        pollfd fds[3] = {{relay->programPty.masterFd, POLLIN, 0},
                         {relay->moduleEnd, POLLIN, 0},
                         {relay->stop[0], POLLIN, 0}};
        if (poll(fds, 3, -1) < 0 && errno != EINTR) {
            return;
        }
        if (fds[0].revents != 0 && RelayProgramBytes(relay) < 0) {
            shutdown(relay->moduleEnd, SHUT_WR);
            return;
        }
        if (fds[1].revents != 0 && !RelayReplies(relay, launch)) {
            return;
        }
        if (fds[2].revents != 0) {
            while (RelayProgramBytes(relay) > 0) {
            }
            return;
        }
    }
}

// The module's side of the line: its pseudo-terminal, or with a hook the relay's socket pair.
bool OpenModuleLine(bool relayed, ModulePty* pty, ReplyRelay* relay, ProgramRun* run) {
    bool opened =
        relayed ? OpenRelay(relay, pty, &run->failure) : OpenModulePty(pty, &run->failure);
    if (!opened) {
        CloseRelay(relay);
        CloseModulePty(pty);
        return false;
    }
    run->portPath = relayed ? relay->programPty.slavePath : pty->slavePath;
    return true;
}

}  // namespace

ProgramRun RunAgainstModule(const ProgramLaunch& launch, const ModuleConfig& config) {
    ProgramRun run;
    ModulePty pty;
    ReplyRelay relay;
    bool relayed = launch.hook && launch.hookAfterReplies > 0;
    if (!OpenModuleLine(relayed, &pty, &relay, &run)) {
        return run;
    }
    if (!SendBytesBeforeStart(&pty, config, &run.module, &run.failure)) {
        CloseRelay(&relay);
        CloseModulePty(&pty);
        return run;
    }
    int stop[2];
    if (pipe2(stop, O_CLOEXEC) != 0) {
        run.failure = std::string("pipe: ") + std::strerror(errno);
        CloseRelay(&relay);
        CloseModulePty(&pty);
        return run;
    }
    std::string moduleError;
    std::thread module([&] { RunModule(&pty, config, &run.module, stop[0], &moduleError); });
    std::thread relaying;
    if (relayed) {
        relaying = std::thread([&] { RunRelay(&relay, launch); });
    }
    RunLaunch(launch, run.portPath, &run);
    if (relayed) {
        (void)!write(relay.stop[1], "x", 1);
        relaying.join();
    }
    (void)!write(stop[1], "x", 1);
    module.join();
    close(stop[0]);
    close(stop[1]);
    CloseRelay(&relay);
    CloseModulePty(&pty);
    if (!moduleError.empty() && run.failure.empty()) {
        run.failure = "module: " + moduleError;
    }
    return run;
}

ProgramRun RunProgram(const ProgramLaunch& launch) {
    ProgramRun run;
    RunLaunch(launch, "", &run);
    return run;
}

ProgramRun RunOnPort(const ProgramLaunch& launch, const std::string& portPath) {
    ProgramRun run;
    run.portPath = portPath;
    RunLaunch(launch, portPath, &run);
    return run;
}

std::string BinaryPath(const std::string& name) {
    if (ProgramsRunUnderWine()) {
        return WineProgramPath(name);
    }
    return std::string(TARNIX_BIN_DIR) + "/" + name;
}

std::string DescribeRun(const ProgramRun& run) {
    std::string text;
    if (!run.failure.empty()) {
        text += "harness failure: " + run.failure + "\n";
    }
    if (run.timedOut) {
        text += "program killed at the time limit\n";
    }
    text += "exit code " + std::to_string(run.exitCode);
    if (run.termSignal != 0) {
        text += ", signal " + std::to_string(run.termSignal);
    }
    text += "\n--- stdout ---\n" + run.stdoutText + "\n--- stderr ---\n" + run.stderrText +
            "\n--- module ---\n" + DescribeModuleVerdict(run.module, nullptr);
    return text;
}

}  // namespace tarnix
