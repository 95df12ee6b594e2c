#include "port_list.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

using namespace tarnix;

namespace fs = std::filesystem;

namespace {

// A sysfs tree and a /dev as Linux lays them out, in a temporary folder.
class FakeSysfs : public testing::Test {
protected:
    void SetUp() override {
        root_ = fs::temp_directory_path() / ("port_list_test_" + std::to_string(getpid()));
        fs::remove_all(root_);
    }
    void TearDown() override { fs::remove_all(root_); }

    void Write(const std::string& file, const std::string& text) {
        fs::create_directories((root_ / file).parent_path());
        std::ofstream(root_ / file) << text << "\n";
    }
    void Link(const std::string& link, const std::string& target) {
        fs::create_directories((root_ / link).parent_path());
        fs::create_symlink(target, root_ / link);
    }
    // A tty whose device is `device` (under sys/devices), bound to `driver`.
    void Tty(const std::string& name, const std::string& device, const std::string& driver) {
        Link("sys/class/tty/" + name + "/device", "../../../devices/" + device);
        Link("sys/devices/" + device + "/driver", "../../../../bus/drivers/" + driver);
        fs::create_directories(root_ / "sys/bus/drivers" / driver);
    }
    void UsbDevice(const std::string& path, const std::string& pid, const std::string& product,
                   const std::string& serial) {
        const std::string folder = "sys/devices/" + path;
        Write(folder + "/idVendor", "0403");
        Write(folder + "/idProduct", pid);
        Write(folder + "/manufacturer", "FTDI");
        Write(folder + "/product", product);
        Write(folder + "/serial", serial);
    }

