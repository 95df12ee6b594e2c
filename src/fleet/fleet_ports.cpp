#include "fleet_ports.h"

#include <algorithm>

namespace tarnix {

bool SamePort(const PortIdentity& a, const PortIdentity& b) {
    if (!a.device.empty() || !b.device.empty()) {
        return a.device == b.device;
    }
    if (!a.unresolved.empty() || !b.unresolved.empty()) {
        return a.unresolved == b.unresolved;
    }
    if (a.tcpPort != b.tcpPort) {
        return false;
    }
    return std::any_of(a.addresses.begin(), a.addresses.end(), [&](const std::string& address) {
        return std::find(b.addresses.begin(), b.addresses.end(), address) != b.addresses.end();
    });
}

std::optional<std::pair<size_t, size_t>> FindRepeatedPort(const std::vector<PortIdentity>& ports) {
    for (size_t later = 1; later < ports.size(); ++later) {
        for (size_t earlier = 0; earlier < later; ++earlier) {
            if (SamePort(ports[earlier], ports[later])) {
                return std::make_pair(earlier, later);
            }
        }
    }
    return std::nullopt;
}

}  // namespace tarnix
