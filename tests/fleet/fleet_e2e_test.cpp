// tarnix-fleet end to end: the real fleet, running the real tarnix beside it, against several
// emulated modules, each a tarnix-module process on its own pseudo-terminal.

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "fleet_status.h"
#include "module_process.h"
#include "python_json.h"
#include "run_against_module.h"
#include "temp_dir_test.h"
#include "update_file_builder.h"

using namespace tarnix;

namespace {

using Clock = std::chrono::steady_clock;

const std::string EXAMPLE = TARNIX_SOURCE_DIR "/examples/display-config.upd";

// The report's entry for one port: the text from its "port" key to the end of its object.
std::string ReportEntry(const std::string& report, const std::string& port) {
    size_t at = report.find("{\"port\": \"" + port + "\"");
    return at == std::string::npos ? "" : report.substr(at, report.find('}', at) - at + 1);
}

// A JSON reader that only says whether the text is one well-formed value.
bool SkipJsonValue(const std::string& text, size_t* at);

void SkipSpace(const std::string& text, size_t* at) {
    *at = std::min(text.size(), text.find_first_not_of(" \t\r\n", *at));
}

// After a backslash: one of "\/bfnrt, or u and four hex digits.
bool IsJsonEscape(const std::string& text, size_t at) {
    if (at < text.size() && std::string("\"\\/bfnrt").find(text[at]) != std::string::npos) {
        return true;
    }
    return at + 4 < text.size() && text[at] == 'u' &&
           text.substr(at + 1, 4).find_first_not_of("0123456789abcdefABCDEF") == std::string::npos;
}

bool SkipJsonString(const std::string& text, size_t* at) {
    for (++*at; *at < text.size(); ++*at) {
        unsigned char c = static_cast<unsigned char>(text[*at]);
        if (c == '"') {
            ++*at;
            return true;
        }
        if (c < 0x20 || (c == '\\' && !IsJsonEscape(text, ++*at))) {
            return false;
        }
    }
    return false;
}

// -, digits, then maybe a fraction and an exponent; "nan" or "inf" are no JSON.
bool SkipJsonNumber(const std::string& text, size_t* at) {
    auto digits = [&text, at] {
        size_t from = *at;
        *at = std::min(text.size(), text.find_first_not_of("0123456789", *at));
        return *at > from;
    };
    auto skip = [&text, at](const char* chars) {
        bool found = *at < text.size() && text[*at] != 0 && strchr(chars, text[*at]) != nullptr;
        *at += found ? 1 : 0;
        return found;
    };
    skip("-");
    if (!digits() || (skip(".") && !digits())) {
        return false;
    }
    if (skip("eE")) {
        skip("+-");
        return digits();
    }
    return true;
}

// An object or an array from its opening bracket: members (`keyed`: "key": value) up to
// `close`.
bool SkipJsonMembers(const std::string& text, size_t* at, char close, bool keyed) {
    ++*at;
    SkipSpace(text, at);
    if (*at < text.size() && text[*at] == close) {
        ++*at;
        return true;
    }
    for (;;) {
        SkipSpace(text, at);
        if (keyed) {
            if (*at >= text.size() || text[*at] != '"' || !SkipJsonString(text, at)) {
                return false;
            }
            SkipSpace(text, at);
            if (*at >= text.size() || text[(*at)++] != ':') {
                return false;
            }
        }
        if (!SkipJsonValue(text, at)) {
            return false;
        }
        SkipSpace(text, at);
        if (*at >= text.size() || (text[*at] != ',' && text[*at] != close)) {
            return false;
        }
        if (text[(*at)++] == close) {
            return true;
        }
    }
}

bool SkipJsonValue(const std::string& text, size_t* at) {
    SkipSpace(text, at);
    if (*at >= text.size()) {
        return false;
    }
    switch (text[*at]) {
        case '{':
            return SkipJsonMembers(text, at, '}', true);
        case '[':
            return SkipJsonMembers(text, at, ']', false);
        case '"':
            return SkipJsonString(text, at);
    }
    for (const char* word : {"true", "false", "null"}) {
        if (text.compare(*at, strlen(word), word) == 0) {
            *at += strlen(word);
            return true;
        }
    }
    return SkipJsonNumber(text, at);
}

bool IsJson(const std::string& text) {
    size_t at = 0;
    bool value = SkipJsonValue(text, &at);
    SkipSpace(text, &at);
    return value && at == text.size();
}

class Fleet : public TempDirTest {
protected:
    std::vector<std::string> FleetCommand(const std::string& file,
                                          const std::vector<ModuleProcess>& modules) {
        std::vector<std::string> command{
            BinaryPath("tarnix-fleet"), "--log-dir", dir_ + "/logs", "--json",
            dir_ + "/report.json",      file};
        for (const ModuleProcess& module : modules) {
            command.push_back(module.port);
        }
        return command;
    }

