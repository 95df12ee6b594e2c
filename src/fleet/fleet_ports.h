#pragma once
// Whether two PORT operands of tarnix-fleet are one port. Two tarnix on one port would fight
// over it (or, on a device server, over one module): the fleet refuses the command line. Names
// differ where ports do not: "1" and "/dev/ttyS0", a link and its device, "[::1]" and
// "[0:0:0:0:0:0:0:1]", "127.0.0.1" and "localhost". So each port is first resolved at the
// edge (ResolvePortIdentity), and a pure rule (SamePort) compares what it resolved to.

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "port_choice.h"

namespace tarnix {

// What a port resolved to. Exactly one kind is set.
struct PortIdentity {
    std::string device;  // a local device with its links followed ("/dev/ttyS0"); Windows "COM3"
    std::vector<std::string> addresses;  // a network port: its host's addresses, numeric
    uint16_t tcpPort = 0;                // and its TCP port
    std::string unresolved;  // what could not be resolved (a usb: form that names no adapter)
};

// True when the two identities name one port: one device; one TCP port on a host address that
// both have (whichever protocol is spoken: rfc2217:// and socket:// to one endpoint are one
// device server port); or the same unresolved name.
bool SamePort(const PortIdentity& a, const PortIdentity& b);

// The first port that is the same as an earlier one, as {earlier, later}; nothing when all
// differ.
std::optional<std::pair<size_t, size_t>> FindRepeatedPort(const std::vector<PortIdentity>& ports);

// The identity of a chosen port: a COM number as its device, a device with its links followed
// (realpath), a usb: form as the device of the one adapter it names among `ports`, a network
// port's host as its addresses (HostAddresses, fleet_process.h; a host that does not resolve
// stands for itself).
PortIdentity ResolvePortIdentity(const PortChoice& choice,
                                 const std::vector<SerialPortInfo>& ports);

// Refuses two operands that are one port: false with *error naming both. Reads the port list
// and resolves host names; nothing is opened.
bool CheckPortsDistinct(const std::vector<std::string>& ports, std::string* error);

}  // namespace tarnix
