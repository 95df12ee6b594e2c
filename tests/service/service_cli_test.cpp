#include "service_cli.h"

#include <gtest/gtest.h>

using namespace tarnix;

namespace {

struct Parsed {
    bool ok = false;
    ServiceCommandLine commandLine;
    std::string error;
};

Parsed Parse(std::vector<const char*> args, PortForms forms = PortForms::Posix) {
    args.insert(args.begin(), "tarnix-service");
    Parsed parsed;
    parsed.ok = ParseServiceCommandLine(static_cast<int>(args.size()), args.data(), forms,
                                        &parsed.commandLine, &parsed.error);
    return parsed;
}

// The forms themselves are the port rule's (port_choice_test.cpp); here, that the service
// takes its PORT by that rule and says what it accepts.
TEST(ServiceCommandLine, TakesItsPortByTheOneRule) {
    EXPECT_EQ(Parse({"COM12", "info"}).commandLine.port.comNr, 12);
    EXPECT_EQ(Parse({"ttyUSB3", "info"}).commandLine.port.devicePath, "/dev/ttyUSB3");
    for (const char* port : {"0", "12", "03", "COM256", ""}) {
        Parsed parsed = Parse({port, "info"});
        EXPECT_FALSE(parsed.ok) << port;
        EXPECT_NE(parsed.error.find("COM12 for port 12"), std::string::npos) << parsed.error;
    }
    EXPECT_FALSE(Parse({"/dev/ttyUSB0", "status"}, PortForms::Windows).ok);
}

TEST(ServiceCommandLine, ReadsOperationsAndTheirArgumentsInOrder) {
    Parsed parsed = Parse({"2", "info", "flash", "status", "param", "0x1F", "result", "download",
                           "cfg/acex.ttf", "pause", "-5", "param", "200"});
    ASSERT_TRUE(parsed.ok) << parsed.error;
    const auto& ops = parsed.commandLine.operations;
    ASSERT_EQ(ops.size(), 8u);
    using Kind = ServiceOperationKind;
    EXPECT_EQ(ops[0].kind, Kind::Info);
    EXPECT_EQ(ops[1].kind, Kind::Flash);
    EXPECT_EQ(ops[2].kind, Kind::Status);
    EXPECT_EQ(ops[3].kind, Kind::Param);
    EXPECT_EQ(ops[3].value, 0x1F);
    EXPECT_EQ(ops[4].kind, Kind::Result);
    EXPECT_EQ(ops[5].kind, Kind::Download);
    EXPECT_EQ(ops[5].path, "cfg/acex.ttf");
    EXPECT_EQ(ops[6].kind, Kind::Pause);
    EXPECT_EQ(ops[6].value, -5);
    EXPECT_EQ(ops[7].value, 200);
}

TEST(ServiceCommandLine, RefusesMalformedOperations) {
    struct Case {
        std::vector<const char*> args;
        const char* errorPart;
    };
    const Case cases[] = {
        {{"1"}, "no operation"},
        {{}, "no PORT"},
        {{"1", "reboot"}, "unknown operation 'reboot'"},
        {{"1", "INFO"}, "unknown operation"},
        {{"1", "param"}, "param needs a VALUE"},
        {{"1", "param", "256"}, "not '256'"},
        {{"1", "param", "-1"}, "not '-1'"},
        {{"1", "param", "0x"}, "not '0x'"},
        {{"1", "param", "12abc"}, "not '12abc'"},
        {{"1", "pause"}, "pause needs TICKS"},
        {{"1", "pause", "1.5"}, "not '1.5'"},
        {{"1", "download"}, "download needs a FILE"},
        {{"1", "download", ""}, "download needs a FILE"},
        {{"1", "info", "download"}, "download needs a FILE"},
    };
    for (const Case& c : cases) {
        Parsed parsed = Parse(c.args);
        EXPECT_FALSE(parsed.ok);
        EXPECT_NE(parsed.error.find(c.errorPart), std::string::npos)
            << "expected '" << c.errorPart << "' in: " << parsed.error;
    }
}

TEST(ServiceCommandLine, HelpWinsOverEverythingElse) {
    for (std::vector<const char*> args :
         std::vector<std::vector<const char*>>{{"--help"}, {"-h"}, {"9", "bogus", "--help"}}) {
        Parsed parsed = Parse(args);
        EXPECT_TRUE(parsed.ok);
        EXPECT_TRUE(parsed.commandLine.helpRequested);
    }
}

TEST(ServiceCommandLine, VersionIsAnsweredLikeHelp) {
    Parsed version = Parse({"9", "bogus", "--version"});
    EXPECT_TRUE(version.ok);
    EXPECT_TRUE(version.commandLine.versionRequested);
    EXPECT_FALSE(version.commandLine.helpRequested);
    EXPECT_TRUE(version.commandLine.operations.empty());
    EXPECT_FALSE(Parse({"1", "info"}).commandLine.versionRequested);
}

TEST(ServiceNumber, IsDecimalOrHexWithinInt) {
    int value = 0;
    EXPECT_TRUE(ParseServiceNumber("1500", &value));
    EXPECT_EQ(value, 1500);
    EXPECT_TRUE(ParseServiceNumber("0xfF", &value));
    EXPECT_EQ(value, 255);
    EXPECT_TRUE(ParseServiceNumber("-0x10", &value));
    EXPECT_EQ(value, -16);
    EXPECT_TRUE(ParseServiceNumber("2147483647", &value));
    EXPECT_EQ(value, 2147483647);
    EXPECT_TRUE(ParseServiceNumber("-2147483648", &value));
    EXPECT_EQ(value, -2147483647 - 1);
    for (const char* bad : {"", "-", "+5", "--5", " 5", "5 ", "0x", "0xG", "2147483648",
                            "-2147483649", "99999999999999999999"}) {
        EXPECT_FALSE(ParseServiceNumber(bad, &value)) << bad;
    }
}

TEST(ServiceUsage, DocumentsDistinctExitCodes) {
    std::string usage = ServiceUsage(PortForms::Posix);
    for (int code : {EXIT_ALL_SUCCEEDED, EXIT_OPERATION_FAILED, EXIT_PORT_NOT_OPENED, EXIT_USAGE}) {
        EXPECT_NE(usage.find("\n  " + std::to_string(code) + " "), std::string::npos) << code;
    }
    EXPECT_EQ(ServiceUsage(PortForms::Windows).find("device path"), std::string::npos);
}

}  // namespace