    // Runs the fleet to its end.
    static ProgramRun RunFleet(const std::vector<std::string>& command) {
        ProgramLaunch launch;
        launch.program = command[0];
        launch.args.assign(command.begin() + 1, command.end());
        launch.timeLimitSeconds = 120;
        return RunProgram(launch);
    }
};

TEST_F(Fleet, UpdatesEightModulesAndReportsTheOneThatRejected) {
    std::vector<ModuleProcess> modules;
    for (int i = 0; i < 8; ++i) {
        std::vector<std::string> args{"--expect", EXAMPLE};
        if (i == 5) {
            args.insert(args.end(), {"--reject", "data:5:15"});
        }
        modules.push_back(StartModule(dir_, args));
    }
    ProgramRun fleet = RunFleet(FleetCommand(EXAMPLE, modules));
    EXPECT_EQ(fleet.exitCode, 1) << DescribeRun(fleet);
    std::string report = ReadFileBytes(dir_ + "/report.json");
    for (int i = 0; i < 8; ++i) {
        ModuleProcess& module = modules[static_cast<size_t>(i)];
        FinishModule(&module);
        std::string entry = ReportEntry(report, module.port);
        bool rejected = i == 5;
        EXPECT_EQ(module.exitStatus, rejected ? 1 : 0) << module.verdict;
        EXPECT_NE(entry.find(rejected ? "\"outcome\": \"failed\", \"exit_status\": 1"
                                      : "\"outcome\": \"completed\", \"exit_status\": 0"),
                  std::string::npos)
            << entry << "\n"
            << report;
        // The rejecting module's reason; every other module received the image whole.
        EXPECT_NE(
            rejected
                ? entry.find("\"reason\": \"the Data command for line 5 was rejected with 0x15\"")
                : module.verdict.find("image arrived whole"),
            std::string::npos)
            << entry << "\n"
            << module.verdict;
        std::string log = ReadFileBytes(dir_ + "/logs/" + PortLogName(module.port));
        EXPECT_NE(log.find("Loading : 115300 Byte"), std::string::npos)
            << "no log for " << module.port;
    }
}

TEST_F(Fleet, RefusesADamagedFileWithoutSendingAnything) {
    std::vector<std::string> lines{MakeDataRecord(0, PatternBytes(16, 1)),
                                   MakeDataRecord(16, PatternBytes(16, 2)), MakeEndRecord()};
    lines[1].back() = lines[1].back() == '0' ? '1' : '0';  // record checksum of line 2
    std::string damaged = Write("damaged.upd", BuildUpdateFile(256, lines));
    std::vector<ModuleProcess> modules{StartModule(dir_, {})};
    ProgramRun fleet = RunFleet(FleetCommand(damaged, modules));
    EXPECT_EQ(fleet.exitCode, 1) << DescribeRun(fleet);
    EXPECT_NE((fleet.stdoutText + fleet.stderrText).find("line 2: record checksum"),
              std::string::npos)
        << DescribeRun(fleet);
    FinishModule(&modules[0], true);
    EXPECT_NE(modules[0].verdict.find("frames: 0 "), std::string::npos) << modules[0].verdict;
    EXPECT_EQ(ReadFileBytes(dir_ + "/logs/" + PortLogName(modules[0].port)), "");
}

// "03" once went to tarnix, which read "0" and fell back to COM1.
TEST_F(Fleet, RefusesAPortThatTarnixWouldMisreadBeforeTouchingAny) {
    std::vector<ModuleProcess> modules{StartModule(dir_, {})};
    std::vector<std::string> command = FleetCommand(EXAMPLE, modules);
    command.push_back("03");
    ProgramRun fleet = RunFleet(command);
    EXPECT_EQ(fleet.exitCode, 64) << DescribeRun(fleet);
    EXPECT_NE(fleet.stderrText.find("'03' is no port"), std::string::npos) << fleet.stderrText;
    FinishModule(&modules[0], true);
    EXPECT_NE(modules[0].verdict.find("frames: 0 "), std::string::npos) << modules[0].verdict;
}

TEST_F(Fleet, NoPortOpenedExitsTwo) {
    std::vector<std::string> command = FleetCommand(EXAMPLE, {});
    command.push_back("/nonexistent/tty0");
    ProgramRun fleet = RunFleet(command);
    EXPECT_EQ(fleet.exitCode, 2) << DescribeRun(fleet);
    EXPECT_NE(ReadFileBytes(dir_ + "/report.json").find("\"outcome\": \"not-opened\""),
              std::string::npos);
}

// "--json -": standard output holds the report alone, for a pipe into a JSON reader; the port
// lines stay off it and the table goes to standard error.
TEST_F(Fleet, ReportOnStandardOutputIsTheReportAlone) {
    std::vector<ModuleProcess> modules{StartModule(dir_, {"--expect", EXAMPLE})};
    std::vector<std::string> command = FleetCommand(EXAMPLE, modules);
    command[4] = "-";  // the value of --json
    ProgramRun fleet = RunFleet(command);
    FinishModule(&modules[0]);
    EXPECT_EQ(fleet.exitCode, 0) << DescribeRun(fleet);
    EXPECT_TRUE(IsJson(fleet.stdoutText)) << fleet.stdoutText;
    EXPECT_NE(ReportEntry(fleet.stdoutText, modules[0].port).find("\"outcome\": \"completed\""),
              std::string::npos)
        << fleet.stdoutText;
    EXPECT_NE(fleet.stderrText.find("PORT "), std::string::npos) << fleet.stderrText;
}

// A port name that is not UTF-8 once made the whole report unreadable to any JSON parser.
TEST_F(Fleet, ReportIsValidUtf8AndGivesBackAPortNameThatIsNot) {
    if (!PythonAvailable()) {
        GTEST_SKIP() << "python3 is not installed";
    }
    const std::string port = "/nonexistent/tty\xFF";
    std::vector<std::string> command = FleetCommand(EXAMPLE, {});
    command.push_back(port);
    ProgramRun fleet = RunFleet(command);
    EXPECT_EQ(fleet.exitCode, 2) << DescribeRun(fleet);
    std::string report = ReadFileBytes(dir_ + "/report.json");
    ProgramRun name = BytesFromJsonHex(report, "r['ports'][0]['port_hex']");
    EXPECT_EQ(name.exitCode, 0) << DescribeRun(name) << report;
    EXPECT_EQ(name.stdoutText, port);
}

// "X/x/y" and "X/x_y" once wrote into one log, and one port's output was lost.
TEST_F(Fleet, PortsWhoseLogNamesCollideGetALogEach) {
    std::vector<ModuleProcess> modules{StartModule(dir_, {"--expect", EXAMPLE}),
                                       StartModule(dir_, {"--expect", EXAMPLE})};
    ASSERT_EQ(mkdir((dir_ + "/X").c_str(), 0755), 0);
    ASSERT_EQ(mkdir((dir_ + "/X/x").c_str(), 0755), 0);
    std::vector<std::string> ports{dir_ + "/X/x/y", dir_ + "/X/x_y"};
    std::vector<std::string> command = FleetCommand(EXAMPLE, {});
    for (size_t i = 0; i < ports.size(); ++i) {
        ASSERT_EQ(symlink(modules[i].port.c_str(), ports[i].c_str()), 0) << ports[i];
        command.push_back(ports[i]);
    }
    ProgramRun fleet = RunFleet(command);
    EXPECT_EQ(fleet.exitCode, 0) << DescribeRun(fleet);
    std::string first = PortLogName(ports[0]);
    ASSERT_EQ(first, PortLogName(ports[1]));
    std::vector<std::string> logs{first, first.substr(0, first.size() - 4) + "-2.log"};
    for (size_t i = 0; i < ports.size(); ++i) {
        FinishModule(&modules[i]);
        EXPECT_NE(modules[i].verdict.find("image arrived whole"), std::string::npos)
            << modules[i].verdict;
        std::string log = ReadFileBytes(dir_ + "/logs/" + logs[i]);
        EXPECT_NE(log.find("tarnix: completed: module 0x89 on " + ports[i] + ";"),
                  std::string::npos)
            << logs[i] << ":\n"
            << log;
    }
}

// A port whose path is longer than a file name may be still gets its log, and its update.
TEST_F(Fleet, UpdatesAPortWithALongPath) {
    std::vector<std::string> ports;
    for (size_t length : {249u, 400u}) {
        std::string path = dir_ + "/" + std::to_string(length);
        ASSERT_EQ(mkdir(path.c_str(), 0755), 0) << path;
        while (path.size() + 61 < length) {
            path += "/" + std::string(60, 'd');
            ASSERT_EQ(mkdir(path.c_str(), 0755), 0) << path;
        }
        path += "/" + std::string(length - path.size() - 1, 'p');
        ASSERT_EQ(path.size(), length);
        ports.push_back(path);
    }
    std::vector<ModuleProcess> modules{StartModule(dir_, {"--expect", EXAMPLE}),
                                       StartModule(dir_, {"--expect", EXAMPLE})};
    std::vector<std::string> command = FleetCommand(EXAMPLE, {});
    for (size_t i = 0; i < ports.size(); ++i) {
        EXPECT_EQ(symlink(modules[i].port.c_str(), ports[i].c_str()), 0) << ports[i];
        command.push_back(ports[i]);
    }
    ProgramRun fleet = RunFleet(command);
    EXPECT_EQ(fleet.exitCode, 0) << DescribeRun(fleet);
    for (size_t i = 0; i < ports.size(); ++i) {
        FinishModule(&modules[i], fleet.exitCode != 0);  // a module not reached waits on
        EXPECT_NE(modules[i].verdict.find("image arrived whole"), std::string::npos)
            << modules[i].verdict;
        std::string log = ReadFileBytes(dir_ + "/logs/" + PortLogName(ports[i]));
        EXPECT_NE(log.find("tarnix: completed: module 0x89 on " + ports[i] + ";"),
                  std::string::npos)
            << log;
    }
}

struct FleetInterrupt {
    int signal;
    const char* name;
    bool readerGone;     // the reader of the fleet's output has gone first (a closed terminal)
    bool hangUpIgnored;  // the fleet started with SIGHUP ignored, as nohup starts it
};

void PrintTo(const FleetInterrupt& c, std::ostream* os) {
    *os << c.name;
}

class FleetInterrupts : public Fleet, public testing::WithParamInterface<FleetInterrupt> {
protected:
    Spawned SpawnFleet(const std::vector<ModuleProcess>& modules, bool hangUpIgnored) {
        struct sigaction ignore {};
        struct sigaction saved {};
        ignore.sa_handler = SIG_IGN;
        sigaction(SIGHUP, hangUpIgnored ? &ignore : nullptr, &saved);
        Spawned fleet = Spawn(FleetCommand(EXAMPLE, modules), dir_ + "/fleet.err");
        sigaction(SIGHUP, &saved, nullptr);
        return fleet;
    }

