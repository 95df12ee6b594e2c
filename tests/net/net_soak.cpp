// The soak of the ports' bounds: tarnix against far sides that misbehave at random, driven by
// seeds. A fault-injecting server (the fake RFC 2217 server of network_servers.h, also as a
// plain TCP port) floods data, IAC NOP or subnegotiations, answers settings late, never, twice
// or wrongly, stops reading, falls silent or closes at a random byte; the emulated module on its
// pseudo-terminal rejects, falls silent, answers late, sends extra bytes or hangs up. Some runs
// get a Ctrl-C (SIGINT) at a random moment. Every run is checked: it ends within its deadline
// plus one second, its peak memory stays under 20 MB, its exit status tells the truth, the
// module is released (Finish) where the port was open, and a Ctrl-C is honoured within 0.5 s.
// The time bounds are generous: they catch hangs, not slowness.
//
// Usage: net_soak [--runs N] [--seed S] [--budget SECONDS]. Exit status 0 when every run passed.
// scripts/test runs it after the ctest suites of the normal build (not under the sanitizers,
// whose memory would not fit the bound).

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "module_process.h"
#include "network_servers.h"
#include "run_against_module.h"
#include "update_file_builder.h"

using namespace tarnix;

namespace {

using Clock = std::chrono::steady_clock;

constexpr long PEAK_MEMORY_KB = 20 * 1024;
constexpr double SLACK_S = 1.0;
constexpr double INTERRUPT_S = 0.5;
// The port's bounds (network_link.h, the serial port's reply time-out).
constexpr double OPEN_S = 3 + 3, REPLY_S = 5, WRITE_S = 5, CLOSE_S = 2;

struct Scenario {
    std::string fault;  // for the counts
    bool onModule = false;
    FakeServerOptions server;
    std::vector<std::string> moduleArgs;
    int hangUpAfterMs = -1;  // the module killed (its pseudo-terminal hung up)
    bool lineMode = true;
    int interruptAfterMs = -1;
    bool finishMustArrive = true;  // where the far side still reads at the end
    bool mayHoldClose = false;     // the far side may make the close wait its bound
    bool mayHoldWrite = false;     // the far side may make a write wait its bound
};

struct Outcome {
    int exitCode = -1;
    int termSignal = 0;
    double seconds = 0;
    long peakKb = 0;
    std::string out, err;
};

template <typename T>
T Pick(std::mt19937* rng, std::initializer_list<T> values) {
    std::uniform_int_distribution<size_t> index(0, values.size() - 1);
    return *(values.begin() + index(*rng));
}

int Between(std::mt19937* rng, int low, int high) {
    return std::uniform_int_distribution<int>(low, high)(*rng);
}

FakeWhen AnyTime(std::mt19937* rng, FakeServerOptions* o) {
    o->faultAfterDataBytes = static_cast<size_t>(Between(rng, 1, 120));
    return Pick(rng, {FakeWhen::Connect, FakeWhen::AfterSettings, FakeWhen::AfterDataBytes,
                      FakeWhen::AfterFinish});
}

void Flood(std::mt19937* rng, Scenario* s) {
    FakeServerOptions& o = s->server;
    o.flood = o.rawTcp ? FakeFlood::Data
                       : Pick(rng, {FakeFlood::Data, FakeFlood::Nop, FakeFlood::Notifications,
                                    FakeFlood::EndlessSubnegotiation, FakeFlood::BinaryToggles});
    o.floodWhen = AnyTime(rng, &o);
    o.floodBytes = Between(rng, 0, 1) ? 0 : static_cast<size_t>(Between(rng, 1, 100000));
    const char* kinds[] = {
        "", "data", "IAC NOP", "notifications", "endless subnegotiation", "BINARY toggles"};
    s->fault = std::string("flood of ") + kinds[static_cast<int>(o.flood)];
    s->mayHoldClose = true;
}

void AcknowledgementFault(std::mt19937* rng, Scenario* s) {
    FakeServerOptions& o = s->server;
    o.ackFault = Pick(rng, {FakeAckFault::Late, FakeAckFault::Missing, FakeAckFault::WrongParity,
                            FakeAckFault::Duplicate});
    o.ackDelayMs = Between(rng, 0, 3500);
    const char* kinds[] = {"", "late", "missing", "wrong", "doubled"};
    s->fault = std::string("acknowledgements ") + kinds[static_cast<int>(o.ackFault)];
    s->mayHoldClose = o.ackFault == FakeAckFault::Late || o.ackFault == FakeAckFault::Missing;
}

Scenario ServerScenario(std::mt19937* rng) {
    Scenario s;
    FakeServerOptions& o = s.server;
    o.mode = FakeMode::Answers;
    o.rawTcp = Between(rng, 0, 3) == 0;
    switch (Between(rng, 0, o.rawTcp ? 4 : 6)) {
        case 0:
            s.fault = "none";
            break;
        case 1:
            Flood(rng, &s);
            break;
        case 2:
            o.stopsReading = true;
            o.stopWhen = AnyTime(rng, &o);
            s.fault = "stops reading";
            s.finishMustArrive = false;
            s.mayHoldClose = s.mayHoldWrite = true;
            break;
        case 3:
            o.silent = true;
            o.stopWhen = AnyTime(rng, &o);
            s.fault = "silence";
            break;
        case 4:
            o.closeAfterBytes = static_cast<size_t>(Between(rng, 1, 400));
            s.fault = "close at a random byte";
            s.finishMustArrive = false;
            break;
        default:
            AcknowledgementFault(rng, &s);
            break;
    }
    s.fault = (o.rawTcp ? "socket: " : "rfc2217: ") + s.fault;
    return s;
}

Scenario ModuleScenario(std::mt19937* rng) {
    Scenario s;
    s.onModule = true;
    std::string command = Pick<std::string>(rng, {"data", "start", "end", "program"});
    std::string nth = std::to_string(Between(rng, 1, 4));
    int fault = Between(rng, 0, 5);
    const char* names[] = {"module: none",        "module: rejection",  "module: silence",
                           "module: extra bytes", "module: late reply", "module: hang-up"};
    s.fault = names[fault];
    if (fault == 1) {
        s.moduleArgs = {"--reject", command + ":" + nth + ":15"};
    } else if (fault == 2) {
        s.moduleArgs = {"--silent", command + ":" + nth};
    } else if (fault == 3) {
        s.moduleArgs = {"--extra", command + ":" + nth + ":06,15,02"};
    } else if (fault == 4) {
        s.moduleArgs = {"--late",
                        command + ":" + nth + ":" + std::to_string(Between(rng, 0, 3000))};
    } else if (fault == 5) {
        s.hangUpAfterMs = Between(rng, 0, 300);
        s.finishMustArrive = false;
    }
    return s;
}

Scenario Draw(std::mt19937* rng) {
    Scenario s = Between(rng, 0, 3) == 0 ? ModuleScenario(rng) : ServerScenario(rng);
    s.lineMode = Between(rng, 0, 1) == 0;
    if (Between(rng, 0, 2) == 0) {
        s.lineMode = true;  // its way out is Finish alone: no End to wait for
        s.interruptAfterMs = Between(rng, 0, 2500);
    }
    return s;
}

// What the way out after a Ctrl-C may wait for: a write the far side does not take, a close it
// does not answer.
double WayOutSeconds(const Scenario& s) {
    return (s.mayHoldWrite ? WRITE_S : 0) + (s.mayHoldClose ? CLOSE_S : 0);
}

// The run's deadline: every wait that the fault can make it sit out, each at its bound.
double Deadline(const Scenario& s) {
    double waits = s.lineMode ? 1 : 2;  // line mode stops at the first failure; record sends End
    double natural =
        (s.onModule ? 0 : OPEN_S) + waits * REPLY_S + 3.0 + (s.onModule ? 0 : WRITE_S + CLOSE_S);
    if (s.interruptAfterMs < 0) {
        return natural;
    }
    return std::min(natural, s.interruptAfterMs / 1000.0 + INTERRUPT_S + WayOutSeconds(s));
}

std::string ReadFile(const std::string& path) {
    return ReadFileBytes(path);
}

// Starts tarnix with standard input on /dev/null and its output in the two files. Everything the
// child needs is made before fork(): the fake server's thread may hold the allocator's lock.
pid_t StartTarnix(const std::vector<std::string>& args, const std::string& out,
                  const std::string& err) {
    std::vector<char*> argv;
    for (const std::string& arg : args) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        dup2(open("/dev/null", O_RDONLY), 0);
        dup2(open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 1);
        dup2(open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
        execv(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

// Runs tarnix, sends the interrupt at its moment, and takes its rusage at its end.
Outcome RunTarnix(const std::vector<std::string>& args, const Scenario& s, const std::string& dir,
                  double hardLimitS) {
    std::string out = dir + "/out", err = dir + "/err";
    auto start = Clock::now();
    pid_t pid = StartTarnix(args, out, err);
    bool interrupted = false;
    int status = 0;
    rusage usage{};
    while (wait4(pid, &status, WNOHANG, &usage) != pid) {
        double now = std::chrono::duration<double>(Clock::now() - start).count();
        if (!interrupted && s.interruptAfterMs >= 0 && now * 1000 >= s.interruptAfterMs) {
            kill(pid, SIGINT);
            interrupted = true;
        }
        if (now > hardLimitS) {
            kill(pid, SIGKILL);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    Outcome outcome;
    outcome.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    outcome.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    outcome.termSignal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    outcome.peakKb = usage.ru_maxrss;
    outcome.out = ReadFile(out);
    outcome.err = ReadFile(err);
    return outcome;
}

bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// What is wrong with the run; empty when nothing.
std::string Judge(const Scenario& s, const Outcome& o, double deadline, bool finished, bool whole) {
    bool opened = Has(o.out, "Opened ");
    std::string wrong;
    bool interruptCame = s.interruptAfterMs >= 0 && o.seconds * 1000 > s.interruptAfterMs;
    // A Ctrl-C before the handlers are in place ends the program as the system does.
    bool endedByInterrupt = o.termSignal == SIGINT && interruptCame;
    if ((o.termSignal != 0 || o.exitCode < 0) && !endedByInterrupt) {
        wrong += " ended by signal " + std::to_string(o.termSignal) + ";";
    }
    if (o.seconds > deadline + SLACK_S) {
        wrong += " took " + std::to_string(o.seconds) + " s, deadline " + std::to_string(deadline) +
                 " s;";
    }
    if (o.peakKb >= PEAK_MEMORY_KB) {
        wrong += " peak memory " + std::to_string(o.peakKb) + " KB;";
    }
    bool truthful = endedByInterrupt || (o.exitCode == 0 && opened && whole) ||
                    (o.exitCode == 2 && !opened) || (o.exitCode == 130 && interruptCame) ||
                    (o.exitCode == 1 && opened && !whole);
    if (!truthful) {
        wrong += " exit status " + std::to_string(o.exitCode) + (opened ? " (opened)" : "") +
                 (whole ? " (update whole)" : "") + ";";
    }
    if (opened && s.finishMustArrive && !finished) {
        wrong += " the module was not released (no Finish);";
    }
    return wrong;
}

std::string WriteFiles(const std::string& dir, bool lineMode) {
    if (lineMode) {
        std::string path = dir + "/lines.txt";
        WriteFileBytes(path, "first line\r\nsecond line\r\nthird line\r\n");
        return path;
    }
    std::vector<std::string> lines = MakeRecordLines(0x1000, PatternBytes(20 * 16, 3));
    lines.push_back(MakeEndRecord());
    std::string path = dir + "/records.upd";
    WriteFileBytes(path, BuildUpdateFile(256, lines));
    return path;
}

// A run against the emulated module on its pseudo-terminal, killed (hung up) where the scenario
// says.
std::string RunOnModule(const Scenario& s, std::vector<std::string> args, const std::string& dir,
                        Outcome* outcome) {
    std::vector<std::string> moduleArgs = s.moduleArgs;
    moduleArgs.push_back("--no-record-check");
    ModuleProcess module = StartModule(dir, moduleArgs);
    args.push_back(module.port);
    std::thread hangUp;
    if (s.hangUpAfterMs >= 0) {
        hangUp = std::thread([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(s.hangUpAfterMs));
            kill(module.process.pid, SIGKILL);
        });
    }
    *outcome = RunTarnix(args, s, dir, Deadline(s) + 30);
    if (hangUp.joinable()) {
        hangUp.join();
    }
    FinishModule(&module, true);
    const std::string& verdict = module.verdict;
    bool whole = s.lineMode ? Has(verdict, "Data 3,") && !Has(verdict, "rejected with") &&
                                  !Has(verdict, "unanswered")
                            : Has(verdict, "verdict: PASS");
    if (!Has(verdict, "frames:")) {
        // Killed before it could give a verdict: only what tarnix was answered can be judged.
        whole = Has(outcome->err, "tarnix: completed");
    }
    return Judge(s, *outcome, Deadline(s), Has(verdict, "Finish 1"), whole);
}

// A run against the fake server, judged by what the server received.
std::string RunOnServer(const Scenario& s, std::vector<std::string> args, const std::string& dir,
                        Outcome* outcome) {
    FakeRfc2217Server server = StartFakeServer(s.server);
    if (!server.failure.empty()) {
        return " " + server.failure;
    }
    args.push_back(s.server.rawTcp ? SocketUrl(server.host, server.port) : Rfc2217Url(server));
    *outcome = RunTarnix(args, s, dir, Deadline(s) + 30);
    FakeServerLog log = FakeServerReceived(server);
    StopFakeServer(&server);
    bool finished = Has(log.data, std::string("\x02") + "F\x89\x03");
    std::string last = s.lineMode ? "third line" : std::string("\x02") + "E\x89\x03";
    // A server that stops reading answers blindly: only what tarnix was answered can be judged.
    bool claimed = Has(outcome->err, "tarnix: completed");
    bool whole = s.server.stopsReading ? claimed : finished && Has(log.data, last) && claimed;
    return Judge(s, *outcome, Deadline(s), finished, whole);
}

// One seeded run; its verdict and figures.
std::string RunOnce(const Scenario& s, const std::string& dir, Outcome* outcome) {
    std::string file = WriteFiles(dir, s.lineMode);
    std::vector<std::string> args = {BinaryPath("tarnix"), "0x89", file, s.lineMode ? "1" : "0"};
    return s.onModule ? RunOnModule(s, args, dir, outcome) : RunOnServer(s, args, dir, outcome);
}

}  // namespace

namespace {

struct SoakOptions {
    int runs = 40;
    unsigned seed = 1;
    double budget = 75;
};

SoakOptions ParseOptions(int argc, char** argv) {
    SoakOptions options;
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string option = argv[i];
        if (option == "--runs") {
            options.runs = std::atoi(argv[i + 1]);
        } else if (option == "--seed") {
            options.seed = static_cast<unsigned>(std::atol(argv[i + 1]));
        } else if (option == "--budget") {
            options.budget = std::atof(argv[i + 1]);
        }
    }
    return options;
}

struct Tally {
    std::map<std::string, int> tried;
    int done = 0;
    int failed = 0;
    double longestOverrun = -1e9;
    double slowestInterrupt = 0;  // from the Ctrl-C to the end, less what the way out may take
    long peakKb = 0;
};

void Count(const Scenario& s, const Outcome& outcome, bool passed, Tally* tally) {
    ++tally->done;
    tally->failed += passed ? 0 : 1;
    ++tally->tried[s.fault + (s.interruptAfterMs >= 0 ? " + Ctrl-C" : "")];
    tally->longestOverrun = std::max(tally->longestOverrun, outcome.seconds - Deadline(s));
    if (s.interruptAfterMs >= 0 && outcome.exitCode == 130) {
        tally->slowestInterrupt =
            std::max(tally->slowestInterrupt,
                     outcome.seconds - s.interruptAfterMs / 1000.0 - WayOutSeconds(s));
    }
    tally->peakKb = std::max(tally->peakKb, outcome.peakKb);
}

void PrintTally(const Tally& tally) {
    printf("soak: faults tried:\n");
    for (const auto& [fault, count] : tally.tried) {
        printf("  %-40s %d\n", fault.c_str(), count);
    }
    printf(
        "soak: longest overrun past a run's deadline: %.2f s (allowed %.1f s); slowest Ctrl-C, "
        "beyond what its way out may wait: %.2f s (allowed %.1f s); peak memory %ld KB "
        "(allowed %ld KB)\n",
        tally.longestOverrun, SLACK_S, tally.slowestInterrupt, INTERRUPT_S + SLACK_S, tally.peakKb,
        PEAK_MEMORY_KB);
    printf("%d passed, %d failed\n", tally.done - tally.failed, tally.failed);
}

}  // namespace

int main(int argc, char** argv) {
    SoakOptions options = ParseOptions(argc, argv);
    signal(SIGPIPE, SIG_IGN);
    Tally tally;
    auto start = Clock::now();
    for (int run = 0; run < options.runs; ++run) {
        if (std::chrono::duration<double>(Clock::now() - start).count() > options.budget) {
            break;
        }
        unsigned seed = options.seed + static_cast<unsigned>(run);
        std::mt19937 rng(seed);
        Scenario s = Draw(&rng);
        std::string dir = MakeTempDir();
        Outcome outcome;
        std::string wrong = RunOnce(s, dir, &outcome);
        std::system(("rm -rf '" + dir + "'").c_str());
        Count(s, outcome, wrong.empty(), &tally);
        if (!wrong.empty()) {
            printf("FAIL seed %u (%s):%s\n  stdout: %s\n  stderr: %s\n", seed, s.fault.c_str(),
                   wrong.c_str(), outcome.out.c_str(), outcome.err.c_str());
        }
    }
    PrintTally(tally);
    return tally.failed == 0 ? 0 : 1;
}
