#pragma once
// A port reached over the network: "rfc2217://HOST:PORT", a Telnet connection with the
// COM-PORT-OPTION that sets the far side's line, or "socket://HOST:PORT", a plain TCP
// connection to a far side already set to the line's settings. HOST is a host name (labels of
// letters, digits and hyphens, 1 to 63 characters, not beginning or ending with a hyphen, 253
// in all), an IPv4 address as four decimal numbers ("127.0.0.1", not "127.1") or an IPv6
// address in brackets as inet_pton reads it ("[::1]"). Anything else is refused before any
// name is looked up.

#include <cstdint>
#include <string>
#include <string_view>

namespace tarnix {

enum class NetworkProtocol { None, Rfc2217, RawTcp };

struct NetworkAddress {
    NetworkProtocol protocol = NetworkProtocol::None;
    std::string host;  // without the brackets of an IPv6 address
    uint16_t port = 0;
};

// True for any "scheme://..." text: one of another scheme is no port, and never a device path.
bool LooksLikeUrl(std::string_view text);

// Reads a network port; false for anything that is not exactly one of the two forms with a
// sound host and a port from 1 to 65535 (no user, path, query or spaces). *address is then
// unchanged.
bool ParseNetworkAddress(std::string_view text, NetworkAddress* address);

// The URL again, as the port's name in messages: "rfc2217://[::1]:2217".
std::string NetworkAddressName(const NetworkAddress& address);

}  // namespace tarnix
