// COM numbers and the file prompt, end to end. COMn is the device /dev/ttyS<n-1>; as root, a
// private mount namespace lets a test put the module's pseudo-terminal there without touching
// the machine's own ports.

#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "e2e_expectations.h"
#include "run_against_module.h"
#include "temp_dir_test.h"
#include "update_file_builder.h"
#include "wine_launch.h"

using namespace tarnix;

namespace {

const std::string USAGE =
    "\nUsage : tarnix [ModNr] [filename] [ProgMode] [ComNr]\n"
    "Default values : ModNr=0x89 (Display-Modul)  ProgMode=0  ComNr=1 (COM1)\n";
const std::vector<uint8_t> FINISH = {0x02, 'F', 0x89, 0x03};

std::string WhyNamespacesAreUnavailable(const std::string& device) {
    if (geteuid() != 0) {
        return "needs root for a private mount namespace";
    }
    if (access(device.c_str(), F_OK) != 0) {
        return device + " does not exist to stand in for";
    }
    if (std::system("unshare -m true >/dev/null 2>&1") != 0) {
        return "unshare -m is not permitted here";
    }
    return "";
}

class ComNumber : public TempDirTest {
protected:
    void SetUp() override {
        SKIP_UNDER_WINE("the Windows suite tests COM numbers of the Windows programs");
        TempDirTest::SetUp();
    }

