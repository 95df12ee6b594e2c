// The real RFC 2217 servers of network_servers.h: ser2net and the pyserial server, each a
// process of its own that the test starts and stops.

#include "network_servers.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <ostream>
#include <set>
#include <sstream>
#include <thread>
#include <utility>

#include "run_against_module.h"
#include "update_file_builder.h"

namespace tarnix {

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto STOP_GRACE = std::chrono::seconds(3);
constexpr auto START_LIMIT = std::chrono::seconds(10);
constexpr int SER2NET_ATTEMPTS = 3;
const char* const SER2NET = "/usr/sbin/ser2net";
// Runs ser2net as another user (util-linux); it execs, so the server keeps its process id.
const char* const SETPRIV = "/usr/bin/setpriv";
// Debian's, for which python3-serial installs pyserial (a python3 earlier on PATH may lack it).
const char* const PYTHON = "/usr/bin/python3";

void Pause() {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

std::string DescribeStatus(int status) {
    if (WIFEXITED(status)) {
        return "exit status " + std::to_string(WEXITSTATUS(status));
    }
    return "signal " + std::to_string(WTERMSIG(status));
}

// Whether the process has ended (then reaped, `ended` set, pid -1), waiting at most `limit`.
bool AwaitEnd(ServerProcess* process, Clock::duration limit) {
    Clock::time_point deadline = Clock::now() + limit;
    for (;;) {
        int status = 0;
        pid_t got = waitpid(process->pid, &status, WNOHANG);
        if (got == process->pid || (got < 0 && errno == ECHILD)) {
            process->ended = got == process->pid ? DescribeStatus(status) : "reaped elsewhere";
            process->pid = -1;
            return true;
        }
        if (Clock::now() >= deadline) {
            return false;
        }
        Pause();
    }
}

// The environment of a server: the test's own, less what a test may have set for a program of
// ours, plus `extra` ("NAME=value").
std::vector<std::string> ServerEnvironment(const std::vector<std::string>& extra) {
    std::vector<std::string> entries;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        std::string text = *entry;
        if (!text.starts_with("LD_PRELOAD=") && !text.starts_with("TARNIX_WINE_MODEM_LOG=")) {
            entries.push_back(text);
        }
    }
    entries.insert(entries.end(), extra.begin(), extra.end());
    return entries;
}

std::vector<char*> Pointers(std::vector<std::string>& strings) {
    std::vector<char*> pointers;
    for (std::string& text : strings) {
        pointers.push_back(text.data());
    }
    pointers.push_back(nullptr);
    return pointers;
}

// A server's descriptors in the parent: standard output, the log, the pipe that tells the
// parent about the exec.
struct SpawnFds {
    int out = -1;
    int log = -1;
    int exec = -1;  // close-on-exec: its end of file says the exec has happened
};

// In the child: an exec that failed tells the parent its errno.
[[noreturn]] void ReportExecFailure(int execFd) {
    int error = errno;
    ssize_t written = write(execFd, &error, sizeof error);
    (void)written;
    _exit(127);
}

// In the child between fork and exec: async-signal-safe calls only. It dies with the thread
// that started it, so that no server outlives a test killed at its time limit.
[[noreturn]] void ExecServer(char** argv, char** envp, SpawnFds fds, pid_t parent) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) {
        _exit(127);
    }
    int nullFd = open("/dev/null", O_RDONLY);
    if (nullFd < 0 || dup2(nullFd, 0) != 0 || dup2(fds.out, 1) != 1 || dup2(fds.log, 2) != 2 ||
        dup2(fds.exec, 3) != 3 || fcntl(3, F_SETFD, FD_CLOEXEC) != 0) {
        ReportExecFailure(fds.exec);
    }
    close_range(4, ~0U, 0);  // none of the test's descriptors (a pty master, sockets)
    execve(argv[0], argv, envp);
    ReportExecFailure(3);
}

void CloseAll(std::initializer_list<int> fds) {
    for (int fd : fds) {
        if (fd >= 0) {
            close(fd);
        }
    }
}

// After the fork: waits for the exec, so that /proc/PID shows the server and not a copy of
// the test. When the exec failed the child is reaped (pid -1) and errno says why.
void AwaitExec(ServerProcess* process, int execFd) {
    int error = 0;
    ssize_t got = 0;
    while ((got = read(execFd, &error, sizeof error)) < 0 && errno == EINTR) {
    }
    close(execFd);
    if (got == static_cast<ssize_t>(sizeof error)) {
        AwaitEnd(process, std::chrono::seconds(10));
        errno = error;
    }
}

// Where a started process writes: standard error into `log`, standard output into the pipe
// when `pipe` is given, else into `out` when given, else into `log`.
struct SpawnOutput {
    std::string log;
    std::string out;
    int* pipe = nullptr;  // receives the read end
};

