// tarnix-ports on this machine, whatever ports it has, and the usb: port form through tarnix.

#include <gtest/gtest.h>

#include <string>

#include "python_json.h"
#include "run_against_module.h"

using namespace tarnix;

namespace {

ProgramRun RunOur(const std::string& program, const std::vector<std::string>& args) {
    ProgramLaunch launch;
    launch.program = BinaryPath(program);
    launch.args = args;
    return RunProgram(launch);
}

TEST(PortsOnThisMachine, JsonIsValidWhateverPortsThereAre) {
    if (!PythonAvailable()) {
        GTEST_SKIP() << "python3 is not installed";
    }
    ProgramRun ports = RunOur("tarnix-ports", {"--json"});
    ASSERT_EQ(ports.exitCode, 0) << DescribeRun(ports);
    ProgramLaunch parse;
    parse.program = "/usr/bin/env";
    parse.args = {
        "python3", "-c",
        "import json, sys\nr = json.load(sys.stdin)\nassert isinstance(r['ports'], list)"};
    parse.stdinText = ports.stdoutText;
    ProgramRun parsed = RunProgram(parse);
    EXPECT_EQ(parsed.exitCode, 0) << ports.stdoutText << parsed.stderrText;
    bool none = ports.stdoutText == "{\"ports\": []}\n";
    EXPECT_EQ(ports.stderrText, none ? "no serial ports found\n" : "");
}

TEST(PortsOnThisMachine, VersionAndRefusedCommandLine) {
    ProgramRun version = RunOur("tarnix-ports", {"--version"});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.stdoutText.rfind("tarnix-ports 1.", 0), 0u) << version.stdoutText;
    ProgramRun refused = RunOur("tarnix-ports", {"--list"});
    EXPECT_EQ(refused.exitCode, 64);
    EXPECT_EQ(refused.stdoutText, "");
}

// No adapter has this serial number: a port that cannot be opened, named in the message.
TEST(UsbPortForm, AnAdapterThatIsNotThereIsAPortThatCannotBeOpened) {
    ProgramRun run = RunOur("tarnix", {"0x89", "u.upd", "0", "usb:NO-SUCH-SERIAL"});
    EXPECT_EQ(run.exitCode, 2) << DescribeRun(run);
    EXPECT_NE(run.stderrText.find("COM open failed: usb:NO-SUCH-SERIAL: no serial adapter with "
                                  "USB serial number NO-SUCH-SERIAL (found: "),
              std::string::npos)
        << run.stderrText;
}

}  // namespace
