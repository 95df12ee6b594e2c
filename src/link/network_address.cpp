#include "network_address.h"

#include <algorithm>
#include <string>
#include <vector>

namespace tarnix {

namespace {

constexpr std::string_view RFC2217_SCHEME = "rfc2217://";
constexpr std::string_view SOCKET_SCHEME = "socket://";
constexpr size_t MAX_HOST_LENGTH = 253;
constexpr size_t MAX_LABEL_LENGTH = 63;
constexpr int IPV6_GROUPS = 8;
constexpr std::string_view DIGITS = "0123456789";
constexpr std::string_view DIGITS_AND_DOTS = "0123456789.";

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

bool IsHexDigit(char c) {
    return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

bool IsLetterOrDigit(char c) {
    return IsDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
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

// The parts of `text` between `separator`s, empty ones included.
std::vector<std::string_view> SplitAt(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    for (size_t start = 0;;) {
        size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end == std::string_view::npos ? end : end - start));
        if (end == std::string_view::npos) {
            return parts;
        }
        start = end + 1;
    }
}

// Four decimal numbers 0 to 255 without leading zeros, as inet_pton reads them: no "127.1",
// no octal "010.0.0.1".
bool IsDottedQuad(std::string_view host) {
    std::vector<std::string_view> parts = SplitAt(host, '.');
    if (parts.size() != 4) {
        return false;
    }
    for (std::string_view part : parts) {
        if (part.empty() || part.size() > 3 || (part[0] == '0' && part.size() > 1) ||
            part.find_first_not_of(DIGITS) != std::string_view::npos ||
            std::stoi(std::string(part)) > 255) {
            return false;
        }
    }
    return true;
}

// Labels of letters, digits and hyphens, 1 to 63 characters, none beginning or ending with a
// hyphen, 253 characters in all. Digits and dots alone are an IPv4 address or nothing.
bool IsHostName(std::string_view host) {
    if (host.empty() || host.size() > MAX_HOST_LENGTH) {
        return false;
    }
    if (host.find_first_not_of(DIGITS_AND_DOTS) == std::string_view::npos) {
        return IsDottedQuad(host);
    }
    for (std::string_view label : SplitAt(host, '.')) {
        if (label.empty() || label.size() > MAX_LABEL_LENGTH || label.front() == '-' ||
            label.back() == '-' || !std::all_of(label.begin(), label.end(), [](char c) {
                return IsLetterOrDigit(c) || c == '-';
            })) {
            return false;
        }
    }
    return true;
}

// The 16-bit groups of one side of an IPv6 address's "::": groups of one to four hex digits
// between single colons, the last one may be a dotted IPv4 address (two groups). -1 when
// malformed.
int CountIpv6Groups(std::string_view side, bool ipv4AtEnd) {
    if (side.empty()) {
        return 0;
    }
    std::vector<std::string_view> groups = SplitAt(side, ':');
    int count = 0;
    for (size_t i = 0; i < groups.size(); ++i) {
        std::string_view group = groups[i];
        if (ipv4AtEnd && i + 1 == groups.size() && IsDottedQuad(group)) {
            count += 2;
        } else if (!group.empty() && group.size() <= 4 &&
                   std::all_of(group.begin(), group.end(), IsHexDigit)) {
            count += 1;
        } else {
            return -1;
        }
    }
    return count;
}

// The text forms of RFC 4291 that inet_pton(AF_INET6) reads: eight groups, or fewer with one
// "::" standing for one or more zero groups; no zone ("%eth0").
bool IsIpv6Address(std::string_view host) {
    size_t gap = host.find("::");
    if (gap == std::string_view::npos) {
        return CountIpv6Groups(host, true) == IPV6_GROUPS;
    }
    if (host.find("::", gap + 1) != std::string_view::npos) {
        return false;
    }
    int before = CountIpv6Groups(host.substr(0, gap), false);
    int after = CountIpv6Groups(host.substr(gap + 2), true);
    return before >= 0 && after >= 0 && before + after < IPV6_GROUPS;
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

}  // namespace tarnix