// Starts argv with its standard input on /dev/null; pid -1 (errno set) when it could not be
// started.
ServerProcess Spawn(std::vector<std::string> argv, const std::vector<std::string>& extraEnv,
                    const SpawnOutput& output) {
    ServerProcess process;
    std::vector<std::string> env = ServerEnvironment(extraEnv);
    std::vector<char*> argvPointers = Pointers(argv);
    std::vector<char*> envPointers = Pointers(env);
    int flags = O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC;
    int log = open(output.log.c_str(), flags, 0644);
    int file = output.out.empty() ? -1 : open(output.out.c_str(), flags, 0644);
    int out[2] = {-1, -1};
    int exec[2] = {-1, -1};
    if (log < 0 || (!output.out.empty() && file < 0) ||
        (output.pipe != nullptr && pipe2(out, O_CLOEXEC) != 0) || pipe2(exec, O_CLOEXEC) != 0) {
        CloseAll({log, file, out[0], out[1], exec[0], exec[1]});
        return process;
    }
    pid_t parent = getpid();
    process.pid = fork();
    if (process.pid == 0) {
        int stdoutFd = output.pipe != nullptr ? out[1] : file >= 0 ? file : log;
        ExecServer(argvPointers.data(), envPointers.data(), {stdoutFd, log, exec[1]}, parent);
    }
    CloseAll({log, file, out[1], exec[1]});
    if (output.pipe != nullptr) {
        *output.pipe = out[0];
    }
    if (process.pid > 0) {
        AwaitExec(&process, exec[0]);
    } else {
        close(exec[0]);
    }
    return process;
}

// The modem-line library and its log in the server's environment.
std::vector<std::string> ModemLinesEnvironment(const ServerOptions& options,
                                               NetworkServer* server) {
    if (options.modemLinesLibrary.empty()) {
        return {};
    }
    server->modemLogPath = options.dir + "/" + ServerName(server->kind) + "-modem-lines.log";
    return {"LD_PRELOAD=" + options.modemLinesLibrary,
            "TARNIX_WINE_MODEM_LOG=" + server->modemLogPath};
}

bool ProgramRuns(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

std::string UrlHost(const std::string& host) {
    return host.find(':') != std::string::npos ? "[" + host + "]" : host;
}

}  // namespace

ServerProcess::ServerProcess(ServerProcess&& other) noexcept
    : pid(std::exchange(other.pid, -1)), ended(std::move(other.ended)) {}

ServerProcess& ServerProcess::operator=(ServerProcess&& other) noexcept {
    if (this != &other) {
        StopServerProcess(this);
        pid = std::exchange(other.pid, -1);
        ended = std::move(other.ended);
    }
    return *this;
}

ServerProcess::~ServerProcess() {
    StopServerProcess(this);
}

void StopServerProcess(ServerProcess* process) {
    if (process->pid <= 0) {
        return;
    }
    kill(process->pid, SIGTERM);
    if (!AwaitEnd(process, STOP_GRACE)) {
        // ser2net 4.3 may hang in its shutdown (seen when a port could not be bound).
        kill(process->pid, SIGKILL);
        AwaitEnd(process, std::chrono::seconds(10));
    }
}

int FreeLoopbackPort() {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = -1;
    if (fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
        port = ntohs(address.sin_port);
    }
    if (fd >= 0) {
        close(fd);
    }
    return port;
}

std::string Rfc2217Url(const std::string& host, int port) {
    return "rfc2217://" + UrlHost(host) + ":" + std::to_string(port);
}

std::string SocketUrl(const std::string& host, int port) {
    return "socket://" + UrlHost(host) + ":" + std::to_string(port);
}

const char* ServerName(ServerKind kind) {
    return kind == ServerKind::Ser2net ? "ser2net" : "pyserial";
}

void PrintTo(ServerKind kind, std::ostream* os) {
    *os << ServerName(kind);
}

std::string PyserialPython() {
    static const bool hasPyserial =
        ProgramRuns(std::string(PYTHON) + " -c 'import serial.rfc2217'");
    return hasPyserial ? PYTHON : "";
}

std::string ServerUnavailable(ServerKind kind) {
    if (kind == ServerKind::Ser2net) {
        return access(SER2NET, X_OK) == 0
                   ? ""
                   : std::string(SER2NET) + " is missing: install the Debian package ser2net";
    }
    return !PyserialPython().empty()
               ? ""
               : "/usr/bin/python3 has no pyserial: install the Debian package python3-serial";
}

std::string ModemLinesLibrary() {
    return TARNIX_MODEM_LINES_LIBRARY;
}

void StopNetworkServer(NetworkServer* server) {
    StopServerProcess(&server->process);
}

