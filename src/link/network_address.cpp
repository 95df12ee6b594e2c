#include "network_address.h"

namespace {

constexpr std::string_view RFC2217_SCHEME = "rfc2217://";
constexpr std::string_view SOCKET_SCHEME = "socket://";
constexpr size_t MAX_HOST_LENGTH = 253;

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

bool IsHexDigit(char c) {
    return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

bool IsHostNameChar(char c) {
    return IsDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '-' || c == '.' ||
           c == '_';
}

// 1 to 65535, decimal, without a leading zero.
bool ParsePortNumber(std::string_view digits, uint16_t* port) {
    if (digits.empty() || digits.size() > 5 || digits[0] == '0') {
        return false;
    }
    unsigned value = 0;
    for (char c : digits) {
        if (!IsDigit(c)) {
            return false;
        }
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value > 65535) {
        return false;
    }
    *port = static_cast<uint16_t>(value);
    return true;
}

bool IsHostName(std::string_view host) {
    if (host.empty() || host.size() > MAX_HOST_LENGTH || host[0] == '-' || host[0] == '.') {
        return false;
    }
    for (char c : host) {
        if (!IsHostNameChar(c)) {
            return false;
        }
    }
    return true;
}

// Hex digits, colons and the dots of an embedded IPv4 address; at least one colon.
bool IsIpv6Address(std::string_view host) {
    if (host.find(':') == std::string_view::npos || host.size() > 45) {
        return false;
    }
    for (char c : host) {
        if (!IsHexDigit(c) && c != ':' && c != '.') {
            return false;
        }
    }
    return true;
}

// "HOST:PORT" or "[IPV6]:PORT".
bool ParseHostAndPort(std::string_view rest, std::string* host, uint16_t* port) {
    size_t colon = rest.rfind(':');
    if (colon == std::string_view::npos || !ParsePortNumber(rest.substr(colon + 1), port)) {
        return false;
    }
    std::string_view hostPart = rest.substr(0, colon);
    if (hostPart.size() >= 2 && hostPart.front() == '[' && hostPart.back() == ']') {
        hostPart = hostPart.substr(1, hostPart.size() - 2);
        if (!IsIpv6Address(hostPart)) {
            return false;
        }
    } else if (!IsHostName(hostPart)) {
        return false;
    }
    *host = std::string(hostPart);
    return true;
}

// Schemes are read in any letter case, as URLs are.
bool StartsWithScheme(std::string_view text, std::string_view scheme) {
    if (text.size() < scheme.size()) {
        return false;
    }
    for (size_t i = 0; i < scheme.size(); ++i) {
        char c = text[i];
        char lower = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
        if (lower != scheme[i]) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool LooksLikeUrl(std::string_view text) {
    return text.find("://") != std::string_view::npos;
}

bool ParseNetworkAddress(std::string_view text, NetworkAddress* address) {
    NetworkAddress parsed;
    if (StartsWithScheme(text, RFC2217_SCHEME)) {
        parsed.protocol = NetworkProtocol::Rfc2217;
        text.remove_prefix(RFC2217_SCHEME.size());
    } else if (StartsWithScheme(text, SOCKET_SCHEME)) {
        parsed.protocol = NetworkProtocol::RawTcp;
        text.remove_prefix(SOCKET_SCHEME.size());
    } else {
        return false;
    }
    if (!ParseHostAndPort(text, &parsed.host, &parsed.port)) {
        return false;
    }
    *address = parsed;
    return true;
}

std::string NetworkAddressName(const NetworkAddress& address) {
    std::string scheme(address.protocol == NetworkProtocol::Rfc2217 ? RFC2217_SCHEME
                                                                    : SOCKET_SCHEME);
    bool ipv6 = address.host.find(':') != std::string::npos;
    std::string host = ipv6 ? "[" + address.host + "]" : address.host;
    return scheme + host + ":" + std::to_string(address.port);
}
