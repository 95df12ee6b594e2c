#include "command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace tarnix;

namespace {

struct Parsed {
    RunSettings settings;
    std::string printed;
};

Parsed Parse(std::vector<const char*> args, PortForms forms = PortForms::Posix) {
    args.insert(args.begin(), "tarnix");
    testing::internal::CaptureStdout();
    Parsed parsed;
    parsed.settings = ParseArguments(static_cast<int>(args.size()), args.data(), forms);
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
    EXPECT_TRUE(ParseModNr("0xA", &modNr));
    EXPECT_EQ(modNr, 0x0A);
    EXPECT_TRUE(ParseModNr("0xfe", &modNr));
    EXPECT_EQ(modNr, 0xFE);
    modNr = 0x89;
    for (const char* bad :
         {"89", "0X12", "0x", "0xg1", "x12", "", "0x-1", "0x 1", "0x1234", "0xZZ", "0x12 "}) {
        EXPECT_FALSE(ParseModNr(bad, &modNr)) << bad;
        EXPECT_EQ(modNr, 0x89) << bad;
    }
}

// An argument that is present but not understood is refused with the program's own message,
// where it has one, and a reason for standard error; it never becomes a default.
TEST(CommandLine, ArgumentsNotUnderstoodAreRefused) {
    struct Case {
        std::vector<const char*> args;
        const char* printed;
        const char* reasonPart;
    };
    const char* const MODNR = "Undefined format for ModNr ! Please use f.e. 0x89\n";
    const char* const PORT = "Valid COM ports are 1 - 8 only !\n";
    const Case cases[] = {
        {{"89", "f.upd"}, MODNR, "ModNr '89'"},
        {{"0X8A", "f.upd", "0", "1"}, MODNR, "ModNr '0X8A'"},
        {{"0x1234", "f.upd"}, MODNR, "0x and one or two hex digits"},
        {{"0x89", "f.upd", "2"}, "", "ProgMode '2'"},
        {{"0x89", "f.upd", "/dev/pts/3"}, "", "ProgMode '/dev/pts/3'"},
        {{"0x89", "f.upd", ""}, "", "ProgMode ''"},
        {{"0x89", "f.upd", "0", "9"}, PORT, "ComNr '9'"},
        {{"0x89", "f.upd", "0", "12"}, PORT, "write COM12 for port 12"},
        {{"0x89", "f.upd", "0", "COM0"}, PORT, "ComNr 'COM0'"},
        {{"0x89", "f.upd", "0", ""}, PORT, "ComNr ''"},
        {{"--verbose"}, "", "'--verbose' is no argument"},
        {{"-V"}, "", "'-V'"},
        {{"--help", "u.upd"}, "", "'--help'"},
        {{"0x89", "u.upd", "0", "/?"}, "", "'/?'"},
        {{"0x89", "-u.upd"}, "", "'-u.upd'"},
        {{"0x89", "u.upd", "0", "/dev/pts/7", "/dev/pts/8"}, "", "argument 5 '/dev/pts/8'"},
        {{"0x89", "u.upd", "0", "1", ""}, "", "argument 5 ''"},
        {{"0x89", "", "0", "/dev/pts/7"}, "", "filename '' is empty"},
        {{"0x89", ""}, "", "filename ''"},
    };
    for (const Case& c : cases) {
        Parsed parsed = Parse(c.args);
        EXPECT_EQ(parsed.printed.substr(0, std::string(c.printed).size()), c.printed)
            << c.reasonPart;
        ASSERT_FALSE(parsed.settings.refusals.empty()) << c.reasonPart;
        EXPECT_NE(parsed.settings.refusals.front().find(c.reasonPart), std::string::npos)
            << parsed.settings.refusals.front();
        EXPECT_FALSE(parsed.settings.askForFile) << c.reasonPart;
    }
}

TEST(CommandLine, UnderstoodArguments) {
    struct Case {
        std::vector<const char*> args;
        uint8_t modNr;
        uint8_t progMode;
        std::string port;
    };
    const Case cases[] = {
        {{"0x89", "f"}, 0x89, PROG_MODE_RECORDS, "COM1"},
        {{"0x7", "f", "1"}, 0x07, PROG_MODE_LINES, "COM1"},
        {{"0x89", "f", "1x"}, 0x89, PROG_MODE_LINES, "COM1"},
        {{"0x89", "f", "0", "8"}, 0x89, PROG_MODE_RECORDS, "COM8"},
        {{"0x89", "f", "0", "COM12"}, 0x89, PROG_MODE_RECORDS, "COM12"},
        {{"0xff", "f", "0", "ttyUSB7"}, 0xFF, PROG_MODE_RECORDS, "/dev/ttyUSB7"},
        {{"0x89", "f", "1", "/dev/pts/3"}, 0x89, PROG_MODE_LINES, "/dev/pts/3"},
    };
    for (const Case& c : cases) {
        Parsed parsed = Parse(c.args);
        EXPECT_TRUE(parsed.settings.refusals.empty()) << c.port;
        EXPECT_EQ(parsed.printed, "") << c.port;
        EXPECT_EQ(parsed.settings.modNr, c.modNr) << c.port;
        EXPECT_EQ(parsed.settings.progMode, c.progMode) << c.port;
        EXPECT_EQ(PortChoiceName(parsed.settings.port), c.port);
    }
    EXPECT_FALSE(
        Parse({"0x89", "f", "0", "/dev/ttyUSB0"}, PortForms::Windows).settings.refusals.empty());
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
}

TEST(CommandLine, HelpStartsWithTheUsageLinesAndNamesTheExitStatuses) {
    auto printed = [](PortForms forms) {
        testing::internal::CaptureStdout();
        PrintHelp(forms);
        return testing::internal::GetCapturedStdout();
    };
    std::string help = printed(PortForms::Posix);
    EXPECT_EQ(help.rfind(USAGE, 0), 0u) << help;
    for (const char* part :
         {"ModNr", "ProgMode", "/dev/ttyS<n-1>", "ttyUSB0", "dialout", "0 the update completed",
          "2 the port", "64 the command line", "130"}) {
        EXPECT_NE(help.find(part), std::string::npos) << part;
    }
    std::string windows = printed(PortForms::Windows);
    EXPECT_EQ(windows.find("/dev/"), std::string::npos) << windows;
    EXPECT_NE(windows.find("COMn (COM12)"), std::string::npos) << windows;
}

TEST(CommandLine, LongFileNamesAreKeptWhole) {
    std::string longName(1000, 'n');
    EXPECT_EQ(Parse({"0x89", longName.c_str()}).settings.fileName, longName);
}

// A fifth argument is never dropped in silence: each one is refused on a line of its own.
TEST(CommandLine, FurtherArgumentsAreRefused) {
    Parsed parsed = Parse({"0x01", "f", "1", "2", "extra", "more"});
    EXPECT_EQ(parsed.printed, "");
    EXPECT_EQ(parsed.settings.refusals,
              (std::vector<std::string>{
                  "argument 5 'extra' is one too many: tarnix takes ModNr, filename, ProgMode "
                  "and ComNr",
                  "argument 6 'more' is one too many: tarnix takes ModNr, filename, ProgMode "
                  "and ComNr"}));
}

}  // namespace