std::string Rfc2217Url(const NetworkServer& server, std::size_t index) {
    return Rfc2217Url(server.host, server.ports.at(index).rfc2217Port);
}

std::string SocketUrl(const NetworkServer& server, std::size_t index) {
    return SocketUrl(server.host, server.ports.at(index).rawPort);
}

std::string ServerLog(const NetworkServer& server) {
    return ReadFileBytes(server.logPath);
}

std::vector<std::string> ModemLogLines(const NetworkServer& server) {
    std::vector<std::string> lines;
    std::ifstream in(server.modemLogPath);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

NetworkServer StartNetworkServer(ServerKind kind, const ServerOptions& options) {
    return kind == ServerKind::Ser2net ? StartSer2net(options) : StartPyserialServer(options);
}

// ---- ser2net ----

namespace {

// The inodes of the sockets that the process holds.
std::set<std::string> SocketInodes(pid_t pid) {
    std::set<std::string> inodes;
    std::string dir = "/proc/" + std::to_string(pid) + "/fd";
    DIR* entries = opendir(dir.c_str());
    for (dirent* entry = entries ? readdir(entries) : nullptr; entry != nullptr;
         entry = readdir(entries)) {
        char target[128] = {};
        std::string link = dir + "/" + entry->d_name;
        if (readlink(link.c_str(), target, sizeof target - 1) > 0 &&
            std::strncmp(target, "socket:[", 8) == 0) {
            inodes.insert(std::string(target + 8, std::strcspn(target + 8, "]")));
        }
    }
    if (entries != nullptr) {
        closedir(entries);
    }
    return inodes;
}

// Whether one of the `inodes` listens on `port` (/proc/net/tcp and tcp6: "sl local remote
// state ... inode", local as hex "ADDRESS:PORT", state 0A for LISTEN).
bool ListensOn(const std::set<std::string>& inodes, int port) {
    for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
        std::ifstream in(table);
        std::string line;
        std::getline(in, line);
        while (std::getline(in, line)) {
            std::istringstream fields(line);
            std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout;
            std::string inode;
            fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >>
                timeout >> inode;
            size_t colon = local.rfind(':');
            if (state == "0A" && colon != std::string::npos && inodes.count(inode) != 0 &&
                std::stoi(local.substr(colon + 1), nullptr, 16) == port) {
                return true;
            }
        }
    }
    return false;
}

bool ListensOnAll(const NetworkServer& server) {
    std::set<std::string> inodes = SocketInodes(server.process.pid);
    for (const ServedPort& port : server.ports) {
        if (!ListensOn(inodes, port.rfc2217Port) ||
            (port.rawPort != 0 && !ListensOn(inodes, port.rawPort))) {
            return false;
        }
    }
    return true;
}

std::string Ser2netConnection(const std::string& name, const std::string& accepter,
                              const std::string& connector) {
    return "connection: &" + name + "\n    accepter: " + accepter +
           "\n    connector: " + connector +
           "\n    options:\n      kickolduser: true\n      chardelay: false\n";
}

std::string Ser2netConfig(const ServerOptions& options, const std::vector<ServedPort>& ports) {
    std::string config = "%YAML 1.1\n---\n";
    for (size_t i = 0; i < ports.size(); ++i) {
        std::string name = "module" + std::to_string(i);
        std::string tcp = "tcp," + options.host + ",";
        config +=
            Ser2netConnection(name, "telnet(rfc2217)," + tcp + std::to_string(ports[i].rfc2217Port),
                              "serialdev," + ports[i].ptyPath + ",9600n81,local");
        if (ports[i].rawPort != 0) {
            config += Ser2netConnection(
                name + "raw", tcp + std::to_string(ports[i].rawPort),
                "serialdev," + ports[i].ptyPath + "," + options.rawLineSettings + ",local");
        }
    }
    return config;
}

// A free port other than those `taken` (two calls may give the same port, once closed).
int UnusedFreePort(std::set<int>* taken) {
    int port = FreeLoopbackPort();
    for (int tries = 0; taken->count(port) != 0 && tries < 10; ++tries) {
        port = FreeLoopbackPort();
    }
    taken->insert(port);
    return port;
}

std::vector<ServedPort> FreePorts(const ServerOptions& options) {
    std::vector<ServedPort> ports;
    std::set<int> taken;
    for (const std::string& pty : options.ptyPaths) {
        int rfc2217 = UnusedFreePort(&taken);
        ports.push_back({pty, rfc2217, options.rawPorts ? UnusedFreePort(&taken) : 0});
    }
    return ports;
}

// Waits until ser2net listens on every port; false (and ser2net stopped) when it ended or did
// not get there in time.
bool AwaitSer2net(NetworkServer* server) {
    Clock::time_point deadline = Clock::now() + START_LIMIT;
    while (!ListensOnAll(*server)) {
        // It goes on without a port it could not bind ("Unable to startup network port").
        bool portTaken = ServerLog(*server).find("Unable to startup") != std::string::npos;
        if (portTaken || AwaitEnd(&server->process, std::chrono::seconds(0)) ||
            Clock::now() > deadline) {
            // At once: this ser2net may hang in its shutdown after SIGTERM.
            if (server->process.pid > 0) {
                kill(server->process.pid, SIGKILL);
            }
            StopServerProcess(&server->process);
            server->failure = "ser2net did not listen on its ports (" + server->process.ended +
                              "); its log:\n" + ServerLog(*server);
            return false;
        }
        Pause();
    }
    return true;
}

// One try on fresh ports: false when ser2net did not come up on them.
bool TrySer2net(const ServerOptions& options, NetworkServer* server) {
    server->ports = FreePorts(options);
    server->failure.clear();
    if (!WriteFileBytes(server->configPath, Ser2netConfig(options, server->ports))) {
        server->failure = "cannot write " + server->configPath;
        return false;
    }
    // -d: foreground, log on standard output; -u: no UUCP lock files; no pid file without -P.
    std::vector<std::string> argv{SER2NET, "-d", "-u", "-c", server->configPath};
    if (!options.user.empty()) {
        size_t colon = options.user.find(':');
        argv.insert(argv.begin(), {SETPRIV, "--reuid=" + options.user.substr(0, colon),
                                   "--regid=" + options.user.substr(colon + 1), "--clear-groups"});
    }
    server->process =
        Spawn(argv, ModemLinesEnvironment(options, server), {server->logPath, "", nullptr});
    if (server->process.pid < 0) {
        server->failure = "cannot start ser2net: " + std::string(std::strerror(errno));
        return false;
    }
    return AwaitSer2net(server);
}

}  // namespace

