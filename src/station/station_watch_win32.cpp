// Watching ports on Windows, which has no device paths to glob: a path pattern is matched
// against the COM names of the machine's port list (SetupAPI, as tarnix-ports shows them:
// COM1?, COM*, also written \\.\COM*), and a port's identity is the device that its DOS name
// leads to now (\Device\VCP0), so that a port that has gone is seen as gone.

#include <windows.h>

#include "port_list.h"
#include "station_slots.h"

namespace tarnix {

namespace {

constexpr char DEVICE_NAMESPACE[] = "\\\\.\\";

}  // namespace

std::vector<std::string> MatchingPaths(const std::string& pattern) {
    std::vector<std::string> names;
    for (const SerialPortInfo& info : ListSerialPorts()) {
        if (WildcardMatches(pattern, info.device) ||
            WildcardMatches(pattern, DEVICE_NAMESPACE + info.device)) {
            names.push_back(info.device);
        }
    }
    return names;
}

std::string PathIdentity(const std::string& path) {
    std::string name = path.rfind(DEVICE_NAMESPACE, 0) == 0 ? path.substr(4) : path;
    char target[1024] = "";
    if (name.empty() || QueryDosDeviceA(name.c_str(), target, sizeof target) == 0) {
        return "";
    }
    return target;
}

// Case does not count: Windows writes the serial numbers in capitals.
bool SerialMatches(const std::string& pattern, const std::string& serialNumber) {
    return !serialNumber.empty() && WildcardMatches(pattern, serialNumber);
}

}  // namespace tarnix
