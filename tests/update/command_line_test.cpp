#include "command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Parsed {
    RunSettings settings;
    std::string printed;
};

Parsed Parse(std::vector<const char*> args, bool devicePathsAllowed = true) {
    args.insert(args.begin(), "tarnix");
    testing::internal::CaptureStdout();
    Parsed parsed;
    parsed.settings =
        ParseArguments(static_cast<int>(args.size()), args.data(), devicePathsAllowed);
    parsed.printed = testing::internal::GetCapturedStdout();
    return parsed;
}

const char* const USAGE =
    "\nUsage : tarnix [ModNr] [filename] [ProgMode] [ComNr]\n"
    "Default values : ModNr=0x89 (Display-Modul)  ProgMode=0  ComNr=1 (COM1)\n";

TEST(CommandLine, NoArgumentsAsksForTheFileWithDefaults) {
    Parsed parsed = Parse({});
    EXPECT_EQ(parsed.printed, USAGE);
    EXPECT_TRUE(parsed.settings.askForFile);
    EXPECT_EQ(parsed.settings.modNr, 0x89);
    EXPECT_EQ(parsed.settings.progMode, PROG_MODE_RECORDS);
    EXPECT_EQ(parsed.settings.port.comNr, 1);
}

TEST(CommandLine, ModNrAndFileNeedNoDialog) {
    Parsed parsed = Parse({"0x12", "update.upd"});
    EXPECT_EQ(parsed.printed, "");
    EXPECT_FALSE(parsed.settings.askForFile);
    EXPECT_EQ(parsed.settings.modNr, 0x12);
    EXPECT_EQ(parsed.settings.fileName, "update.upd");
}

TEST(CommandLine, ModNrFormat) {
    uint8_t modNr = 0x89;
    EXPECT_TRUE(ParseModNr("0x1234", &modNr));
    EXPECT_EQ(modNr, 0x12);
    EXPECT_TRUE(ParseModNr("0xA", &modNr));
    EXPECT_EQ(modNr, 0x0A);
    EXPECT_TRUE(ParseModNr("0xfe", &modNr));
    EXPECT_EQ(modNr, 0xFE);
    modNr = 0x89;
    for (const char* bad : {"89", "0X12", "0x", "0xg1", "x12", "", "0x-1", "0x 1"}) {
        EXPECT_FALSE(ParseModNr(bad, &modNr)) << bad;
        EXPECT_EQ(modNr, 0x89) << bad;
    }
}

TEST(CommandLine, MalformedModNrIsReportedAndKeepsTheDefault) {
    Parsed parsed = Parse({"89", "f.upd"});
    EXPECT_EQ(parsed.printed, "Undefined format for ModNr ! Please use f.e. 0x89\n");
    EXPECT_EQ(parsed.settings.modNr, 0x89);
}

TEST(CommandLine, OnlyOneSelectsLineMode) {
    EXPECT_EQ(Parse({"0x89", "f", "1"}).settings.progMode, PROG_MODE_LINES);
    EXPECT_EQ(Parse({"0x89", "f", "10"}).settings.progMode, PROG_MODE_LINES);
    EXPECT_EQ(Parse({"0x89", "f", "2"}).settings.progMode, PROG_MODE_RECORDS);
    EXPECT_EQ(Parse({"0x89", "f", "0"}).settings.progMode, PROG_MODE_RECORDS);
}