    fs::path root_;
};

// device|stable name|VID|PID|manufacturer|product|serial|interface|driver|latency
std::string Row(const SerialPortInfo& p, const fs::path& root) {
    std::string device = fs::path(p.device).lexically_relative(root).string();
    std::string stable =
        p.stableName.empty() ? "" : fs::path(p.stableName).lexically_relative(root).string();
    return device + "|" + stable + "|" + p.vendorId + "|" + p.productId + "|" + p.manufacturer +
           "|" + p.product + "|" + p.serialNumber + "|" + std::to_string(p.interfaceNumber) + "|" +
           p.driver + "|" + std::to_string(p.latencyTimerMs);
}

TEST_F(FakeSysfs, ListsUsbAdaptersAndUartsAndSkipsTheRest) {
    const std::string usb = "pci0000:00/0000:00:14.0/usb1";
    UsbDevice(usb + "/1-1", "6001", "FT232R USB UART", "A1B2C3");
    Write("sys/devices/" + usb + "/1-1/1-1:1.0/bInterfaceNumber", "00");
    Tty("ttyUSB0", usb + "/1-1/1-1:1.0/ttyUSB0", "ftdi_sio");
    Write("sys/devices/" + usb + "/1-1/1-1:1.0/ttyUSB0/latency_timer", "16");
    Link("dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0", "../../ttyUSB0");
    UsbDevice(usb + "/1-2", "6010", "Dual RS232-HS", "FT2X");
    for (std::string i : {"0", "1"}) {
        Write("sys/devices/" + usb + "/1-2/1-2:1." + i + "/bInterfaceNumber", "0" + i);
        std::string tty = i == "0" ? "ttyUSB2" : "ttyUSB10";
        Tty(tty, usb + "/1-2/1-2:1." + i + "/" + tty, "ftdi_sio");
    }
    // Linux 6.5 and later: the serial core's own devices between the UART and its tty.
    const std::string uart = "platform/serial8250/serial8250:0/serial8250:0.0";
    Tty("ttyS0", uart, "port");
    Link("sys/devices/" + uart + "/subsystem", "../../../../bus/serial-base");
    Link("sys/devices/platform/serial8250/serial8250:0/subsystem", "../../../bus/serial-base");
    Link("sys/devices/platform/serial8250/driver", "../../../bus/drivers/serial8250");
    Write("sys/class/tty/ttyS0/type", "4");
    Tty("ttyS1", "platform/serial8250/tty/ttyS1", "serial8250");
    Write("sys/class/tty/ttyS1/type", "0");                // no UART behind it
    fs::create_directories(root_ / "sys/class/tty/tty0");  // a console: no device link

    const std::vector<std::string> expected = {
        "dev/ttyS0|||||||-1|serial8250|-1",
        "dev/ttyUSB0|dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0|0403|6001|"
        "FTDI|FT232R USB UART|A1B2C3|0|ftdi_sio|16",
        "dev/ttyUSB2||0403|6010|FTDI|Dual RS232-HS|FT2X|0|ftdi_sio|-1",
        "dev/ttyUSB10||0403|6010|FTDI|Dual RS232-HS|FT2X|1|ftdi_sio|-1",
    };
    std::vector<std::string> rows;
    for (const SerialPortInfo& port : ListSerialPortsIn(root_ / "sys", root_ / "dev")) {
        rows.push_back(Row(port, root_));
    }
    EXPECT_EQ(rows, expected);
}

TEST_F(FakeSysfs, NoSysfsIsNoPorts) {
    EXPECT_TRUE(ListSerialPortsIn(root_ / "sys", root_ / "dev").empty());
}

SerialPortInfo Port(const std::string& device, const std::string& serial, int interfaceNumber) {
    SerialPortInfo port;
    port.device = device;
    port.serialNumber = serial;
    port.interfaceNumber = interfaceNumber;
    return port;
}

TEST(UsbPort, OneMatchingPortIsChosenElseTheMessageSaysWhatToWrite) {
    const std::vector<SerialPortInfo> ports = {
        Port("/dev/ttyS0", "", UNKNOWN_NUMBER),
        Port("/dev/ttyUSB0", "A1B2C3", 0),
        Port("/dev/ttyUSB1", "FT2X", 0),
        Port("/dev/ttyUSB2", "FT2X", 1),
    };
    const std::string found =
        "usb:A1B2C3 (/dev/ttyUSB0), usb:FT2X:0 (/dev/ttyUSB1), "
        "usb:FT2X:1 (/dev/ttyUSB2))";
    struct Case {
        const char* serial;
        int interfaceNumber;
        std::string device;   // chosen, or "" when
        std::string failure;  // this is the reason
    };
    const Case cases[] = {
        {"A1B2C3", UNKNOWN_NUMBER, "/dev/ttyUSB0", ""},
        {"a1b2c3", UNKNOWN_NUMBER, "/dev/ttyUSB0", ""},
        {"A1B2C3", 0, "/dev/ttyUSB0", ""},
        {"FT2X", 1, "/dev/ttyUSB2", ""},
        {"FT2X", UNKNOWN_NUMBER, "",
         "2 adapters match (usb:FT2X:0 (/dev/ttyUSB1), usb:FT2X:1 (/dev/ttyUSB2)): give "
         "usb:FT2X:N"},
        {"FT2X", 2, "",
         "no serial adapter with USB serial number FT2X and interface 2 (found: " + found},
        {"A1B2C", UNKNOWN_NUMBER, "",
         "no serial adapter with USB serial number A1B2C (found: " + found},
    };
    for (const Case& c : cases) {
        UsbPortResolution resolution = ResolveUsbPort(ports, c.serial, c.interfaceNumber);
        EXPECT_EQ(resolution.device, c.device) << c.serial << ":" << c.interfaceNumber;
        EXPECT_EQ(resolution.failure, c.failure) << c.serial << ":" << c.interfaceNumber;
    }
    EXPECT_EQ(ResolveUsbPort({ports[0]}, "X", UNKNOWN_NUMBER).failure,
              "no serial adapter with USB serial number X (found: no adapter with a serial "
              "number)");
}

// usb: forms against tables of plugged-in adapters: each form names one port or is refused as
// ambiguous, and an interface is never chosen in place of an adapter whose serial number is the
// whole text.
TEST(UsbPort, AFormNamesOnePortOrIsAmbiguous) {
    const std::string AMBIGUOUS = "ambiguous";
    const std::string NONE = "none";
    struct Case {
        std::vector<SerialPortInfo> ports;
        const char* form;
        std::string device;  // or AMBIGUOUS, NONE
    };
    const auto literalAndTwoPort =
        std::vector<SerialPortInfo>{Port("/dev/ttyUSB0", "AB:1", 0), Port("/dev/ttyUSB1", "AB", 0),
                                    Port("/dev/ttyUSB2", "AB", 1)};
    const auto cases = std::vector<Case>{
        {literalAndTwoPort, "usb:AB:1", AMBIGUOUS},
        {literalAndTwoPort, "usb:AB:0", "/dev/ttyUSB1"},
        {literalAndTwoPort, "usb:AB", AMBIGUOUS},
        {{Port("/dev/ttyUSB0", "AB:1", 0)}, "usb:AB:1", "/dev/ttyUSB0"},
        {{Port("/dev/ttyUSB0", "ab:1", 0), Port("/dev/ttyUSB1", "AB", 1)}, "usb:AB:1", AMBIGUOUS},
        {{Port("/dev/ttyUSB1", "AB", 0), Port("/dev/ttyUSB2", "AB", 1)},
         "usb:AB:1",
         "/dev/ttyUSB2"},
        // An exact serial number beats one that matches only ignoring case.
        {{Port("/dev/ttyUSB0", "abc", 0), Port("/dev/ttyUSB1", "ABC", 0)},
         "usb:abc",
         "/dev/ttyUSB0"},
        {{Port("/dev/ttyUSB0", "abc", 0), Port("/dev/ttyUSB1", "ABC", 0)},
         "usb:ABC",
         "/dev/ttyUSB1"},
        {{Port("/dev/ttyUSB0", "abc", 0), Port("/dev/ttyUSB1", "ABC", 0)}, "usb:Abc", AMBIGUOUS},
        {{Port("/dev/ttyUSB0", "abc", 0), Port("/dev/ttyUSB1", "abc", 1),
          Port("/dev/ttyUSB2", "ABC", 0)},
         "usb:ABC:1",
         NONE},
        {{Port("/dev/ttyUSB0", "abc", 0)}, "usb:ABC", "/dev/ttyUSB0"},
        {{Port("/dev/ttyUSB0", "DUP", 0), Port("/dev/ttyUSB1", "DUP", 0)}, "usb:DUP", AMBIGUOUS},
        {{Port("/dev/ttyUSB0", "DUP", 0), Port("/dev/ttyUSB1", "DUP", 0)}, "usb:DUP:0", AMBIGUOUS},
    };
    for (const Case& c : cases) {
        std::string serial;
        int interfaceNumber = UNKNOWN_NUMBER;
        ASSERT_TRUE(ParseUsbPortForm(c.form, &serial, &interfaceNumber)) << c.form;
        std::vector<SerialPortInfo> named = UsbPortCandidates(c.ports, serial, interfaceNumber);
        std::string device = named.empty() ? NONE : named.size() > 1 ? AMBIGUOUS : named[0].device;
        EXPECT_EQ(device, c.device) << c.form << " among " << c.ports.size();
        UsbPortResolution resolution = ResolveUsbPort(c.ports, serial, interfaceNumber);
        EXPECT_EQ(resolution.device, named.size() == 1 ? c.device : "") << c.form;
    }
}

// Refused as ambiguous, the message names every candidate by a name that selects it alone.
TEST(UsbPort, AnAmbiguousFormListsTheCandidates) {
    const std::vector<SerialPortInfo> ports = {Port("/dev/ttyUSB0", "AB:1", 0),
                                               Port("/dev/ttyUSB1", "AB", 0),
                                               Port("/dev/ttyUSB2", "AB", 1)};
    EXPECT_EQ(ResolveUsbPort(ports, "AB", 1).failure,
              "2 adapters match (/dev/ttyUSB2, /dev/ttyUSB0): give one of these names");
    SerialPortInfo twin = Port("/dev/ttyUSB4", "DUP", 0);
    twin.stableName = "/dev/serial/by-id/usb-X_DUP-if00-port0";
    EXPECT_EQ(ResolveUsbPort({Port("/dev/ttyUSB3", "DUP", 0), twin}, "DUP", UNKNOWN_NUMBER).failure,
              "2 adapters match (/dev/ttyUSB3, /dev/serial/by-id/usb-X_DUP-if00-port0 "
              "(/dev/ttyUSB4)): give one of these names");
}

// What tarnix-ports offers for a port is a name that tarnix takes and that names that port alone:
// the usb: form where it is, else the stable name, else the device.
TEST(UsbPort, TheOfferedNameSelectsExactlyThatPort) {
    SerialPortInfo spaced = Port("/dev/ttyUSB5", "A B", 0);
    spaced.stableName = "/dev/serial/by-id/usb-X_A_B-if00-port0";
    const std::vector<SerialPortInfo> ports = {Port("/dev/ttyUSB0", "AB:1", 0),
                                               Port("/dev/ttyUSB1", "AB", 0),
                                               Port("/dev/ttyUSB2", "AB", 1),
                                               Port("/dev/ttyUSB3", "DUP", 0),
                                               Port("/dev/ttyUSB4", "DUP", 0),
                                               spaced,
                                               Port("/dev/ttyUSB6", "abc", 0),
                                               Port("/dev/ttyUSB7", "ABC", 0),
                                               Port("/dev/ttyUSB8", "\xc3\xa9t\xc3\xa9", 0),
                                               Port("/dev/ttyUSB9", "Q:R", 0),
                                               Port("/dev/ttyS0", "", UNKNOWN_NUMBER)};
    const std::vector<std::string> expected = {
        "/dev/ttyUSB0", "usb:AB:0",     "/dev/ttyUSB2",
        "/dev/ttyUSB3", "/dev/ttyUSB4", "/dev/serial/by-id/usb-X_A_B-if00-port0",
        "usb:abc",      "usb:ABC",      "/dev/ttyUSB8",
        "/dev/ttyUSB9", "/dev/ttyS0"};
    ASSERT_EQ(ports.size(), expected.size());
    for (size_t i = 0; i < ports.size(); ++i) {
        EXPECT_EQ(PortSelectingName(ports, ports[i]), expected[i]) << ports[i].device;
    }
}

TEST(UsbPort, DescriptorTextIsMadeSafeForATerminal) {
    const std::pair<std::string, std::string> cases[] = {
        {"FT232R USB UART", "FT232R USB UART"},
        {"caf\xc3\xa9", "caf\xc3\xa9"},
        {"A\x1b]0;pwned\x07", "A\\x1b]0;pwned\\x07"},
        {"tab\tnl\n\x7f", "tab\\x09nl\\x0a\\x7f"},
        {"\xc2\x9b"
         "31m",
         "\\xc2\\x9b31m"},  // the C1 CSI as UTF-8
        {"\x9b"
         "31m\xe4",
         "\\x9b31m\xe4"},           // as a Latin-1 byte, beside a printable one
        {"\xe2\x82", "\xe2\\x82"},  // cut short
    };
    for (const auto& [text, safe] : cases) {
        EXPECT_EQ(TerminalSafeText(text), safe) << safe;
    }
}

TEST(WindowsDeviceStrings, VidPidInterfaceAndSerial) {
    struct Case {
        const char* hardwareId;
        const char* instanceId;
        std::string expected;  // VID|PID|interface|serial
    };
    const Case cases[] = {
        {"USB\\VID_0403&PID_6001&REV_0600", "USB\\VID_0403&PID_6001\\A1B2C3",
         "0403|6001|-1|A1B2C3"},
        {"USB\\VID_0403&PID_6010&MI_01", "USB\\VID_0403&PID_6010&MI_01\\7&1A2B3C&0&0001",
         "0403|6010|1|"},
        {"USB\\VID_0403&PID_6011&MI_0A", "", "0403|6011|10|"},
        {"USB\\VID_2341&PID_0043", "USB\\VID_2341&PID_0043\\5&2F0D0A1&0&3", "2341|0043|-1|"},
        {"usb\\vid_1a86&pid_7523", "usb\\vid_1a86&pid_7523\\abc", "1a86|7523|-1|abc"},
        {"FTDIBUS\\COMPORT&VID_0403&PID_6001", "FTDIBUS\\VID_0403+PID_6001+A1B2C3A\\0000",
         "0403|6001|-1|"},
        {"ACPI\\PNP0501", "ACPI\\PNP0501\\0", "||-1|"},
        {"", "USB\\", "||-1|"},
    };
    for (const Case& c : cases) {
        WindowsDeviceIds ids = ParseWindowsDeviceIds(c.hardwareId, c.instanceId);
        EXPECT_EQ(ids.vendorId + "|" + ids.productId + "|" + std::to_string(ids.interfaceNumber) +
                      "|" + ids.serialNumber,
                  c.expected)
            << c.hardwareId << " " << c.instanceId;
    }
    EXPECT_EQ(SerialFromUsbInstanceId("USB\\VID_0403&PID_6010\\FT2X"), "FT2X");
}

}  // namespace
