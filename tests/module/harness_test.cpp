#include "run_against_module.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <thread>

#include <poll.h>
#include <unistd.h>

#include "module_pty.h"
#include "update_file_builder.h"

using namespace tarnix;

namespace {

ProgramLaunch ShellLaunch(const std::string& script, std::vector<std::string> args = {}) {
    ProgramLaunch launch;
    launch.program = "/bin/sh";
    launch.args = {"-c", script, "sh"};
    launch.args.insert(launch.args.end(), args.begin(), args.end());
    return launch;
}

// A stand-in program: one update without data, talking to the port given as $1.
const char TINY_UPDATE[] =
    "exec 3<>\"$1\"\n"
    "printf '\\002B\\211\\003' >&3; printf 'start%s\\n' \"$(head -c 1 <&3 | od -An -tx1)\"\n"
    "printf '\\002E\\211\\003' >&3; printf 'end%s\\n' \"$(head -c 1 <&3 | od -An -tx1)\"\n"
    "printf '\\002F\\211\\003' >&3\n"
    "read answer; echo \"stdin:$answer\"; echo 'to stderr' >&2; exit 7\n";

TEST(Harness, RunsAProgramAgainstTheModule) {
    ProgramLaunch launch = ShellLaunch(TINY_UPDATE, {"{port}"});
    launch.stdinText = "yes\n";
    ModuleConfig config;
    config.faults = {RejectAt(FaultPoint::End, 1, 0x15)};
    ProgramRun run = RunAgainstModule(launch, config);

    EXPECT_EQ(run.failure, "");
    EXPECT_EQ(run.exitCode, 7) << DescribeRun(run);
    EXPECT_EQ(run.stdoutText, "start 06\nend 15\nstdin:yes\n");
    EXPECT_EQ(run.stderrText, "to stderr\n");
    EXPECT_EQ(run.module.received,
              (std::vector<uint8_t>{2, 'B', 0x89, 3, 2, 'E', 0x89, 3, 2, 'F', 0x89, 3}));
    EXPECT_EQ(run.module.sent, (std::vector<uint8_t>{0x06, 0x15}));
    EXPECT_TRUE(run.module.errors.empty()) << DescribeRun(run);
    EXPECT_TRUE(run.module.hungUp);
}

TEST(Harness, RunsInTheGivenDirectoryWithoutAModule) {
    std::string dir = MakeTempDir();
    ProgramLaunch launch = ShellLaunch("pwd; echo \"$1\"", {"{port}"});
    launch.workingDirectory = dir;
    ProgramRun run = RunProgram(launch);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.stdoutText, dir + "\n{port}\n");
    rmdir(dir.c_str());
}

TEST(Harness, ReportsAProgramThatCannotStart) {
    ProgramLaunch launch;
    launch.program = BinaryPath("no-such-program");
    ProgramRun run = RunProgram(launch);
    EXPECT_EQ(run.exitCode, 127);
    EXPECT_NE(run.stderrText.find("exec failed"), std::string::npos);
}

TEST(Harness, KillsAProgramAtTheTimeLimit) {
    ProgramLaunch launch = ShellLaunch("exec sleep 30");
    launch.timeLimitSeconds = 1;
    ProgramRun run = RunAgainstModule(launch, ModuleConfig{});
    EXPECT_TRUE(run.timedOut);
    EXPECT_EQ(run.termSignal, SIGKILL);
    EXPECT_EQ(run.exitCode, -1);
}

