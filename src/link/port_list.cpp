#include "port_list.h"

#include <algorithm>
#include <cstdint>

namespace tarnix {

namespace {

char ToUpperAscii(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

bool SameIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return ToUpperAscii(x) == ToUpperAscii(y);
           });
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Interface numbers of usb:SERIAL:N, 0 to 255 in decimal without leading zeros.
bool ParseInterfaceNumber(std::string_view digits, int* number) {
    if (digits.empty() || digits.size() > 3 || (digits[0] == '0' && digits.size() > 1)) {
        return false;
    }
    int value = 0;
    for (char c : digits) {
        if (!IsDigit(c)) {
            return false;
        }
        value = value * 10 + (c - '0');
    }
    if (value > 255) {
        return false;
    }
    *number = value;
    return true;
}

bool IsSerialNumberText(std::string_view text) {
    for (char c : text) {
        if (c <= ' ' || c > '~' || c == ':') {
            return false;
        }
    }
    return !text.empty();
}

// The ports of one reading of a usb: form. Where some adapter's serial number is exactly
// `serial`, only the exact ones count: "abc" is not "ABC" when both are plugged in, nor is
// interface 1 of "abc" taken for a missing interface 1 of "ABC".
std::vector<SerialPortInfo> PortsOfReading(const std::vector<SerialPortInfo>& ports,
                                           std::string_view serial, int interfaceNumber) {
    bool anyExact = std::any_of(ports.begin(), ports.end(), [&](const SerialPortInfo& port) {
        return port.serialNumber == serial;
    });
    std::vector<SerialPortInfo> matching;
    for (const SerialPortInfo& port : ports) {
        bool serialMatches =
            anyExact ? port.serialNumber == serial
                     : !port.serialNumber.empty() && SameIgnoringCase(port.serialNumber, serial);
        if (serialMatches &&
            (interfaceNumber == UNKNOWN_NUMBER || port.interfaceNumber == interfaceNumber)) {
            matching.push_back(port);
        }
    }
    return matching;
}

// "usb:FT2X:0 (/dev/ttyUSB1)": the name that selects the port, and its device where that is
// another text.
std::string PortLabel(const std::vector<SerialPortInfo>& all, const SerialPortInfo& port) {
    std::string name = TerminalSafeText(PortSelectingName(all, port));
    return name == port.device ? name : name + " (" + TerminalSafeText(port.device) + ")";
}

std::string PortLabels(const std::vector<SerialPortInfo>& ports,
                       const std::vector<SerialPortInfo>& all) {
    std::string list;
    for (const SerialPortInfo& port : ports) {
        if (port.serialNumber.empty()) {
            continue;
        }
        list += list.empty() ? "" : ", ";
        list += PortLabel(all, port);
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
    failure += PortLabels(ports, ports);
    failure += ')';
    return failure;
}

// The ports of one adapter, each with its own interface number: usb:SERIAL:N tells them apart.
bool InterfacesOfOneAdapter(const std::vector<SerialPortInfo>& matching) {
    std::vector<int> interfaces;
    for (const SerialPortInfo& port : matching) {
        if (port.serialNumber != matching.front().serialNumber ||
            port.interfaceNumber == UNKNOWN_NUMBER ||
            std::find(interfaces.begin(), interfaces.end(), port.interfaceNumber) !=
                interfaces.end()) {
            return false;
        }
        interfaces.push_back(port.interfaceNumber);
    }
    return true;
}

std::string SeveralMatching(const std::vector<SerialPortInfo>& matching,
                            const std::vector<SerialPortInfo>& all, std::string_view serial,
                            int interfaceNumber) {
    std::string failure = std::to_string(matching.size());
    failure += " adapters match (";
    failure += PortLabels(matching, all);
    failure += "): give ";
    if (interfaceNumber == UNKNOWN_NUMBER && InterfacesOfOneAdapter(matching)) {
        failure += "usb:";
        failure += serial;
        failure += ":N";
    } else {
        failure += "one of these names";
    }
    return failure;
}

// True when `form` is a usb: form that names `port` and no other.
bool FormNamesOnly(const std::vector<SerialPortInfo>& ports, const std::string& form,
                   const SerialPortInfo& port) {
    std::string serial;
    int interfaceNumber = UNKNOWN_NUMBER;
    if (!ParseUsbPortForm(form, &serial, &interfaceNumber)) {
        return false;
    }
    std::vector<SerialPortInfo> named = UsbPortCandidates(ports, serial, interfaceNumber);
    return named.size() == 1 && named.front().device == port.device;
}

// The length of the well-formed UTF-8 sequence at text[at] and its code point; 0 for none.
size_t Utf8Sequence(std::string_view text, size_t at, uint32_t* codePoint) {
    static const uint32_t SMALLEST[] = {0, 0, 0x80, 0x800, 0x10000};
    auto lead = static_cast<unsigned char>(text[at]);
    size_t length = lead < 0x80 ? 1 : lead < 0xC2 ? 0 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    if (length == 0 || lead > 0xF4 || at + length > text.size()) {
        return 0;
    }
    uint32_t value = length == 1 ? lead : lead & (0x7Fu >> length);
    for (size_t i = 1; i < length; ++i) {
        auto next = static_cast<unsigned char>(text[at + i]);
        if ((next & 0xC0) != 0x80) {
            return 0;
        }
        value = (value << 6) | (next & 0x3Fu);
    }
    if (value < SMALLEST[length] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
        return 0;
    }
    *codePoint = value;
    return length;
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

bool ParseUsbPortForm(std::string_view text, std::string* serialNumber, int* interfaceNumber) {
    if (text.size() < 4 || !SameIgnoringCase(text.substr(0, 4), "usb:")) {
        return false;
    }
    text.remove_prefix(4);
    size_t colon = text.find(':');
    int number = UNKNOWN_NUMBER;
    if (!IsSerialNumberText(text.substr(0, colon)) ||
        (colon != std::string_view::npos &&
         !ParseInterfaceNumber(text.substr(colon + 1), &number))) {
        return false;
    }
    *serialNumber = std::string(text.substr(0, colon));
    *interfaceNumber = number;
    return true;
}

std::vector<SerialPortInfo> UsbPortCandidates(const std::vector<SerialPortInfo>& ports,
                                              std::string_view serialNumber, int interfaceNumber) {
    std::vector<SerialPortInfo> named = PortsOfReading(ports, serialNumber, interfaceNumber);
    if (interfaceNumber != UNKNOWN_NUMBER) {
        std::string whole = std::string(serialNumber) + ":" + std::to_string(interfaceNumber);
        std::vector<SerialPortInfo> wholeNamed = PortsOfReading(ports, whole, UNKNOWN_NUMBER);
        named.insert(named.end(), wholeNamed.begin(), wholeNamed.end());
    }
    return named;
}

UsbPortResolution ResolveUsbPort(const std::vector<SerialPortInfo>& ports,
                                 std::string_view serialNumber, int interfaceNumber) {
    std::vector<SerialPortInfo> named = UsbPortCandidates(ports, serialNumber, interfaceNumber);
    if (named.empty()) {
        return {.device = {}, .failure = NoneMatching(ports, serialNumber, interfaceNumber)};
    }
    if (named.size() > 1) {
        return {.device = {},
                .failure = SeveralMatching(named, ports, serialNumber, interfaceNumber)};
    }
    return {.device = named.front().device, .failure = {}};
}

// The short form first: usb:SERIAL where the adapter has one port.
std::string UsbPortForm(const std::vector<SerialPortInfo>& ports, const SerialPortInfo& port) {
    std::string form = "usb:" + port.serialNumber;
    if (FormNamesOnly(ports, form, port)) {
        return form;
    }
    if (port.interfaceNumber != UNKNOWN_NUMBER) {
        form += ':' + std::to_string(port.interfaceNumber);
        if (FormNamesOnly(ports, form, port)) {
            return form;
        }
    }
    return "";
}

std::string PortSelectingName(const std::vector<SerialPortInfo>& ports,
                              const SerialPortInfo& port) {
    std::string form = UsbPortForm(ports, port);
    if (!form.empty()) {
        return form;
    }
    return port.stableName.empty() ? port.device : port.stableName;
}

// A byte from 0xA0 up that is not UTF-8 (Windows' ANSI code page, a Latin-1 serial number) is
// printable in either reading and passes; 0x80 to 0x9F alone are C1 controls to an 8-bit
// terminal.
std::string TerminalSafeText(std::string_view text) {
    static const char HEX[] = "0123456789abcdef";
    std::string safe;
    for (size_t at = 0; at < text.size();) {
        uint32_t codePoint = 0;
        size_t length = Utf8Sequence(text, at, &codePoint);
        auto byte = static_cast<unsigned char>(text[at]);
        bool control = length == 0 ? byte < 0xA0
                                   : codePoint < 0x20 || (codePoint >= 0x7F && codePoint <= 0x9F);
        if (control) {
            safe += "\\x";
            safe += HEX[byte >> 4];
            safe += HEX[byte & 0x0F];
            ++at;
            continue;
        }
        length = std::max<size_t>(length, 1);
        safe.append(text, at, length);
        at += length;
    }
    return safe;
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

}  // namespace tarnix
