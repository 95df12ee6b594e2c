// Win32 processes for tarnix-fleet: CreateProcess with the log as standard output and error, in
// a process group of its own, so that the fleet alone sees the console's Ctrl-C and passes it
// on to each tarnix as a Ctrl-Break (the one console event a process group can be sent).

// winsock2.h before windows.h, which would bring the old winsock.h.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>

#include <csignal>
#include <set>
#include <string>

#include "exit_status.h"
#include "fleet_process.h"

namespace tarnix {

// Older MinGW headers lack it; the value is fixed by the console API.
#ifndef ENABLE_VIRTUAL_TERMINAL_PROCESSING
#define ENABLE_VIRTUAL_TERMINAL_PROCESSING 0x0004
#endif

namespace {

volatile LONG g_stopSignals = 0;
volatile LONG g_lastStopSignal = 0;

BOOL WINAPI OnConsoleEvent(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) {
        return FALSE;
    }
    InterlockedExchange(&g_lastStopSignal, event == CTRL_C_EVENT ? SIGINT : SIGTERM);
    InterlockedIncrement(&g_stopSignals);
    if (event == CTRL_CLOSE_EVENT) {
        // Windows ends the process as soon as this returns (at the latest after 5 s): the
        // main thread passes the stop on and ends the process meanwhile, as after a Ctrl-C.
        Sleep(INFINITE);
    }
    return TRUE;
}

std::string LastErrorText(const char* what) {
    return std::string(what) + " failed with error " + std::to_string(GetLastError()) + ".";
}

// One argument quoted as the C runtime splits a command line: backslashes are literal except
// before a quote.
std::string QuotedArgument(const std::string& arg) {
    if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) {
        return arg;
    }
    std::string quoted = "\"";
    size_t backslashes = 0;
    for (char c : arg) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(2 * backslashes, '\\');
    return quoted + "\"";
}

HANDLE OpenInheritable(const std::string& path, bool forWriting) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    return CreateFileA(path.c_str(), forWriting ? GENERIC_WRITE : GENERIC_READ,
                       FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                       forWriting ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

HANDLE ProcessHandle(const FleetProcess& process) {
    return reinterpret_cast<HANDLE>(static_cast<intptr_t>(process.id));
}

}  // namespace

bool StartLoggedProcess(const std::string& program, const std::vector<std::string>& args,
                        const std::string& logPath, FleetProcess* process, std::string* error) {
    HANDLE log = OpenInheritable(logPath, true);
    if (log == INVALID_HANDLE_VALUE) {
        *error = LastErrorText(("CreateFile " + logPath).c_str());
        return false;
    }
    HANDLE nul = OpenInheritable("NUL", false);
    std::string commandLine = QuotedArgument(program);
    for (const std::string& arg : args) {
        // Two appends: GCC 12 sees a false overlap in " " + text at -O2 (-Wrestrict).
        commandLine += ' ';
        commandLine += QuotedArgument(arg);
    }
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nul;
    startup.hStdOutput = log;
    startup.hStdError = log;
    PROCESS_INFORMATION info{};
    BOOL started = CreateProcessA(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                                  CREATE_NEW_PROCESS_GROUP, nullptr, nullptr, &startup, &info);
    if (!started) {
        *error = LastErrorText(("CreateProcess " + program).c_str());
    }
    CloseHandle(log);
    if (nul != INVALID_HANDLE_VALUE) {
        CloseHandle(nul);
    }
    if (!started) {
        return false;
    }
    CloseHandle(info.hThread);
    process->id = static_cast<long long>(reinterpret_cast<intptr_t>(info.hProcess));
    return true;
}

bool ProcessEnded(FleetProcess* process, int* exitStatus) {
    if (process->id < 0) {
        return true;
    }
    HANDLE handle = ProcessHandle(*process);
    if (WaitForSingleObject(handle, 0) == WAIT_TIMEOUT) {
        return false;
    }
    DWORD code = 0;
    *exitStatus = GetExitCodeProcess(handle, &code) ? static_cast<int>(code) : -1;
    CloseHandle(handle);
    process->id = -1;
    return true;
}

void InterruptProcess(const FleetProcess& process, int) {
    if (process.id >= 0) {
        GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, GetProcessId(ProcessHandle(process)));
    }
}

void CatchStopSignals() {
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

int StopSignalCount() {
    return static_cast<int>(g_stopSignals);
}

int LastStopSignal() {
    return static_cast<int>(g_lastStopSignal);
}

std::string OwnExecutableDirectory() {
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    std::string self(path, length);
    size_t slash = self.find_last_of("\\/");
    return slash == std::string::npos ? "." : self.substr(0, slash);
}

std::string ExecutableFileName(const std::string& baseName) {
    return baseName + ".exe";
}

// Only a console that understands the redraw sequences counts as a terminal.
bool OutputIsTerminal() {
    HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    return GetConsoleMode(output, &mode) &&
           SetConsoleMode(output, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
}

void PauseMilliseconds(int milliseconds) {
    Sleep(static_cast<DWORD>(milliseconds));
}

bool FileExists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool MakeFolder(const std::string& path, bool mayExist, std::string* error) {
    if (CreateDirectoryA(path.c_str(), nullptr)) {
        return true;
    }
    DWORD lastError = GetLastError();
    DWORD attributes = GetFileAttributesA(path.c_str());
    if (lastError == ERROR_ALREADY_EXISTS && mayExist && attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return true;
    }
    *error = "CreateDirectory " + path + " failed with error " + std::to_string(lastError) + ".";
    return false;
}

void SetInheritedVariable(const char* name, const char* value) {
    SetEnvironmentVariableA(name, value);
}

std::string HostName() {
    char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = sizeof name;
    return GetComputerNameA(name, &size) ? std::string(name, size) : std::string();
}

std::string UserName() {
    char name[257] = {};  // UNLEN + 1
    DWORD size = sizeof name;
    // size counts the terminating zero here.
    return GetUserNameA(name, &size) && size > 0 ? std::string(name, size - 1) : std::string();
}

std::vector<std::string> HostAddresses(const std::string& host) {
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) {
        return {};
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    std::set<std::string> addresses;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &found) == 0) {
        for (const addrinfo* entry = found; entry != nullptr; entry = entry->ai_next) {
            char text[NI_MAXHOST] = "";
            if (getnameinfo(entry->ai_addr, static_cast<socklen_t>(entry->ai_addrlen), text,
                            sizeof text, nullptr, 0, NI_NUMERICHOST) == 0) {
                addresses.insert(text);
            }
        }
        freeaddrinfo(found);
    }
    WSACleanup();
    return {addresses.begin(), addresses.end()};
}

}  // namespace tarnix
