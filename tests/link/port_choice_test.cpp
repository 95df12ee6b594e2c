#include "port_choice.h"

#include <gtest/gtest.h>

#include <string>

using namespace tarnix;

namespace {

// What each form gives on each platform: the COM number, or the device path, or refused ("").
struct PortCase {
    const char* text;
    std::string posix;    // "COMn", a device path, or "" when refused
    std::string windows;  // the same on Windows
};

std::string Chosen(const char* text, PortForms forms) {
    PortChoice choice;
    choice.comNr = 7;  // must stay untouched when refused
    if (!ParsePortChoice(text, forms, &choice)) {
        EXPECT_EQ(choice.comNr, 7) << text;
        EXPECT_EQ(choice.devicePath, "") << text;
        EXPECT_EQ(choice.usbSerial, "") << text;
        return "";
    }
    return PortChoiceName(choice);
}

TEST(PortRule, EveryFormOnEveryPlatform) {
    const PortCase cases[] = {
        {"1", "COM1", "COM1"},
        {"8", "COM8", "COM8"},
        {"COM3", "COM3", "COM3"},
        {"com12", "COM12", "COM12"},
        {"COM255", "COM255", "COM255"},
        {"\\\\.\\COM10", "", "COM10"},
        {"/dev/ttyUSB0", "/dev/ttyUSB0", ""},
        {"ttyUSB7", "/dev/ttyUSB7", ""},  // need not exist: its open fails, never COM1
        {"comedi0", "/dev/comedi0", ""},
        // Refused everywhere: never a default the user did not write.
        {"0", "", ""},
        {"9", "", ""},
        {"12", "", ""},
        {"03", "", ""},
        {"1x", "", ""},
        {"COM0", "", ""},
        {"COM256", "", ""},
        {"COM03", "", ""},
        {"Com3", "COM3", "COM3"},
        {"COM3x", "", ""},
        {"", "", ""},
        {"-1", "", ""},
        {"..", "", ""},
        {"tty USB0", "", ""},
        {"\\\\.\\COM0", "", ""},
        // Network ports, the same everywhere; a URL is never a device path.
        {"rfc2217://127.0.0.1:2217", "rfc2217://127.0.0.1:2217", "rfc2217://127.0.0.1:2217"},
        {"socket://bench-7.lab:4001", "socket://bench-7.lab:4001", "socket://bench-7.lab:4001"},
        {"rfc2217://[::1]:65535", "rfc2217://[::1]:65535", "rfc2217://[::1]:65535"},
        {"rfc2217://host:0", "", ""},
        {"rfc2217://host:65536", "", ""},
        {"rfc2217://host:02217", "", ""},
        {"rfc2217://host", "", ""},
        {"rfc2217://:2217", "", ""},
        {"rfc2217://user@host:2217", "", ""},
        {"rfc2217://host:2217/x", "", ""},
        {"rfc2217://::1:2217", "", ""},
        {"rfc2217://[::g]:2217", "", ""},
        {"socket://host name:1", "", ""},
        {"telnet://host:23", "", ""},
        {"RFC2217://host:2217", "rfc2217://host:2217", "rfc2217://host:2217"},
        {"./a://b", "", ""},
        // A USB adapter by its serial number, the same everywhere; looked up only on open.
        {"usb:A1B2C3", "usb:A1B2C3", "usb:A1B2C3"},
        {"usb:FT4232H-9:1", "usb:FT4232H-9:1", "usb:FT4232H-9:1"},
        {"usb:A1B2C3:0", "usb:A1B2C3:0", "usb:A1B2C3:0"},
        {"usb:A1B2C3:255", "usb:A1B2C3:255", "usb:A1B2C3:255"},
        {"USB:a1b2c3", "usb:a1b2c3", "usb:a1b2c3"},
        {"usb:", "", ""},
        {"usb::1", "", ""},
        {"usb:A1 B2", "", ""},
        {"usb:A1\tB2", "", ""},
        {"usb:A1B2C3:", "", ""},
        {"usb:A1B2C3:256", "", ""},
        {"usb:A1B2C3:01", "", ""},
        {"usb:A1B2C3:-1", "", ""},
        {"usb:A1B2C3:x", "", ""},
        {"usb:A1B2C3:1:2", "", ""},
        {"usb:\xc3\xa9", "", ""},
    };
    for (const PortCase& c : cases) {
        EXPECT_EQ(Chosen(c.text, PortForms::Posix), c.posix) << "'" << c.text << "' on POSIX";
        EXPECT_EQ(Chosen(c.text, PortForms::Windows), c.windows) << "'" << c.text << "' on Windows";
    }
}

TEST(PortRule, TheExplanationNamesTheFormsOfItsPlatform) {
    EXPECT_NE(AcceptedPortForms(PortForms::Posix).find("COM12 for port 12"), std::string::npos);
    EXPECT_NE(AcceptedPortForms(PortForms::Posix).find("/dev/ttyUSB0"), std::string::npos);
    EXPECT_EQ(AcceptedPortForms(PortForms::Windows).find("/dev/"), std::string::npos);
    EXPECT_NE(AcceptedPortForms(PortForms::Windows).find("usb:SERIAL:N"), std::string::npos);
}

// The record of a run names the device and the adapter behind each form of a port.
TEST(PortRule, EachFormIsTracedToItsDeviceAndAdapter) {
    SerialPortInfo adapter;
    adapter.device = "/dev/ttyUSB1";
    adapter.stableName = "/dev/serial/by-id/usb-FTDI_FT232R_A1B2C3-if00-port0";
    adapter.vendorId = "0403";
    adapter.productId = "6001";
    adapter.serialNumber = "A1B2C3";
    SerialPortInfo uart;
    uart.device = "/dev/ttyS0";
    const std::vector<SerialPortInfo> ports = {uart, adapter};
    struct Case {
        const char* text;
        std::string device;
        std::string serial;
    };
    const Case cases[] = {
        {"usb:A1B2C3", "/dev/ttyUSB1", "A1B2C3"},
        {"ttyUSB1", "/dev/ttyUSB1", "A1B2C3"},
        {"/dev/serial/by-id/usb-FTDI_FT232R_A1B2C3-if00-port0", "/dev/ttyUSB1", "A1B2C3"},
        {"1", "/dev/ttyS0", ""},
        {"COM3", "/dev/ttyS2", ""},  // not listed: the device it would open
        {"usb:OTHER", "", ""},
        {"rfc2217://127.0.0.1:2000", "", ""},
    };
    if (PlatformPortForms() != PortForms::Posix) {
        GTEST_SKIP() << "the cases are POSIX device names";
    }
    for (const Case& c : cases) {
        PortChoice choice;
        ASSERT_TRUE(ParsePortChoice(c.text, PortForms::Posix, &choice)) << c.text;
        SerialPortInfo found = IdentifyChosenPort(choice, ports);
        EXPECT_EQ(found.device, c.device) << c.text;
        EXPECT_EQ(found.serialNumber, c.serial) << c.text;
    }
}

}  // namespace