    // Until each update has begun.
    void WaitForProgress(const std::vector<ModuleProcess>& modules) {
        Clock::time_point deadline = Clock::now() + std::chrono::seconds(30);
        for (const ModuleProcess& module : modules) {
            std::string log = dir_ + "/logs/" + PortLogName(module.port);
            while (ReadFileBytes(log).find("Writing User configuration...    1 %") ==
                       std::string::npos &&
                   Clock::now() < deadline) {
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
        }
    }
};

// The fleet passes the signal on to every tarnix, waits for each to release its module, and
// still gives its table and report. Under nohup a SIGHUP stops nothing: the Ctrl-C after it
// does.
TEST_P(FleetInterrupts, PassesTheSignalOnSoThatEveryModuleGetsFinish) {
    const FleetInterrupt& c = GetParam();
    std::vector<ModuleProcess> modules;
    for (int i = 0; i < 2; ++i) {
        // The 100th record goes unanswered, so every update is still running when the signal
        // comes.
        modules.push_back(StartModule(dir_, {"--silent", "data:100"}));
    }
    Spawned fleet = SpawnFleet(modules, c.hangUpIgnored);
    ASSERT_GT(fleet.pid, 0) << "kill() of no process would reach every other one";
    WaitForProgress(modules);
    if (c.readerGone) {
        close(fleet.stdoutPipe);
    }
    kill(fleet.pid, c.signal);
    int passed = c.signal;
    if (c.hangUpIgnored) {
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        kill(fleet.pid, SIGINT);
        passed = SIGINT;
    }
    int exitStatus = WaitFor(fleet.pid, std::chrono::seconds(60));
    std::string output = c.readerGone ? "" : ReadAll(fleet.stdoutPipe);
    EXPECT_EQ(exitStatus, 1) << output << ReadFileBytes(dir_ + "/fleet.err");
    if (!c.readerGone) {
        close(fleet.stdoutPipe);
        EXPECT_NE(output.find("PORT "), std::string::npos) << "no table:\n" << output;
    }
    std::string report = ReadFileBytes(dir_ + "/report.json");
    EXPECT_TRUE(IsJson(report)) << report;
    for (ModuleProcess& module : modules) {
        FinishModule(&module);
        std::string outcome =
            "\"outcome\": \"interrupted\", \"exit_status\": " + std::to_string(128 + passed) + ",";
        EXPECT_NE(ReportEntry(report, module.port).find(outcome), std::string::npos) << report;
        EXPECT_NE(module.verdict.find("Finish 1)"), std::string::npos) << module.port << ":\n"
                                                                       << module.verdict;
    }
}

INSTANTIATE_TEST_SUITE_P(Signals, FleetInterrupts,
                         testing::Values(FleetInterrupt{SIGINT, "SIGINT", false, false},
                                         FleetInterrupt{SIGTERM, "SIGTERM", false, false},
                                         FleetInterrupt{SIGHUP, "SIGHUP", true, false},
                                         FleetInterrupt{SIGQUIT, "SIGQUIT", false, false},
                                         FleetInterrupt{SIGHUP, "SIGHUPUnderNohup", false, true}),
                         [](const auto& testInfo) { return std::string(testInfo.param.name); });

}  // namespace

namespace {

// Checks the report and the event lines with Python's own JSON reader: every key with its
// type, null where allowed, percentages that never go back, start no later than end. Prints
// the digest, then "port commands data_bytes" per port, for the test to compare.
const char REPORT_CHECK[] = R"PY(
import json, sys
r = json.load(open(sys.argv[1], encoding='utf-8'))
def need(obj, key, types):
    assert key in obj, key
    assert isinstance(obj[key], types) and not isinstance(obj[key], bool), (key, obj[key])
for key in ['file', 'file_path', 'file_sha256', 'file_header_crc', 'tarnix_version', 'host',
            'user', 'start', 'end', 'modnr']:
    need(r, key, str)
for key in ['format', 'file_size', 'mode']:
    need(r, key, int)
assert r['format'] == 2 and r['start'] <= r['end'] and r['file_path'].startswith('/')
assert len(r['start']) == 20 and r['start'].endswith('Z') and r['start'][10] == 'T'
print(r['file_sha256'], r['file_size'], r['file_header_crc'])
for p in r['ports']:
    for key in ['port', 'outcome', 'log', 'start', 'end', 'log_path']:
        need(p, key, str)
    for key in ['exit_status', 'commands', 'data_bytes']:
        need(p, key, int)
    need(p, 'seconds', (int, float))
    need(p, 'mean_reply_ms', (int, float))
    assert 'reason' in p and p['reason'] is None and p['start'] <= p['end'], p
    assert p['log_path'].startswith('/')
    # A pseudo-terminal is its own device and no USB adapter.
    assert p['device'] == p['port'] and p['adapter_vid_pid'] is None, p
    assert 'adapter_serial' in p and p['adapter_serial'] is None, p
    print(p['port'], p['commands'], p['data_bytes'])
last = {}
ended = set()
for line in open(sys.argv[2], encoding='utf-8'):
    e = json.loads(line)
    need(e, 'event', str); need(e, 'port', str); need(e, 'time', str)
    port = e['port']
    assert port not in ended, e
    if e['event'] == 'start':
        assert port not in last, e
        last[port] = -1
    elif e['event'] == 'progress':
        need(e, 'percent', int)
        assert last[port] < e['percent'] <= 100, (last[port], e)
        last[port] = e['percent']
    else:
        assert e['event'] == 'end' and e['outcome'] == 'completed' and e['exit_status'] == 0, e
        ended.add(port)
assert ended == set(p['port'] for p in r['ports']) and all(v == 100 for v in last.values())
)PY";

// The figure after `label` in a module's verdict ("data bytes: 112672"), or -1.
long VerdictFigure(const std::string& verdict, const std::string& label) {
    size_t at = verdict.find(label);
    return at == std::string::npos ? -1 : std::stol(verdict.substr(at + label.size()));
}

TEST_F(Fleet, ReportAndEventsAgreeWithTheFileAndWhatEachModuleReceived) {
    if (!PythonAvailable()) {
        GTEST_SKIP() << "python3 is not installed";
    }
    // One tarnix-module playing two modules: two ready lines before either is served.
    ModuleProcess pair = StartModule(dir_, {"--count", "2", "--expect", EXAMPLE});
    std::string second;
    char c = 0;
    while (read(pair.process.stdoutPipe, &c, 1) == 1 && c != '\n') {
        second += c;
    }
    ASSERT_EQ(second.rfind("Module ready on ", 0), 0u) << second;
    std::vector<std::string> ports{pair.port, second.substr(16)};
    std::vector<std::string> command = FleetCommand(EXAMPLE, {});
    command.insert(command.end() - 1, {"--events", dir_ + "/events.jsonl"});
    command.insert(command.end(), ports.begin(), ports.end());
    ProgramRun fleet = RunFleet(command);
    EXPECT_EQ(fleet.exitCode, 0) << DescribeRun(fleet);
    FinishModule(&pair);
    EXPECT_EQ(pair.exitStatus, 0) << pair.verdict;
    ProgramLaunch check;
    check.program = "/usr/bin/env";
    check.args = {"python3", "-c", REPORT_CHECK, dir_ + "/report.json", dir_ + "/events.jsonl"};
    ProgramRun checked = RunProgram(check);
    ASSERT_EQ(checked.exitCode, 0) << DescribeRun(checked) << ReadFileBytes(dir_ + "/report.json");
    ProgramLaunch digest;
    digest.program = "/usr/bin/env";
    digest.args = {"sha256sum", EXAMPLE};
    std::string sha = RunProgram(digest).stdoutText.substr(0, 64);
    std::string expected = sha + " 115300 0x";
    EXPECT_EQ(checked.stdoutText.rfind(expected, 0), 0u) << checked.stdoutText;
    for (const std::string& port : ports) {
        // Each verdict line after its port.
        std::string prefix = port + ": ";
        long frames = VerdictFigure(pair.verdict, prefix + "frames: ");
        long dataBytes = VerdictFigure(pair.verdict, prefix + "data bytes: ");
        EXPECT_NE(pair.verdict.find(prefix + "verdict: PASS"), std::string::npos) << pair.verdict;
        std::string figures =
            port + " " + std::to_string(frames) + " " + std::to_string(dataBytes) + "\n";
        EXPECT_NE(checked.stdoutText.find(figures), std::string::npos)
            << figures << checked.stdoutText;
    }
}

}  // namespace
