// What only the Windows build has: COM numbers that are real port names, the common dialog,
// the error box, DTR through the communications driver. Runs under scripts/test-windows; a
// Linux test run skips it.

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "e2e_expectations.h"
#include "module_process.h"
#include "network_servers.h"
#include "run_against_module.h"
#include "temp_dir_test.h"
#include "update_file_builder.h"
#include "wine_launch.h"

using namespace tarnix;

namespace {

const std::string USAGE =
    "\nUsage : tarnix.exe [ModNr] [filename] [ProgMode] [ComNr]\n"
    "Default values : ModNr=0x89 (Display-Modul)  ProgMode=0  ComNr=1 (COM1)\n";
const std::vector<uint8_t> FINISH = {0x02, 'F', 0x89, 0x03};

class WindowsProgram : public TempDirTest {
protected:
    void SetUp() override {
        if (!ProgramsRunUnderWine()) {
            GTEST_SKIP() << "runs the Windows programs; scripts/test-windows runs it under Wine";
        }
        TempDirTest::SetUp();
    }

    ProgramRun Run(const std::vector<std::string>& args, const std::string& stdinText = "\n") {
        ProgramLaunch launch;
        launch.program = BinaryPath("tarnix");
        launch.args = args;
        launch.stdinText = stdinText;
        launch.workingDirectory = dir_;
        ProgramRun run = RunAgainstModule(launch, {});
        EXPECT_EQ(run.failure, "");
        EXPECT_FALSE(run.timedOut) << DescribeRun(run);
        return run;
    }
};

TEST_F(WindowsProgram, CancelledDialogOpensCom1AndReleasesTheModule) {
    // Without a desktop the common dialog returns at once, as if cancelled.
    ProgramRun run = Run({}, "");
    EXPECT_EQ(AfterBanner(run.stdoutText),
              USAGE + "Opened COM1 with 115200 Baud succesfully !\n" + KEY_PROMPT);
    EXPECT_EQ(run.module.received, FINISH);
    EXPECT_EQ(run.exitCode, 1);
}

// Every COM port through the device namespace, as a digit or as COMn; what is no port is
// refused before anything is opened.
TEST_F(WindowsProgram, ComNumbersNameThePortsAndOthersAreRefused) {
    for (const char* port : {"3", "COM3", "\\\\.\\COM3"}) {
        ProgramRun com3 = Run({"0x89", "missing.upd", "0", port});
        EXPECT_EQ(AfterBanner(com3.stdoutText),
                  "Opened COM3 with 115200 Baud succesfully !\n"
                  "The file 'missing.upd' was not opened\n" +
                      KEY_PROMPT)
            << port;
        EXPECT_EQ(com3.module.received, FINISH) << port;
    }
    for (const char* port : {"9", "12", "/dev/ttyS0"}) {
        ProgramRun refused = Run({"0x89", "missing.upd", "0", port});
        EXPECT_EQ(AfterBanner(refused.stdoutText),
                  "Valid COM ports are 1 - 8 only !\n" + KEY_PROMPT);
        EXPECT_TRUE(refused.module.received.empty()) << port;
        EXPECT_EQ(refused.exitCode, 64) << port;
    }
}

// The modem-line library of tests/wine logs every change of the lines of the pseudo-terminal.
TEST_F(WindowsProgram, DtrAndRtsStayLowFromOpenToClose) {
    std::string log = dir_ + "/modem.log";
    ASSERT_TRUE(WriteFileBytes(dir_ + "/lines.txt", "first\r\nsecond\r\n"));
    setenv("TARNIX_WINE_MODEM_LOG", log.c_str(), 1);
    ProgramRun run = Run({"0x89", "lines.txt", "1", "{port}"});
    unsetenv("TARNIX_WINE_MODEM_LOG");
    ASSERT_EQ(run.exitCode, 0) << DescribeRun(run);

    std::ifstream in(log);
    std::vector<std::string> changes;
    for (std::string line; std::getline(in, line);) {
        changes.push_back(line);
    }
    ASSERT_FALSE(changes.empty()) << "the program never set the modem lines";
    for (const std::string& change : changes) {
        EXPECT_EQ(change.rfind("DTR=0 ", 0), 0u) << "DTR raised: " << change;
    }
    EXPECT_EQ(changes.back(), "DTR=0 RTS=0");
}

TEST_F(WindowsProgram, PortThatCannotBeOpenedShowsTheSystemTextAndSendsNothing) {
    ProgramLaunch launch;
    launch.program = BinaryPath("tarnix");
    launch.args = {"0x89", "x.upd", "0", "2"};
    // Filled, not copied from "\n": GCC 12 at -O3 warns falsely that the inlined copy overlaps
    // (-Wrestrict), which the build takes as an error.
    launch.stdinText.assign(1, '\n');
    ProgramRun run = RunProgram(launch);
    EXPECT_EQ(AfterBanner(run.stdoutText), "COM port not opened !\n" + KEY_PROMPT);
    // The box cannot be shown without a desktop; its caption and text go to standard error.
    EXPECT_EQ(run.stderrText.rfind("COM open failed: ", 0), 0u) << run.stderrText;
    EXPECT_GT(run.stderrText.size(), std::string("COM open failed: \n").size());
    EXPECT_EQ(run.exitCode, 2);
}

// SetupAPI's port list (Wine's may be empty) as well-formed JSON, and a usb: port that no
// adapter has: a port that cannot be opened, naming the serial number looked for.
TEST_F(WindowsProgram, PortListAndAUsbPortThatNoAdapterHas) {
    ProgramLaunch list;
    list.program = BinaryPath("tarnix-ports");
    list.args = {"--json"};
    ProgramRun listed = RunProgram(list);
    EXPECT_EQ(listed.exitCode, 0) << DescribeRun(listed);
    EXPECT_EQ(listed.stdoutText.rfind("{\"ports\": [", 0), 0u) << listed.stdoutText;
    ProgramLaunch launch;
    launch.program = BinaryPath("tarnix");
    launch.args = {"0x89", "x.upd", "0", "usb:NOPE"};
    launch.stdinText.assign(1, '\n');
    ProgramRun run = RunProgram(launch);
    EXPECT_EQ(run.exitCode, 2) << DescribeRun(run);
    EXPECT_EQ(AfterBanner(run.stdoutText), "COM port not opened !\n" + KEY_PROMPT);
    EXPECT_NE(run.stderrText.find("COM open failed: usb:NOPE: no serial adapter with USB serial "
                                  "number NOPE"),
              std::string::npos)
        << run.stderrText;
}

// Winsock: an update and an information query through ser2net on loopback.
TEST_F(WindowsProgram, NetworkPortThroughSer2net) {
    if (!ServerUnavailable(ServerKind::Ser2net).empty()) {
        GTEST_SKIP() << ServerUnavailable(ServerKind::Ser2net);
    }
    const std::string example = TARNIX_SOURCE_DIR "/examples/display-config.upd";
    ModuleProcess module = StartModule(dir_, {"--expect", example});
    // Held open here as well, the module's line does not hang up between the two programs'
    // connections (the module would end at its first hang-up).
    int held = open(module.port.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(held, 0) << module.port;
    NetworkServer server = StartSer2net({.dir = dir_, .ptyPaths = {module.port}});
    ASSERT_EQ(server.failure, "");
    std::string url = Rfc2217Url(server);
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"tarnix", "0x89", example, "0", url},
          std::vector<std::string>{"tarnix-service", url, "info"}}) {
        ProgramLaunch launch;
        launch.program = BinaryPath(args[0]);
        launch.args.assign(args.begin() + 1, args.end());
        launch.timeLimitSeconds = 120;
        ProgramRun run = RunProgram(launch);
        EXPECT_EQ(run.exitCode, 0) << DescribeRun(run);
        EXPECT_NE(run.stdoutText.find("Opened " + url + " with 115200 Baud succesfully !"),
                  std::string::npos)
            << run.stdoutText;
    }
    StopNetworkServer(&server);
    close(held);
    FinishModule(&module, true);
    EXPECT_NE(module.verdict.find("image arrived whole"), std::string::npos) << module.verdict;
}

}  // namespace
