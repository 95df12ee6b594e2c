#include "fleet_ports.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

using namespace tarnix;

namespace {

PortIdentity Device(const char* device) {
    PortIdentity identity;
    identity.device = device;
    return identity;
}

PortIdentity Network(std::vector<std::string> addresses, uint16_t tcpPort) {
    PortIdentity identity;
    identity.addresses = std::move(addresses);
    identity.tcpPort = tcpPort;
    return identity;
}

PortIdentity Unresolved(const char* name) {
    PortIdentity identity;
    identity.unresolved = name;
    return identity;
}

// The rule over what the ports resolved to.
TEST(FleetPorts, OnePortIsOneDeviceOrOneEndpoint) {
    struct Case {
        PortIdentity a;
        PortIdentity b;
        bool same;
    };
    const Case cases[] = {
        {Device("/dev/ttyS0"), Device("/dev/ttyS0"), true},
        {Device("/dev/ttyS0"), Device("/dev/ttyS1"), false},
        {Network({"::1"}, 2217), Network({"::1"}, 2217), true},
        {Network({"127.0.0.1", "::1"}, 2217), Network({"::1"}, 2217), true},
        {Network({"127.0.0.1"}, 2217), Network({"::1"}, 2217), false},
        {Network({"127.0.0.1"}, 2217), Network({"127.0.0.1"}, 2218), false},
        {Unresolved("usb:x"), Unresolved("usb:x"), true},
        {Unresolved("usb:x"), Unresolved("usb:y"), false},
        {Unresolved("/dev/ttys0"), Device("/dev/ttys0"), false},
        {Network({"127.0.0.1"}, 1), Unresolved("127.0.0.1"), false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SamePort(c.a, c.b), c.same);
        EXPECT_EQ(SamePort(c.b, c.a), c.same);
    }
    auto repeated =
        FindRepeatedPort({Device("/a"), Device("/b"), Network({"::1"}, 1), Device("/b")});
    ASSERT_TRUE(repeated.has_value());
    EXPECT_EQ(*repeated, std::make_pair(size_t{1}, size_t{3}));
    EXPECT_FALSE(FindRepeatedPort({Device("/a"), Device("/b")}).has_value());
}

// Names that differ for one port, resolved on this machine: COM numbers, links, the forms of
// one address. Only numeric addresses and localhost are looked up.
TEST(FleetPorts, TwoNamesOfOnePortAreRefused) {
    std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("fleet-ports-" + std::to_string(getpid()));
    std::filesystem::create_directories(folder);
    std::filesystem::path device = folder / "ttyFAKE0";
    { std::ofstream(device.string()) << ""; }
    std::filesystem::create_symlink(device, folder / "by-id-link");
    const std::string target = device.string();
    const std::string link = (folder / "by-id-link").string();
    struct Case {
        std::vector<std::string> ports;
        bool distinct;
    };
    const Case cases[] = {
        {{"1", "/dev/ttyS0"}, false},
        {{"COM2", "ttyS1"}, false},
        {{"1", "2"}, true},
        {{target, link}, false},
        {{link, folder.string() + "/./ttyFAKE0"}, false},
        {{"rfc2217://[::1]:2217", "rfc2217://[0:0:0:0:0:0:0:1]:2217"}, false},
        {{"rfc2217://127.0.0.1:2217", "socket://127.0.0.1:2217"}, false},
        {{"rfc2217://127.0.0.1:2217", "rfc2217://localhost:2217"}, false},
        {{"rfc2217://127.0.0.1:2217", "rfc2217://127.0.0.1:2218"}, true},
        {{"rfc2217://127.0.0.1:2217", "rfc2217://127.0.0.2:2217"}, true},
        {{"usb:NOT-PLUGGED-1", "usb:not-plugged-1"}, false},
    };
    for (const Case& c : cases) {
        std::string error;
        EXPECT_EQ(CheckPortsDistinct(c.ports, &error), c.distinct)
            << testing::PrintToString(c.ports);
        if (!c.distinct) {
            EXPECT_EQ(error, "port '" + c.ports[1] + "' given twice ('" + c.ports[0] +
                                 "' is the same port)");
        }
    }
    std::filesystem::remove_all(folder);
}

}  // namespace
