#include "port_choice.h"

#include <charconv>
#include <cstring>

#include "com_port.h"
#include "device_name.h"

namespace {

bool IsValidComNr(int comNr) {
    return comNr >= MIN_COM_NR && comNr <= MAX_COM_NR;
}

bool ParseComNr(const char* text, PortSyntax syntax, int* comNr) {
    if (syntax == PortSyntax::FirstCharacter) {
        *comNr = text[0] - '0';
        return IsValidComNr(*comNr);
    }
    const char* end = text + strlen(text);
    auto [stop, result] = std::from_chars(text, end, *comNr);
    return text != end && result == std::errc{} && stop == end && IsValidComNr(*comNr);
}

// "ttyUSB0" for /dev/ttyUSB0: only what is no COM number and names a character device there.
bool ChooseDeviceByName(const char* text, PortChoice* choice) {
    std::string path = CharacterDevicePath(text);
    if (path.empty()) {
        return false;
    }
    choice->devicePath = path;
    return true;
}

}  // namespace

bool ParsePortChoice(const char* text, PortSyntax syntax, bool devicePathsAllowed,
                     PortChoice* choice) {
    if (devicePathsAllowed && strchr(text, '/') != nullptr) {
        choice->devicePath = text;
        return true;
    }
    int comNr = 0;
    if (!ParseComNr(text, syntax, &comNr)) {
        return devicePathsAllowed && ChooseDeviceByName(text, choice);
    }
    choice->comNr = comNr;
    choice->devicePath.clear();
    return true;
}

int OpenChosenPort(const PortChoice& choice, long baud) {
    if (!choice.devicePath.empty()) {
        return OpenComDevice(choice.devicePath.c_str(), baud);
    }
    return OpenComPort(choice.comNr, baud);
}

std::string PortChoiceName(const PortChoice& choice) {
    if (!choice.devicePath.empty()) {
        return choice.devicePath;
    }
    return "COM" + std::to_string(choice.comNr);
}