// The fourth argument: a COM number by its first character, a device path, or the name of a
// character device in /dev (/dev/null is one on every Linux machine, /dev/pts a directory).
TEST(CommandLine, PortArgument) {
    struct Accepted {
        const char* port;
        int comNr;  // 0: not looked at, a device path was chosen
        std::string devicePath;
    };
    for (const Accepted& c : {Accepted{"8", 8, ""}, Accepted{"12", 1, ""}, Accepted{"38", 3, ""},
                              Accepted{"3null", 3, ""}, Accepted{"/dev/ttyUSB0", 0, "/dev/ttyUSB0"},
                              Accepted{"null", 0, "/dev/null"}}) {
        Parsed parsed = Parse({"0x89", "f", "0", c.port});
        if (c.comNr != 0) {
            EXPECT_EQ(parsed.settings.port.comNr, c.comNr) << c.port;
        }
        EXPECT_EQ(parsed.settings.port.devicePath, c.devicePath) << c.port;
        EXPECT_EQ(parsed.printed, "") << c.port;
    }
    // Refused: COM1 instead. Without device paths (Windows) a path or a name is refused too.
    auto expectRefused = [](const char* port, bool pathsAllowed) {
        Parsed parsed = Parse({"0x89", "f", "0", port}, pathsAllowed);
        EXPECT_EQ(parsed.settings.port.comNr, 1) << port;
        EXPECT_EQ(parsed.settings.port.devicePath, "") << port;
        EXPECT_EQ(parsed.printed, "Valid COM ports are 1 - 8 only !\n") << port;
    };
    for (const char* port : {"9", "0", "x", "", "-1", "pts", "no-such-device", ".."}) {
        expectRefused(port, true);
        expectRefused(port, false);
    }
    expectRefused("/dev/ttyUSB0", false);
    expectRefused("null", false);
}

TEST(CommandLine, VersionAndHelpOnlyAsTheOneArgument) {
    auto request = [](std::vector<const char*> args) {
        args.insert(args.begin(), "tarnix");
        return FindInfoRequest(static_cast<int>(args.size()), args.data());
    };
    EXPECT_EQ(request({"--version"}), InfoRequest::Version);
    for (const char* help : {"--help", "-h", "/?"}) {
        EXPECT_EQ(request({help}), InfoRequest::Help) << help;
    }
    for (std::vector<const char*> other : std::vector<std::vector<const char*>>{
             {}, {"--help", "f.upd"}, {"0x89", "--version"}, {"--Help"}, {"-help"}, {"/h"}}) {
        EXPECT_EQ(request(other), InfoRequest::None);
    }
    // Among other arguments it is a malformed ModNr, as any other text is.
    Parsed parsed = Parse({"--help", "f.upd"});
    EXPECT_EQ(parsed.printed, "Undefined format for ModNr ! Please use f.e. 0x89\n");
    EXPECT_EQ(parsed.settings.modNr, 0x89);
}

TEST(CommandLine, HelpStartsWithTheUsageLinesAndNamesTheExitStatuses) {
    auto printed = [](bool devicePathsAllowed) {
        testing::internal::CaptureStdout();
        PrintHelp(devicePathsAllowed);
        return testing::internal::GetCapturedStdout();
    };
    std::string help = printed(true);
    EXPECT_EQ(help.rfind(USAGE, 0), 0u) << help;
    for (const char* part : {"ModNr", "ProgMode", "/dev/ttyS<n-1>", "ttyUSB0", "dialout",
                             "0 the update completed", "2 the port", "130"}) {
        EXPECT_NE(help.find(part), std::string::npos) << part;
    }
    std::string windows = printed(false);
    EXPECT_EQ(windows.find("/dev/"), std::string::npos) << windows;
    EXPECT_NE(windows.find("COM1 to COM8"), std::string::npos) << windows;
}

TEST(CommandLine, LongFileNamesAreKeptWhole) {
    std::string longName(1000, 'n');
    EXPECT_EQ(Parse({"0x89", longName.c_str()}).settings.fileName, longName);
}

TEST(CommandLine, FurtherArgumentsAreIgnored) {
    Parsed parsed = Parse({"0x01", "f", "1", "2", "extra", "more"});
    EXPECT_EQ(parsed.settings.modNr, 0x01);
    EXPECT_EQ(parsed.settings.progMode, PROG_MODE_LINES);
    EXPECT_EQ(parsed.settings.port.comNr, 2);
    EXPECT_EQ(parsed.printed, "");
}

}  // namespace