    // Runs tarnix with the module's pseudo-terminal mounted over COM<comNr>'s device.
    ProgramRun RunOnCom(int comNr, const std::vector<std::string>& args,
                        const std::string& stdinText, ModuleConfig config = {}) {
        ProgramLaunch launch;
        launch.program = "/usr/bin/unshare";
        std::string device = "/dev/ttyS" + std::to_string(comNr - 1);
        launch.args = {"-m",      "--propagation",
                       "private", "sh",
                       "-c",      "mount --bind \"$0\" " + device + " && exec \"$@\"",
                       "{port}",  BinaryPath("tarnix")};
        launch.args.insert(launch.args.end(), args.begin(), args.end());
        launch.stdinText = stdinText;
        launch.workingDirectory = dir_;
        ProgramRun run = RunAgainstModule(launch, config);
        EXPECT_EQ(run.failure, "");
        EXPECT_FALSE(run.timedOut) << DescribeRun(run);
        return run;
    }
};

#define SKIP_WITHOUT_NAMESPACES(device)                           \
    do {                                                          \
        std::string reason = WhyNamespacesAreUnavailable(device); \
        if (!reason.empty()) {                                    \
            GTEST_SKIP() << reason;                               \
        }                                                         \
    } while (0)

TEST_F(ComNumber, CancelledPromptOpensCom1AndReleasesTheModule) {
    SKIP_WITHOUT_NAMESPACES("/dev/ttyS0");
    ProgramRun run = RunOnCom(1, {}, "");
    EXPECT_EQ(AfterBanner(run.stdoutText),
              USAGE + "Opened COM1 with 115200 Baud succesfully !\n" + KEY_PROMPT);
    EXPECT_EQ(run.module.received, FINISH);
    EXPECT_NE(run.stderrText.find("Kelvra Tarnix - Open UPD-File"), std::string::npos);
    EXPECT_EQ(run.exitCode, 1);
}

TEST_F(ComNumber, PromptOffersUpdateFilesAndRefusesMissingOnes) {
    SKIP_WITHOUT_NAMESPACES("/dev/ttyS0");
    std::vector<std::string> records = MakeRecordLines(0, PatternBytes(32, 9));
    records.push_back(MakeEndRecord());
    ASSERT_TRUE(WriteFileBytes(dir_ + "/a.upd", BuildUpdateFile(256, records)));
    ASSERT_TRUE(WriteFileBytes(dir_ + "/notes.txt", "not offered\n"));
    ProgramRun run = RunOnCom(1, {"0x12"}, "missing.upd\n1\n\n");

    EXPECT_NE(run.stderrText.find("1) a.upd"), std::string::npos) << run.stderrText;
    EXPECT_EQ(run.stderrText.find("notes.txt"), std::string::npos) << run.stderrText;
    EXPECT_NE(run.stderrText.find("missing.upd: file not found"), std::string::npos);
    EXPECT_NE(run.stdoutText.find(" Byte from a.upd\n"), std::string::npos) << run.stdoutText;
    EXPECT_EQ(run.module.frames.front().modNr, 0x12);
    EXPECT_EQ(run.exitCode, 0) << DescribeRun(run);
}

// COM1 leads to a module here: a value that is not understood must never reach it, as a
// default the user did not write. "{port}" is the module's own pseudo-terminal.
TEST_F(ComNumber, ArgumentsNotUnderstoodNeverFallBackToCom1) {
    SKIP_WITHOUT_NAMESPACES("/dev/ttyS0");
    const std::string MODNR = "Undefined format for ModNr ! Please use f.e. 0x89\n";
    const std::string PORT = "Valid COM ports are 1 - 8 only !\n";
    struct Case {
        std::vector<std::string> args;
        std::string printed;  // after the banner, before the key prompt
    };
    const Case cases[] = {
        {{"0x89", "u.upd", "{port}"}, ""},  // ProgMode forgotten
        {{"0x89", "u.upd", "0", "COM0"}, PORT},
        {{"0x89", "u.upd", "0", "9"}, PORT},
        {{"0x89", "u.upd", "0", "12"}, PORT},
        {{"0x89", "u.upd", "0", "03"}, PORT},
        {{"89", "u.upd", "0", "{port}"}, MODNR},
        {{"0X8A", "u.upd", "0", "1"}, MODNR},
        {{"0x89", "u.upd", "2", "1"}, ""},
        {{"--verbose"}, ""},
        {{"-V"}, ""},
        {{"--help", "u.upd"}, ""},
    };
    for (const Case& c : cases) {
        ProgramRun run = RunOnCom(1, c.args, "\n");
        std::string what = c.args.back();
        EXPECT_EQ(AfterBanner(run.stdoutText), c.printed + KEY_PROMPT) << what;
        EXPECT_TRUE(run.module.received.empty()) << what;
        EXPECT_NE(run.stderrText.find("the command line was refused"), std::string::npos)
            << run.stderrText;
        EXPECT_EQ(run.exitCode, 64) << what;
    }
}

// A device name whose device is missing (an adapter unplugged) cannot be opened: never COM1.
TEST_F(ComNumber, MissingNamedDeviceIsNotOpenedInsteadOfCom1) {
    SKIP_WITHOUT_NAMESPACES("/dev/ttyS0");
    ProgramRun run = RunOnCom(1, {"0x89", "u.upd", "0", "ttyUSB97"}, "\n");
    EXPECT_EQ(AfterBanner(run.stdoutText), "COM port not opened !\n" + KEY_PROMPT);
    EXPECT_NE(run.stderrText.find("/dev/ttyUSB97: No such file or directory"), std::string::npos)
        << run.stderrText;
    EXPECT_TRUE(run.module.received.empty());
    EXPECT_EQ(run.exitCode, 2);
}

// COM1 leads to the module here, so a help or version run that opened it would show.
TEST_F(ComNumber, HelpAndVersionOpenNoPort) {
    SKIP_WITHOUT_NAMESPACES("/dev/ttyS0");
    for (const char* request : {"--help", "-h", "/?", "--version"}) {
        ProgramRun run = RunOnCom(1, {request}, "");
        EXPECT_EQ(run.exitCode, 0) << request;
        EXPECT_TRUE(run.module.received.empty()) << request;
        EXPECT_EQ(run.stdoutText.find("Opened"), std::string::npos) << run.stdoutText;
        EXPECT_EQ(run.stdoutText.find("Press any key"), std::string::npos) << run.stdoutText;
    }
}

TEST_F(ComNumber, Com3IsTheThirdSerialDevice) {
    SKIP_WITHOUT_NAMESPACES("/dev/ttyS2");
    for (const char* port : {"3", "COM3", "com3"}) {
        ProgramRun com3 = RunOnCom(3, {"0x89", "missing.upd", "0", port}, "\n");
        EXPECT_EQ(AfterBanner(com3.stdoutText),
                  "Opened COM3 with 115200 Baud succesfully !\n"
                  "The file 'missing.upd' was not opened\n" +
                      KEY_PROMPT)
            << port;
        EXPECT_EQ(com3.module.received, FINISH) << port;
    }
}

}  // namespace