// A malformed option is a command line refused (64); a port or file that cannot be set up, 2.
TEST(ModuleProgram, RefusesBadOptions) {
    for (const char* option :
         {"--reject=data:0:15", "--reject=nothing:1:15", "--silent=data", "--status=0x1000000",
          "--info-fault=velox:odd", "--bogus", "--extra=data:1:", "--extra=data:1:6,,15",
          "--late=data:1:1.5", "--before-start=100", "--device=9", "--device=03",
          "--device=rfc2217://127.0.0.1:1", "--image-out=/no/such/dir/image.bin"}) {
        ProgramLaunch launch;
        launch.program = BinaryPath("tarnix-module");
        launch.args = {option};
        launch.timeLimitSeconds = 10;  // a module that started would wait for a program
        ProgramRun run = RunProgram(launch);
        bool setUp = std::string(option).rfind("--image-out", 0) == 0;
        EXPECT_EQ(run.exitCode, setUp ? 2 : 64) << option;
        EXPECT_EQ(run.stdoutText, "") << option;
        EXPECT_NE(run.stderrText.find("tarnix-module: "), std::string::npos) << option;
    }
    ProgramLaunch help;
    help.program = BinaryPath("tarnix-module");
    help.args = {"--help"};
    ProgramRun run = RunProgram(help);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.stdoutText.rfind("Usage: tarnix-module", 0), 0u);
    help.args = {"--version"};
    run = RunProgram(help);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.stdoutText, "tarnix-module 1.1.0 (Linux)\n");
}

// The emulator as a program: the script reads the ready line, talks to the port, closes it, and
// passes on the verdict.
TEST(ModuleProgram, ServesUntilThePortClosesAndGivesAVerdict) {
    const char script[] =
        "{ \"$0\" --reject data:1:15 --no-record-check; echo \"module exit $?\"; } | {\n"
        "  read -r w1 w2 w3 port; echo \"$w1 $w2 $w3\"; exec 3<>\"$port\"\n"
        "  printf '\\002C\\211x\\003\\002B\\211\\003\\002E\\211\\003' >&3\n"
        "  head -c 3 <&3 | od -An -tx1; exec 3>&-; cat; }\n";
    ProgramLaunch launch = ShellLaunch(script);
    launch.args[2] = BinaryPath("tarnix-module");  // $0 of the script
    ProgramRun run = RunProgram(launch);
    EXPECT_EQ(run.exitCode, 0) << DescribeRun(run);
    EXPECT_EQ(run.stdoutText,
              "Module ready on\n"
              " 15 06 06\n"
              "Module verdict:\n"
              "frames: 3 (Start 1, Data 1, Program 0, End 1, Finish 0)\n"
              "data bytes: 2\n"
              "protocol errors: 1\n"
              "  [order, before frame 1] Data without an accepted Start\n"
              "update incomplete: no Finish\n"
              "update incomplete: Data 1 rejected with 0x15\n"
              "image: 0 bytes in 0 segment(s)\n"
              "verdict: FAIL\n"
              "module exit 1\n")
        << DescribeRun(run);
}

// Started with descriptors 0, 1 and 2 closed, the emulator must not take one of them for its
// line or its stop pipe: its ready line would stop it, its messages would go out on the line.
TEST(ModuleProgram, ServesWithTheStandardDescriptorsClosed) {
    ModulePty line;
    std::string error;
    ASSERT_TRUE(OpenModulePty(&line, &error)) << error;
    ProgramRun run;
    std::thread module([&] {
        ProgramLaunch launch = ShellLaunch(
            "exec timeout --preserve-status -s TERM 3 \"$0\" --device \"$1\" <&- >&- 2>&-",
            {line.slavePath});
        launch.args[2] = BinaryPath("tarnix-module");
        run = RunProgram(launch);
    });
    // Sent once the emulator has had time to start: one that stopped at once never answers it.
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const std::vector<uint8_t> start{MODULE_STX, 'B', 0x89, MODULE_ETX};
    ASSERT_EQ(write(line.masterFd, start.data(), start.size()), 4);
    // What the module sent: its reply, then (after it ended) anything else that came out.
    std::vector<uint8_t> received;
    auto readFor = [&](int ms) {
        pollfd ready{line.masterFd, POLLIN, 0};
        uint8_t buffer[256];
        ssize_t n = 0;
        while (poll(&ready, 1, ms) > 0 && (n = read(line.masterFd, buffer, sizeof buffer)) > 0) {
            received.insert(received.end(), buffer, buffer + n);
            ms = 0;
        }
    };
    readFor(6000);
    module.join();
    readFor(0);
    CloseModulePty(&line);
    EXPECT_EQ(received, std::vector<uint8_t>{MODULE_ACK}) << DescribeRun(run);
    EXPECT_EQ(run.exitCode, 1) << DescribeRun(run);  // the verdict: no End, no Finish
}

}  // namespace
