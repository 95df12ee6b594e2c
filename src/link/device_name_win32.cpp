// Windows reaches serial ports only as COM1 to COM8; there are no device names to look up.

#include "device_name.h"

std::string CharacterDevicePath(const std::string&) {
    return "";
}
