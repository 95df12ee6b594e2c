#include "network_address.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <string>

using namespace tarnix;

namespace {

// The host rule, before anything is looked up: a malformed host never reaches the resolver.
TEST(NetworkAddress, OnlySoundHostsAreTaken) {
    struct Case {
        const char* url;
        bool taken;
    };
    const std::string longLabel(63, 'a');
    const std::string longName = longLabel + "." + longLabel + "." + longLabel + "." +
                                 std::string(61, 'b');  // 253 characters
    const Case cases[] = {
        {"rfc2217://localhost:1", true},
        {"rfc2217://device-server.lab.example:2217", true},
        {"socket://a1.b2:4001", true},
        {"rfc2217://127.0.0.1:1", true},
        {"rfc2217://255.255.255.255:1", true},
        {"rfc2217://[::1]:1", true},
        {"rfc2217://[::]:1", true},
        {"rfc2217://[fe80::1:2:3:4:5]:1", true},
        {"rfc2217://[1:2:3:4:5:6:7:8]:1", true},
        {"rfc2217://[::ffff:192.0.2.1]:1", true},
        {"rfc2217://[1:2:3:4:5:6:1.2.3.4]:1", true},
        {"rfc2217://[:]:1", false},
        {"rfc2217://[:::]:1", false},
        {"rfc2217://[1::2::3]:1", false},
        {"rfc2217://[1:2:3:4:5:6:7:8:9]:1", false},
        {"rfc2217://[1:2:3:4:5:6:7::8]:1", false},
        {"rfc2217://[12345::]:1", false},
        {"rfc2217://[:1]:1", false},
        {"rfc2217://[1:]:1", false},
        {"rfc2217://[::1.2.3]:1", false},
        {"rfc2217://[1.2.3.4::]:1", false},
        {"rfc2217://[fe80::1%eth0]:1", false},
        {"rfc2217://[127.0.0.1]:1", false},
        {"rfc2217://a..b:1", false},
        {"rfc2217://.a:1", false},
        {"rfc2217://a.:1", false},
        {"rfc2217://-a:1", false},
        {"rfc2217://a-.b:1", false},
        {"rfc2217://a_b:1", false},
        {"rfc2217://127.1:1", false},
        {"rfc2217://010.0.0.1:1", false},
        {"rfc2217://256.0.0.1:1", false},
        {"rfc2217://1.2.3.4.5:1", false},
    };
    for (const Case& c : cases) {
        NetworkAddress address;
        EXPECT_EQ(ParseNetworkAddress(c.url, &address), c.taken) << c.url;
    }
    NetworkAddress address;
    EXPECT_TRUE(ParseNetworkAddress("socket://" + longName + ":1", &address));
    EXPECT_FALSE(ParseNetworkAddress("socket://a" + longName + ":1", &address));
    EXPECT_FALSE(ParseNetworkAddress("socket://" + longLabel + "a.b:1", &address));
}

// The bracketed form is what the system's own reader of IPv6 addresses takes, no more, no less.
TEST(NetworkAddress, BracketedHostsAreWhatInetPtonReads) {
    for (const char* host : {"::",
                             "::1",
                             "1::",
                             "1:2:3:4:5:6:7:8",
                             "1:2:3:4:5:6:7::",
                             "::2:3:4:5:6:7:8",
                             "::ffff:1.2.3.4",
                             "::1.2.3.4",
                             "1:2:3:4:5:6:1.2.3.4",
                             "1:2:3:4:5:6:7:1.2.3.4",
                             ":",
                             ":::",
                             "1:::2",
                             "1::2::3",
                             "::1:",
                             ":1::",
                             "1:2:3:4:5:6:7",
                             "abcde::",
                             "g::",
                             "::1.2.3",
                             "::1.2.3.04",
                             "::256.1.1.1",
                             "1.2.3.4",
                             "1:2:3:4:5:6:7:8:9",
                             "::1.2.3.4:5"}) {
        unsigned char bytes[16];
        bool systemReads = inet_pton(AF_INET6, host, bytes) == 1;
        NetworkAddress address;
        EXPECT_EQ(ParseNetworkAddress(std::string("rfc2217://[") + host + "]:1", &address),
                  systemReads)
            << host;
    }
}

}  // namespace
