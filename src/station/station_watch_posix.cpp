// Watching device paths on POSIX: glob(3) for the patterns, lstat and stat for the identity
// of a path, fnmatch(3) for the serial numbers.

#include <fnmatch.h>
#include <glob.h>
#include <sys/stat.h>

#include "station_slots.h"

namespace tarnix {

std::vector<std::string> MatchingPaths(const std::string& pattern) {
    glob_t found{};
    std::vector<std::string> paths;
    if (glob(pattern.c_str(), 0, nullptr, &found) == 0) {
        for (size_t i = 0; i < found.gl_pathc; ++i) {
            paths.emplace_back(found.gl_pathv[i]);
        }
    }
    globfree(&found);
    return paths;
}

// The link's own inode (a by-id link made anew at each plug) and the device it leads to. Only
// a character device is a port: a pattern that also matches a file or a folder leaves those be.
std::string PathIdentity(const std::string& path) {
    struct stat link {};
    struct stat target {};
    if (lstat(path.c_str(), &link) != 0 || stat(path.c_str(), &target) != 0 ||
        !S_ISCHR(target.st_mode)) {
        return "";
    }
    return std::to_string(link.st_ino) + ":" + std::to_string(target.st_ino) + ":" +
           std::to_string(target.st_rdev);
}

// Case does not count: Windows writes the serial numbers in capitals.
bool SerialMatches(const std::string& pattern, const std::string& serialNumber) {
    return !serialNumber.empty() &&
           fnmatch(pattern.c_str(), serialNumber.c_str(), FNM_CASEFOLD) == 0;
}

}  // namespace tarnix
