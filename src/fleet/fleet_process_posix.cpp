// POSIX processes for tarnix-fleet: posix_spawn into a process group of its own, so that a
// Ctrl-C at the terminal reaches the fleet alone and each tarnix gets exactly the one interrupt
// the fleet passes on.

#include <fcntl.h>
#include <netdb.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <set>

#include "exit_status.h"
#include "fleet_process.h"
#include "posix_io.h"

namespace tarnix {

namespace {

volatile sig_atomic_t g_stopSignals = 0;
volatile sig_atomic_t g_lastStopSignal = 0;

// What asks the fleet to stop: Ctrl-C, kill, a closed terminal, Ctrl-\. Each tarnix is in a
// process group of its own and sees none of them unless the fleet passes it on.
constexpr int STOP_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

void OnStopSignal(int signalNumber) {
    g_stopSignals = g_stopSignals + 1;
    g_lastStopSignal = signalNumber;
}

bool SignalIgnored(int signalNumber) {
    struct sigaction current {};
    return sigaction(signalNumber, nullptr, &current) == 0 && current.sa_handler == SIG_IGN;
}

// The file actions and attributes of one spawn, released on every path.
struct SpawnSetup {
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    SpawnSetup() {
        posix_spawn_file_actions_init(&actions);
        posix_spawnattr_init(&attributes);
    }
    ~SpawnSetup() {
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;
};

int PrepareSpawn(const std::string& logPath, SpawnSetup* setup) {
    int result =
        posix_spawn_file_actions_addopen(&setup->actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    if (result == 0) {
        result = posix_spawn_file_actions_addopen(&setup->actions, STDOUT_FILENO, logPath.c_str(),
                                                  O_WRONLY | O_CREAT | O_TRUNC, 0644);
    }
    if (result == 0) {
        result = posix_spawn_file_actions_adddup2(&setup->actions, STDOUT_FILENO, STDERR_FILENO);
    }
    // Each tarnix starts with the default dispositions, also where the fleet ignores a signal
    // (SIGPIPE; SIGHUP under nohup): it installs its own handlers.
    sigset_t defaults;
    sigemptyset(&defaults);
    for (int signalNumber : STOP_SIGNALS) {
        sigaddset(&defaults, signalNumber);
    }
    sigaddset(&defaults, SIGPIPE);
    sigset_t none;
    sigemptyset(&none);
    if (result == 0) {
        result = posix_spawnattr_setsigdefault(&setup->attributes, &defaults);
    }
    if (result == 0) {
        result = posix_spawnattr_setsigmask(&setup->attributes, &none);
    }
    if (result == 0) {
        result = posix_spawnattr_setpgroup(&setup->attributes, 0);
    }
    if (result == 0) {
        result = posix_spawnattr_setflags(&setup->attributes, POSIX_SPAWN_SETPGROUP |
                                                                  POSIX_SPAWN_SETSIGDEF |
                                                                  POSIX_SPAWN_SETSIGMASK);
    }
    return result;
}

}  // namespace

bool StartLoggedProcess(const std::string& program, const std::vector<std::string>& args,
                        const std::string& logPath, FleetProcess* process, std::string* error) {
    SpawnSetup setup;
    int result = PrepareSpawn(logPath, &setup);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& arg : args) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (result == 0) {
        result = posix_spawn(&pid, program.c_str(), &setup.actions, &setup.attributes, argv.data(),
                             environ);
    }
    if (result != 0) {
        *error = "cannot start " + program + ": " + strerror(result);
        return false;
    }
    process->id = pid;
    return true;
}

bool ProcessEnded(FleetProcess* process, int* exitStatus) {
    if (process->id < 0) {
        return true;
    }
    int status = 0;
    pid_t result = WaitPidRetrying(static_cast<pid_t>(process->id), &status, WNOHANG);
    if (result == 0) {
        return false;
    }
    if (result < 0) {
        *exitStatus = -1;  // lost: nothing more can be learnt about it
    } else if (WIFSIGNALED(status)) {
        *exitStatus = ExitStatusForSignal(WTERMSIG(status));
    } else {
        *exitStatus = WEXITSTATUS(status);
    }
    process->id = -1;
    return true;
}

void InterruptProcess(const FleetProcess& process, int signalNumber) {
    if (process.id > 0) {
        kill(static_cast<pid_t>(process.id), signalNumber);
    }
}

void CatchStopSignals() {
    // A reader of standard output that has gone (a pipeline whose terminal closed) must not
    // end the fleet before its tarnix are waited for and the report is written.
    signal(SIGPIPE, SIG_IGN);
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    for (int signalNumber : STOP_SIGNALS) {
        sigaddset(&action.sa_mask, signalNumber);  // the count is never updated by two at once
    }
    for (int signalNumber : STOP_SIGNALS) {
        if (signalNumber == SIGHUP && SignalIgnored(SIGHUP)) {
            continue;  // started by nohup: a closed terminal is to stop nothing
        }
        sigaction(signalNumber, &action, nullptr);
    }
}

int StopSignalCount() {
    return g_stopSignals;
}

int LastStopSignal() {
    return g_lastStopSignal;
}

std::string OwnExecutableDirectory() {
    char path[PATH_MAX];
    ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) {
        return ".";
    }
    std::string self(path, static_cast<size_t>(length));
    size_t slash = self.rfind('/');
    return slash == 0 ? "/" : self.substr(0, slash);
}

std::string ExecutableFileName(const std::string& baseName) {
    return baseName;
}

bool OutputIsTerminal() {
    return isatty(STDOUT_FILENO) == 1;
}

void PauseMilliseconds(int milliseconds) {
    timespec pause{milliseconds / 1000, (milliseconds % 1000) * 1000000L};
    nanosleep(&pause, nullptr);  // a signal cuts it short, which is what the loop wants
}

bool FileExists(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0;
}

bool MakeFolder(const std::string& path, bool mayExist, std::string* error) {
    if (mkdir(path.c_str(), 0755) == 0) {
        return true;
    }
    struct stat info {};
    if (errno == EEXIST && mayExist && stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
        return true;
    }
    *error = "cannot create folder " + path + ": " + strerror(errno);
    return false;
}

void SetInheritedVariable(const char* name, const char* value) {
    setenv(name, value, 1);
}

std::string HostName() {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0) {
        return "";
    }
    return name;
}

// getlogin needs a controlling terminal, which a fleet under cron or ssh may lack.
std::string UserName() {
    const char* login = getlogin();
    if (login == nullptr || *login == '\0') {
        login = std::getenv("USER");
    }
    return login == nullptr ? "" : login;
}

std::vector<std::string> HostAddresses(const std::string& host) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0) {
        return {};
    }
    std::set<std::string> addresses;
    for (const addrinfo* entry = found; entry != nullptr; entry = entry->ai_next) {
        char text[NI_MAXHOST] = "";
        if (getnameinfo(entry->ai_addr, entry->ai_addrlen, text, sizeof text, nullptr, 0,
                        NI_NUMERICHOST) == 0) {
            addresses.insert(text);
        }
    }
    freeaddrinfo(found);
    return {addresses.begin(), addresses.end()};
}

}  // namespace tarnix
