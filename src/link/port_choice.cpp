#include "port_choice.h"

#include <cstdio>

#include "port_backend.h"

namespace tarnix {

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

bool IsLetter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// Decimal digits without a leading zero, within MIN_COM_NR..MAX_COM_NR.
bool ParseComNumber(std::string_view digits, int* comNr) {
    if (digits.empty() || digits.size() > 3 || digits[0] == '0') {
        return false;
    }
    int value = 0;
    for (char c : digits) {
        if (!IsDigit(c)) {
            return false;
        }
        value = value * 10 + (c - '0');
    }
    if (value < MIN_COM_NR || value > MAX_COM_NR) {
        return false;
    }
    *comNr = value;
    return true;
}

bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

char ToUpper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

// "COM" in any case followed by a digit: a COM port, whether its number is valid or not, as
// Windows reads its port names.
bool HasComForm(std::string_view text) {
    if (text.size() < 4 || !IsDigit(text[3])) {
        return false;
    }
    return ToUpper(text[0]) == 'C' && ToUpper(text[1]) == 'O' && ToUpper(text[2]) == 'M';
}

// A single digit, COMn or comn, and on Windows \\.\COMn. Nothing else is a COM number.
bool ParseComForm(std::string_view text, PortForms forms, int* comNr) {
    if (text.size() == 1 && text[0] >= '1' && text[0] <= '0' + MAX_DIGIT_COM_NR) {
        *comNr = text[0] - '0';
        return true;
    }
    if (forms == PortForms::Windows && StartsWith(text, "\\\\.\\")) {
        text.remove_prefix(4);
    }
    return HasComForm(text) && ParseComNumber(text.substr(3), comNr);
}

// "ttyUSB0", "ttyACM0", "rfcomm0": a letter, then letters, digits, '_', '-' or '.'.
bool IsDeviceName(std::string_view text) {
    if (text.empty() || !IsLetter(text[0]) || HasComForm(text)) {
        return false;
    }
    for (char c : text) {
        if (!IsLetter(c) && !IsDigit(c) && c != '_' && c != '-' && c != '.') {
            return false;
        }
    }
    return true;
}

bool ParseDeviceForm(std::string_view text, std::string* devicePath) {
    if (text.find('/') != std::string_view::npos) {
        *devicePath = std::string(text);
        return true;
    }
    if (IsDeviceName(text)) {
        *devicePath = "/dev/" + std::string(text);
        return true;
    }
    return false;
}

}  // namespace

PortForms PlatformPortForms() {
    return ComDevicePathsSupported() ? PortForms::Posix : PortForms::Windows;
}

// Each form sets its one member of a fresh choice; the others keep their defaults.
bool ParsePortChoice(std::string_view text, PortForms forms, PortChoice* choice) {
    PortChoice parsed;
    bool understood = false;
    if (LooksLikeUrl(text)) {
        understood = ParseNetworkAddress(text, &parsed.network);
    } else if (ParseUsbPortForm(text, &parsed.usbSerial, &parsed.usbInterface)) {
        understood = true;
    } else if (ParseComForm(text, forms, &parsed.comNr)) {
        understood = true;
    } else if (forms == PortForms::Posix) {
        understood = ParseDeviceForm(text, &parsed.devicePath);
    }
    if (understood) {
        *choice = parsed;
    }
    return understood;
}

std::string AcceptedPortForms(PortForms forms) {
    std::string accepted =
        "a digit 1 to 8 (COM1 to COM8), or COMn with n from 1 to 255 (write COM12 "
        "for port 12)";
    if (forms == PortForms::Windows) {
        accepted += ", also as \\\\.\\COMn";
    } else {
        accepted += ", a device path (/dev/ttyUSB0) or a device name in /dev (ttyUSB0)";
    }
    return accepted +
           ", a network port rfc2217://HOST:PORT or socket://HOST:PORT, or a USB adapter by "
           "its serial number usb:SERIAL or usb:SERIAL:N (interface N; see tarnix-ports)";
}

SerialPortInfo IdentifyChosenPort(const PortChoice& choice,
                                  const std::vector<SerialPortInfo>& ports) {
    std::string device = choice.devicePath;
    if (!choice.usbSerial.empty()) {
        device = ResolveUsbPort(ports, choice.usbSerial, choice.usbInterface).device;
    } else if (choice.network.protocol != NetworkProtocol::None) {
        return {};
    } else if (device.empty()) {
        device = ComPortDevicePath(choice.comNr);
    }
    if (device.empty()) {
        return {};
    }
    // Windows lists "COM11" for what it opens as "\\.\COM11".
    if (device.rfind("\\\\.\\", 0) == 0) {
        device.erase(0, 4);
    }
    for (const SerialPortInfo& port : ports) {
        if (port.device == device || port.stableName == device) {
            return port;
        }
    }
    SerialPortInfo unlisted;
    unlisted.device = device;
    return unlisted;
}

std::string PortChoiceName(const PortChoice& choice) {
    if (!choice.usbSerial.empty()) {
        std::string name = "usb:";
        name += choice.usbSerial;
        if (choice.usbInterface != UNKNOWN_NUMBER) {
            name += ':';
            name += std::to_string(choice.usbInterface);
        }
        return name;
    }
    if (choice.network.protocol != NetworkProtocol::None) {
        return NetworkAddressName(choice.network);
    }
    if (!choice.devicePath.empty()) {
        return choice.devicePath;
    }
    return "COM" + std::to_string(choice.comNr);
}

}  // namespace tarnix
