#pragma once
// Short device names as a port argument: on POSIX "ttyUSB0" stands for /dev/ttyUSB0 when that
// is a character device. One file per platform (device_name_posix.cpp, device_name_win32.cpp).

#include <string>

// "/dev/<name>" when that names a character device, else empty. Windows has no such names:
// always empty there.
std::string CharacterDevicePath(const std::string& name);
