#include "ports_report.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ports_cli.h"

using namespace tarnix;

namespace {

SerialPortInfo UsbPort(const std::string& device, const std::string& serial, int interfaceNumber) {
    SerialPortInfo port;
    port.device = device;
    port.vendorId = "0403";
    port.productId = "6010";
    port.manufacturer = "FTDI";
    port.product = "Dual RS232-HS";
    port.serialNumber = serial;
    port.interfaceNumber = interfaceNumber;
    port.driver = "ftdi_sio";
    return port;
}

TEST(PortsReport, ALinePerPortWithWhatIsKnown) {
    SerialPortInfo uart;
    uart.device = "/dev/ttyS0";
    uart.driver = "serial8250";
    SerialPortInfo single = UsbPort("/dev/ttyUSB0", "A1B2C3", 0);
    single.stableName = "/dev/serial/by-id/usb-FTDI_A1B2C3-if00-port0";
    single.latencyTimerMs = 16;
    SerialPortInfo windows;
    windows.device = "COM11";
    windows.friendlyName = "USB Serial Port (COM11)";
    const std::vector<SerialPortInfo> ports = {uart, single, UsbPort("/dev/ttyUSB1", "FT2X", 0),
                                               UsbPort("/dev/ttyUSB2", "FT2X", 1), windows};
    const std::string usb = "USB 0403:6010, FTDI, Dual RS232-HS, ";
    EXPECT_EQ(DescribePorts(ports),
              "/dev/ttyS0: driver serial8250\n"
              "/dev/ttyUSB0 (/dev/serial/by-id/usb-FTDI_A1B2C3-if00-port0): " +
                  usb +
                  "serial A1B2C3, interface 0, driver ftdi_sio, latency timer 16 ms, port "
                  "usb:A1B2C3\n"
                  "/dev/ttyUSB1: " +
                  usb +
                  "serial FT2X, interface 0, driver ftdi_sio, port usb:FT2X:0\n"
                  "/dev/ttyUSB2: " +
                  usb +
                  "serial FT2X, interface 1, driver ftdi_sio, port usb:FT2X:1\n"
                  "COM11 \"USB Serial Port (COM11)\"\n");
    EXPECT_EQ(DescribePorts({}), "");
}

TEST(PortsReport, JsonHasEveryMemberNullWhereUnknown) {
    SerialPortInfo uart;
    uart.device = "/dev/ttyS0";
    EXPECT_EQ(PortsJson({uart, UsbPort("/dev/ttyUSB0", "A\"1", 1)}),
              "{\"ports\": [\n"
              "  {\"device\": \"/dev/ttyS0\", \"stable_name\": null, \"friendly_name\": null, "
              "\"vid\": null, \"pid\": null, \"manufacturer\": null, \"product\": null, "
              "\"serial_number\": null, \"interface\": null, \"driver\": null, "
              "\"latency_timer_ms\": null, \"usb_port\": null, \"port\": \"/dev/ttyS0\"},\n"
              "  {\"device\": \"/dev/ttyUSB0\", \"stable_name\": null, \"friendly_name\": null, "
              "\"vid\": \"0403\", \"pid\": \"6010\", \"manufacturer\": \"FTDI\", \"product\": "
              "\"Dual RS232-HS\", \"serial_number\": \"A\\\"1\", \"interface\": 1, \"driver\": "
              "\"ftdi_sio\", \"latency_timer_ms\": null, \"usb_port\": \"usb:A\\\"1\", \"port\": "
              "\"usb:A\\\"1\"}\n"
              "]}\n");
    EXPECT_EQ(PortsJson({}), "{\"ports\": []}\n");
}

// Each adapter is shown with a name that tarnix takes for it alone, and what its descriptors
// say never reaches the terminal as a control sequence.
TEST(PortsReport, EveryAdapterGetsANameThatSelectsItAlone) {
    SerialPortInfo twin = UsbPort("/dev/ttyUSB3", "DUP", 0);
    twin.stableName = "/dev/serial/by-id/usb-FTDI_DUP-if00-port0";
    SerialPortInfo hostile = UsbPort("/dev/ttyUSB4", "E\x1b[2J", 0);
    hostile.product =
        "Evil\x9b"
        "31m";
    const std::vector<SerialPortInfo> ports = {
        UsbPort("/dev/ttyUSB0", "AB:1", 0), UsbPort("/dev/ttyUSB1", "AB", 0),
        UsbPort("/dev/ttyUSB2", "AB", 1),   twin,
        UsbPort("/dev/ttyUSB5", "DUP", 0),  hostile};
    const std::string usb = "USB 0403:6010, FTDI, Dual RS232-HS, ";
    EXPECT_EQ(DescribePorts(ports),
              "/dev/ttyUSB0: " + usb +
                  "serial AB:1, interface 0, driver ftdi_sio, port /dev/ttyUSB0\n"
                  "/dev/ttyUSB1: " +
                  usb +
                  "serial AB, interface 0, driver ftdi_sio, port usb:AB:0\n"
                  "/dev/ttyUSB2: " +
                  usb +
                  "serial AB, interface 1, driver ftdi_sio, port /dev/ttyUSB2\n"
                  "/dev/ttyUSB3 (/dev/serial/by-id/usb-FTDI_DUP-if00-port0): " +
                  usb +
                  "serial DUP, interface 0, driver ftdi_sio, port "
                  "/dev/serial/by-id/usb-FTDI_DUP-if00-port0\n"
                  "/dev/ttyUSB5: " +
                  usb +
                  "serial DUP, interface 0, driver ftdi_sio, port /dev/ttyUSB5\n"
                  "/dev/ttyUSB4: USB 0403:6010, FTDI, Evil\\x9b31m, serial E\\x1b[2J, interface "
                  "0, driver ftdi_sio, port /dev/ttyUSB4\n");
}

TEST(PortsReport, JsonKeepsTheBytesOfASerialNumberThatIsNotUtf8) {
    std::string json = PortsJson({UsbPort("/dev/ttyUSB0", "A\xff", 0)});
    EXPECT_NE(json.find("\"serial_number\": \"A\xef\xbf\xbd\", \"serial_number_hex\": \"41ff\""),
              std::string::npos)
        << json;
    EXPECT_NE(json.find("\"usb_port\": null, \"port\": \"/dev/ttyUSB0\""), std::string::npos)
        << json;
}

TEST(PortsCommandLine, OnlyItsOptions) {
    struct Case {
        std::vector<const char*> args;
        bool accepted;
        bool json;
    };
    const Case cases[] = {
        {{}, true, false},         {{"--json"}, true, true},
        {{"--help"}, true, false}, {{"--version"}, true, false},
        {{"--jsn"}, false, false}, {{"COM1"}, false, false},
    };
    for (const Case& c : cases) {
        std::vector<const char*> argv = {"tarnix-ports"};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        PortsCommandLine commandLine;
        std::string error;
        EXPECT_EQ(
            ParsePortsCommandLine(static_cast<int>(argv.size()), argv.data(), &commandLine, &error),
            c.accepted)
            << argv.back();
        EXPECT_EQ(commandLine.json, c.json) << argv.back();
        EXPECT_EQ(error.empty(), c.accepted) << argv.back();
    }
}

}  // namespace
