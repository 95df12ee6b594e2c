// The edge of the same-port rule: what each PORT operand stands for on this machine, with the
// file system's links followed and host names looked up.

#include <cctype>
#include <filesystem>

#include "fleet_ports.h"
#include "fleet_process.h"
#include "port_backend.h"

namespace tarnix {

namespace {

// A device path with its links followed, as far as it exists (an unplugged adapter's path
// stays as written, made normal).
std::string FollowedDevice(const std::string& path) {
    std::error_code error;
    std::filesystem::path followed = std::filesystem::weakly_canonical(path, error);
    return error ? std::filesystem::path(path).lexically_normal().string() : followed.string();
}

std::string Lowercase(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

// COM<n>: its device where the platform has device paths, else the name Windows opens.
std::string ComPortIdentity(int comNr) {
    if (PlatformPortForms() == PortForms::Windows) {
        return "COM" + std::to_string(comNr);
    }
    return FollowedDevice(ComPortDevicePath(comNr));
}

}  // namespace

PortIdentity ResolvePortIdentity(const PortChoice& choice,
                                 const std::vector<SerialPortInfo>& ports) {
    PortIdentity identity;
    if (choice.network.protocol != NetworkProtocol::None) {
        identity.addresses = HostAddresses(choice.network.host);
        if (identity.addresses.empty()) {
            identity.addresses.push_back(Lowercase(choice.network.host));
        }
        identity.tcpPort = choice.network.port;
    } else if (!choice.usbSerial.empty()) {
        std::string device = ResolveUsbPort(ports, choice.usbSerial, choice.usbInterface).device;
        if (device.empty()) {
            identity.unresolved = Lowercase(PortChoiceName(choice));
        } else {
            PortChoice deviceChoice;
            bool named = ParsePortChoice(device, PlatformPortForms(), &deviceChoice) &&
                         deviceChoice.usbSerial.empty();
            identity.unresolved = named ? "" : device;
            identity = named ? ResolvePortIdentity(deviceChoice, ports) : identity;
        }
    } else if (!choice.devicePath.empty()) {
        identity.device = FollowedDevice(choice.devicePath);
    } else {
        identity.device = ComPortIdentity(choice.comNr);
    }
    return identity;
}

bool CheckPortsDistinct(const std::vector<std::string>& ports, std::string* error) {
    std::vector<SerialPortInfo> listed;
    std::vector<PortIdentity> identities;
    for (const std::string& port : ports) {
        PortChoice choice;
        if (!ParsePortChoice(port, PlatformPortForms(), &choice)) {
            return true;  // refused with its own message where the command line is read
        }
        if (!choice.usbSerial.empty() && listed.empty()) {
            listed = ListSerialPorts();
        }
        identities.push_back(ResolvePortIdentity(choice, listed));
    }
    std::optional<std::pair<size_t, size_t>> repeated = FindRepeatedPort(identities);
    if (repeated) {
        *error = "port '" + ports[repeated->second] + "' given twice ('" + ports[repeated->first] +
                 "' is the same port)";
        return false;
    }
    return true;
}

}  // namespace tarnix
