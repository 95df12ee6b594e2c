// Device names under /dev, looked up in the file system.

#include <sys/stat.h>

#include "device_name.h"

std::string CharacterDevicePath(const std::string& name) {
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos) {
        return "";
    }
    std::string path = "/dev/" + name;
    struct stat status {};
    if (stat(path.c_str(), &status) != 0 || !S_ISCHR(status.st_mode)) {
        return "";
    }
    return path;
}
