#include "module_cli.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace tarnix;

namespace {

struct Parsed {
    bool accepted;
    ModuleCliOptions options;
    std::string error;
};

Parsed ParseDevice(const char* device) {
    std::vector<std::string> args = {"tarnix-module", "--device", device};
    std::vector<char*> argv;
    for (std::string& arg : args) {
        argv.push_back(arg.data());
    }
    Parsed parsed;
    parsed.accepted = ParseModuleCommandLine(static_cast<int>(argv.size()), argv.data(),
                                             &parsed.options, &parsed.error);
    return parsed;
}

SerialPortInfo Adapter(const char* device, const char* serial) {
    SerialPortInfo port;
    port.device = device;
    port.serialNumber = serial;
    port.interfaceNumber = 0;
    return port;
}

// --device means what the same text means to tarnix: "3" is COM3's device, never a file "3"
// in the current folder.
TEST(ModuleDevice, TheDeviceFollowsTarnixsPortRule) {
    struct Case {
        const char* device;
        std::string path;  // "" when refused; then the error holds
        const char* errorPart;
    };
    const std::vector<SerialPortInfo> ports = {Adapter("/dev/ttyUSB3", "A1B2C3"),
                                               Adapter("/dev/ttyUSB4", "DUP"),
                                               Adapter("/dev/ttyUSB5", "DUP")};
    const Case cases[] = {
        {"3", "/dev/ttyS2", ""},
        {"COM3", "/dev/ttyS2", ""},
        {"ttyUSB0", "/dev/ttyUSB0", ""},
        {"/dev/pts/4", "/dev/pts/4", ""},
        {"usb:A1B2C3", "/dev/ttyUSB3", ""},
        {"usb:a1b2c3", "/dev/ttyUSB3", ""},
        {"usb:DUP", "", "usb:DUP: 2 adapters match"},
        {"usb:NONE", "", "usb:NONE: no serial adapter"},
        {"9", "", "bad value '9' for --device"},
        {"03", "", "bad value '03' for --device"},
        {"x y", "", "bad value 'x y' for --device"},
        {"rfc2217://127.0.0.1:2217", "", "is a network port"},
        {"socket://[::1]:4001", "", "is a network port"},
    };
    for (const Case& c : cases) {
        Parsed parsed = ParseDevice(c.device);
        std::string error = parsed.error;
        std::string path;
        if (parsed.accepted) {
            path = ModuleDevicePath(parsed.options.devicePort, ports, &error);
        }
        EXPECT_EQ(path, c.path) << c.device;
        EXPECT_NE(error.find(c.errorPart), std::string::npos) << c.device << ": " << error;
        EXPECT_EQ(path.empty(), !error.empty()) << c.device << ": " << error;
    }
}

}  // namespace