NetworkServer StartSer2net(const ServerOptions& options) {
    NetworkServer server;
    server.kind = ServerKind::Ser2net;
    server.host = options.host;
    server.configPath = options.dir + "/ser2net.yaml";
    server.logPath = options.dir + "/ser2net.log";
    server.failure = ServerUnavailable(ServerKind::Ser2net);
    if (server.failure.empty()) {
        // Another port when one of ours was taken between FreeLoopbackPort and ser2net's bind.
        for (int attempt = 0; attempt < SER2NET_ATTEMPTS && !TrySer2net(options, &server);) {
            ++attempt;
        }
    }
    return server;
}

// ---- the pyserial server ----

namespace {

// Reads the first line of standard output, at most until the deadline.
std::string ReadReadyLine(int fd, Clock::time_point deadline) {
    std::string line;
    while (line.find('\n') == std::string::npos && Clock::now() < deadline) {
        pollfd ready{fd, POLLIN, 0};
        if (poll(&ready, 1, 100) <= 0) {
            continue;
        }
        char buffer[256];
        ssize_t got = read(fd, buffer, sizeof buffer);
        if (got <= 0) {
            break;
        }
        line.append(buffer, static_cast<size_t>(got));
    }
    return line;
}

// "ready 4001 4002\n" into the ports; false when it is not that line.
bool ParseReadyLine(const std::string& line, std::vector<ServedPort>* ports) {
    std::istringstream words(line);
    std::string ready;
    words >> ready;
    for (ServedPort& port : *ports) {
        words >> port.rfc2217Port;
    }
    return ready == "ready" && !words.fail() && line.ends_with("\n");
}

}  // namespace

NetworkServer StartPyserialServer(const ServerOptions& options) {
    NetworkServer server;
    server.kind = ServerKind::Pyserial;
    server.host = options.host;
    server.logPath = options.dir + "/pyserial.log";
    server.failure = ServerUnavailable(ServerKind::Pyserial);
    if (!server.failure.empty()) {
        return server;
    }
    std::vector<std::string> argv{PyserialPython(), TARNIX_RFC2217_SERVER_SCRIPT, "--host",
                                  options.host};
    for (const std::string& pty : options.ptyPaths) {
        argv.push_back(pty);
        server.ports.push_back({pty, 0, 0});
    }
    int out = -1;
    server.process =
        Spawn(argv, ModemLinesEnvironment(options, &server), {server.logPath, "", &out});
    std::string line = out >= 0 ? ReadReadyLine(out, Clock::now() + START_LIMIT) : "";
    if (out >= 0) {
        close(out);
    }
    if (!ParseReadyLine(line, &server.ports)) {
        StopServerProcess(&server.process);
        server.failure = "the pyserial server did not get ready (" + server.process.ended +
                         "), printed \"" + line + "\"; its log:\n" + ServerLog(server);
    }
    return server;
}

}  // namespace tarnix
