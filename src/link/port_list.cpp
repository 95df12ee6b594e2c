#include "port_list.h"

#include <algorithm>

namespace {

char ToUpperAscii(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

bool SameIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return ToUpperAscii(x) == ToUpperAscii(y);
           });
}

bool Matches(const SerialPortInfo& port, std::string_view serialNumber, int interfaceNumber) {
    if (port.serialNumber.empty() || !SameIgnoringCase(port.serialNumber, serialNumber)) {
        return false;
    }
    return interfaceNumber == UNKNOWN_NUMBER || port.interfaceNumber == interfaceNumber;
}

long PortsWithSerial(const std::vector<SerialPortInfo>& ports, std::string_view serialNumber) {
    return std::count_if(ports.begin(), ports.end(), [&](const SerialPortInfo& port) {
        return Matches(port, serialNumber, UNKNOWN_NUMBER);
    });
}

std::string UsbPortFormsOf(const std::vector<SerialPortInfo>& ports,
                           const std::vector<SerialPortInfo>& all) {
    std::string list;
    for (const SerialPortInfo& port : ports) {
        if (port.serialNumber.empty()) {
            continue;
        }
        if (!list.empty()) {
            list += ", ";
        }
        list += UsbPortForm(all, port);
        list += " (";
        list += port.device;
        list += ')';
    }
    return list.empty() ? std::string("no adapter with a serial number") : list;
}

std::string NoneMatching(const std::vector<SerialPortInfo>& ports, std::string_view serialNumber,
                         int interfaceNumber) {
    std::string failure = "no serial adapter with USB serial number ";
    failure += serialNumber;
    if (interfaceNumber != UNKNOWN_NUMBER) {
        failure += " and interface ";
        failure += std::to_string(interfaceNumber);
    }
    failure += " (found: ";
    failure += UsbPortFormsOf(ports, ports);
    failure += ')';
    return failure;
}

std::string SeveralMatching(const std::vector<SerialPortInfo>& matching,
                            const std::vector<SerialPortInfo>& all, std::string_view serial) {
    std::string failure = std::to_string(matching.size());
    failure += " adapters match (";
    failure += UsbPortFormsOf(matching, all);
    failure += "): give usb:";
    failure += serial;
    failure += ":N";
    return failure;
}

// The hex digits after `key` ("VID_") up to the next separator, or "".
std::string ValueAfter(std::string_view id, std::string_view key) {
    std::string upper;
    for (char c : id) {
        upper += ToUpperAscii(c);
    }
    size_t at = upper.find(key);
    if (at == std::string::npos) {
        return "";
    }
    size_t start = at + key.size();
    size_t end = upper.find_first_of("&\\+", start);
    return std::string(
        id.substr(start, end == std::string::npos ? id.size() - start : end - start));
}

// Interface numbers are written in hex, by Windows ("MI_0A") as by sysfs ("0a").
int HexOrUnknown(std::string_view digits) {
    if (digits.empty() || digits.size() > 2) {
        return UNKNOWN_NUMBER;
    }
    int value = 0;
    for (char c : digits) {
        char upper = ToUpperAscii(c);
        bool decimal = upper >= '0' && upper <= '9';
        if (!decimal && !(upper >= 'A' && upper <= 'F')) {
            return UNKNOWN_NUMBER;
        }
        value = value * 16 + (decimal ? upper - '0' : upper - 'A' + 10);
    }
    return value;
}

}  // namespace

std::string UsbPortForm(const std::vector<SerialPortInfo>& ports, const SerialPortInfo& port) {
    if (port.serialNumber.empty()) {
        return "";
    }
    std::string form = "usb:";
    form += port.serialNumber;
    if (port.interfaceNumber != UNKNOWN_NUMBER && PortsWithSerial(ports, port.serialNumber) > 1) {
        form += ':';
        form += std::to_string(port.interfaceNumber);
    }
    return form;
}

UsbPortResolution ResolveUsbPort(const std::vector<SerialPortInfo>& ports,
                                 std::string_view serialNumber, int interfaceNumber) {
    std::vector<SerialPortInfo> matching;
    std::copy_if(
        ports.begin(), ports.end(), std::back_inserter(matching),
        [&](const SerialPortInfo& port) { return Matches(port, serialNumber, interfaceNumber); });
    if (matching.empty()) {
        return {.device = {}, .failure = NoneMatching(ports, serialNumber, interfaceNumber)};
    }
    if (matching.size() > 1) {
        return {.device = {}, .failure = SeveralMatching(matching, ports, serialNumber)};
    }
    return {.device = matching.front().device, .failure = {}};
}

std::string SerialFromUsbInstanceId(std::string_view instanceId) {
    if (!SameIgnoringCase(instanceId.substr(0, 4), "USB\\")) {
        return "";
    }
    size_t lastSlash = instanceId.rfind('\\');
    if (lastSlash < 4) {
        return "";  // no part after the IDs
    }
    std::string_view middle = instanceId.substr(4, lastSlash - 4);
    std::string_view last = instanceId.substr(lastSlash + 1);
    if (!ValueAfter(middle, "MI_").empty() || last.empty() ||
        last.find('&') != std::string_view::npos) {
        return "";
    }
    return std::string(last);
}

WindowsDeviceIds ParseWindowsDeviceIds(std::string_view hardwareId, std::string_view instanceId) {
    return {.vendorId = ValueAfter(hardwareId, "VID_"),
            .productId = ValueAfter(hardwareId, "PID_"),
            .interfaceNumber = HexOrUnknown(ValueAfter(hardwareId, "MI_")),
            .serialNumber = SerialFromUsbInstanceId(instanceId)};
}
